// The loaded skin: its three tables (sections, bitmaps, JPEG pictures), filled from a skin
// folder ("Options.dat" and the images it names) or from a stored skin of the manager, and
// the look-ups everything that paints uses.
//
// Skin folders come from users, so every value is checked: "\" and "/" both separate, a
// file whose name differs only in case is found (an exact match first), an image that
// cannot be read is skipped like a missing one, bevel ordinals are kept in range, and
// "ParentClassName" chains stop at any cycle and after kMaxParentDepth steps.
#pragma once

#include <memory>
#include <string>

#include "platform/base/inifile.h"
#include "skin/smessages.h"

namespace qv {

class TsSkinManager;

// The state every part of the engine reads; one instance, `SkinData`.
struct TsSkinData {
  TsSkinManager* SkinManager = nullptr;
  // The open "Options.dat" of the current skin; null for a stored skin.
  std::unique_ptr<TMemIniFile> SkinFile;
  // The current skin folder with a trailing "/"; empty for a stored skin.
  std::string SkinPath;
  // A skin is in use; every look-up answers -1 while it is false.
  bool Active = false;
};
extern TsSkinData SkinData;

// How many "ParentClassName" steps a look-up follows at most.
constexpr int kMaxParentDepth = 16;

// The folder's description file, named "Options.dat" in any letter case; "" when absent.
[[nodiscard]] std::string FindSkinOptions(const std::string& skinFolder);
// Where an image value of a skin points: "\" read as "/", relative values taken from
// `skinFolder` and every part found without regard to case; "" when no such file exists.
// A value starting with "/" is absolute, and so is a drive path ("C:\...").
[[nodiscard]] std::string ResolveSkinFile(const std::string& skinFolder, const std::string& value);

// A loaded mask made 24-bit. The conversion copies the pixels into a second bitmap, so it
// can fail (memory); LoadAllMasks then shows "Error of PixelFormat changing" and keeps the
// entry. Replaceable so that the failure can be brought about.
extern void (*ConvertMaskTo24)(TBitmap& bitmap);

void LoadAllMasks();
void LoadAllPatterns();
void LoadAllGeneralData();
void FreeAllMasks();
void FreeAllPatterns();

// A key of a section of "Options.dat", taken from the section's ancestors when the section
// lacks it; `defaultValue` when none has it (or no file is open).
[[nodiscard]] std::string ReadSkinString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue);
[[nodiscard]] int ReadSkinInteger(const std::string& section, const std::string& key,
                                  int defaultValue);

// Index of the section (compared without regard to case; the first wins), -1 when none or
// no skin is active.
[[nodiscard]] int GetSkinIndex(const std::string& sectionName);
// Index of the section's image for the key (upper case), looked for in the section's
// ancestors too; -1 when none.
[[nodiscard]] int GetMaskIndex(int skinIndex, const std::string& sectionName,
                               const std::string& propertyName);
[[nodiscard]] int GetPatternIndex(int skinIndex, const std::string& sectionName,
                                  const std::string& propertyName);
[[nodiscard]] bool IsValidSkinIndex(int index);
[[nodiscard]] bool IsValidImgIndex(int index);

}  // namespace qv
