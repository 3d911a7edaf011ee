// The skin the program carries inside itself, and its built-in bitmaps. Both are compiled
// at build time from the committed skin folder (skins/Ferrane, skins/builtin), so the
// program needs no skin folder when it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "skin/sskinmanager.h"

namespace qv {

// "Ferrane (internal)".
extern const char* const kInternalSkinName;

// Appends the stored skin to a manager's InternalSkins: its sections with every value
// resolved (a stored skin looks nothing up in parent sections), its bitmaps and pictures.
void AddInternalSkin(TsStoredSkins& skins);

// A built-in bitmap ("BORD1".."BORD6", "RCC", "RUC", "RCH", "RUH", "CCC", "CUC", "CCH",
// "CUH") in 24 bits; an empty bitmap for any other name.
[[nodiscard]] Bitmap LoadBuiltinBitmap(std::string_view name);
// The names above, in the order the build found them.
[[nodiscard]] std::vector<std::string> BuiltinBitmapNames();

}  // namespace qv
