// xmcd entry text <-> `TCDInfo`: the text form in which entries travel from a CDDB server
// and are stored by the local database. `TLocalCDDB::GenerateEntry` and `ParseEntry` are
// built on these; the protocol code and tests use them directly.
#pragma once

#include <string>
#include <string_view>

#include "cddb/cddb_types.h"

namespace qv {

// Key lines never exceed this many bytes; longer values continue on lines with the same key,
// cut between characters.
inline constexpr std::size_t kXmcdLineLimit = 255;

// `\` -> `\\`, CR LF / CR / LF -> `\n`, TAB -> `\t`.
[[nodiscard]] std::string XmcdEscape(std::string_view text);
// One left-to-right pass: `\\` -> `\`, `\n` -> LF, `\t` -> TAB; any other `\x` is kept as is.
[[nodiscard]] std::string XmcdUnescape(std::string_view text);

// Writes the entry for `info` from the first slot of `lines` on. 0, or -1 when it needs
// more lines than the array holds (nothing is written past it).
[[nodiscard]] int XmcdGenerate(const TCDInfo& info, std::string_view clientText,
                               TEntryArray& lines);

// Reads the lines up to the first empty one into `info`, keeping `info.Category`. The lines
// may hold raw bytes: each value, joined from its lines, is taken as UTF-8 when it is valid
// UTF-8 and as Windows-1252 otherwise. 0, or -4 when a required part is missing or a number
// in it is unusable.
[[nodiscard]] int XmcdParse(TCDInfo& info, const TEntryArray& lines);

// Splits stored or received text into entry lines at CR, LF or CR LF. Empty lines are
// dropped (an empty slot would end the entry early); lines past the array are dropped.
void XmcdSplitText(std::string_view text, TEntryArray& lines);
// The lines up to the first empty one, each followed by LF.
[[nodiscard]] std::string XmcdJoinLines(const TEntryArray& lines);

}  // namespace qv
