// The skin engine's small utilities: message records, choices and arithmetic, word
// splitting, warnings and errors, and folder names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/text.h"
#include "platform/gfx/color.h"
#include "platform/gfx/geometry.h"
#include "platform/msg/messages.h"

namespace qv {

class TControl;

// Delimiter sets for the word helpers: any character of the set separates words.
using TCharSet = std::string_view;

void MakeMessage(UINT msg, WPARAM wParam, LPARAM lParam, TMessage& message, LRESULT result = 0);

[[nodiscard]] inline std::string ChooseString(bool choice, std::string a, std::string b) {
  return choice ? std::move(a) : std::move(b);
}
[[nodiscard]] inline void* ChoosePointer(bool choice, void* a, void* b) {
  return choice ? a : b;
}
[[nodiscard]] inline int ChooseInteger(bool choice, int a, int b) {
  return choice ? a : b;
}
[[nodiscard]] inline bool Between(int value, int low, int high) {
  return low <= value && value <= high;
}
// b plus a percent of what b leaves: Round(b + (100 - b) * a / 100), halves to even.
[[nodiscard]] int MixPercent(int a, int b);
[[nodiscard]] inline int MaxOf(int a, int b) {
  return a > b ? a : b;
}
[[nodiscard]] inline int MinOf(int a, int b) {
  return a < b ? a : b;
}
[[nodiscard]] inline int WidthOf(const Rect& r) {
  return r.Right - r.Left;
}
[[nodiscard]] inline int HeightOf(const Rect& r) {
  return r.Bottom - r.Top;
}

// Words are runs of characters not in `delims`; positions are 1-based.
[[nodiscard]] int WordCount(std::string_view text, TCharSet delims);
// Position of the n-th word, 0 when there are fewer.
[[nodiscard]] int WordPosition(int n, std::string_view text, TCharSet delims);
// The n-th word, empty when there is none.
[[nodiscard]] std::string ExtractWord(int n, std::string_view text, TCharSet delims);
[[nodiscard]] bool IsWordPresent(std::string_view word, std::string_view text, TCharSet delims);
[[nodiscard]] std::string DelChars(std::string_view text, char c);

// The blue, green and red bytes of a colour (its third, second and lowest byte).
void ColorToRGBBytes(TColor color, std::uint8_t& b, std::uint8_t& g, std::uint8_t& r);

// Message boxes of the warning and the error type with an OK button (one line on stderr
// where nobody can answer, see platform/classlib/dialogs.h).
void ShowWarning(const std::string& text);
void ShowWarningText(const std::string& text);
void ShowError(const std::string& text);

// The program's folder with a trailing "/".
[[nodiscard]] std::string GetAppPath();
[[nodiscard]] bool DirExists(const std::string& path);
// Folder names end in "/": empty stays empty; a final "\" or "/" becomes "/"; a single
// letter is a drive and gets ":/"; anything else gets "/" appended.
[[nodiscard]] std::string NormalDir(std::string_view path);

}  // namespace qv
