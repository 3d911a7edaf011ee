#include "skin/sutils.h"

#include <cctype>
#include <cmath>

#include "platform/base/paths.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/dialogs.h"
#include "skin/smessages.h"

namespace qv {

void MakeMessage(UINT msg, WPARAM wParam, LPARAM lParam, TMessage& message, LRESULT result) {
  message.Msg = msg;
  message.WParam = wParam;
  message.LParam = lParam;
  message.Result = result;
}

int MixPercent(int a, int b) {
  return int(std::nearbyint(b + (100.0 - b) * a / 100.0));
}

namespace {

bool IsDelim(char c, TCharSet delims) {
  return delims.find(c) != TCharSet::npos;
}

// Calls `f(start, length)` for each word until it returns false.
template <class F>
void ForEachWord(std::string_view text, TCharSet delims, F&& f) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsDelim(text[i], delims)) ++i;
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && !IsDelim(text[i], delims)) ++i;
    if (!f(start, i - start)) return;
  }
}

}  // namespace

int WordCount(std::string_view text, TCharSet delims) {
  int n = 0;
  ForEachWord(text, delims, [&](std::size_t, std::size_t) { return ++n, true; });
  return n;
}

int WordPosition(int n, std::string_view text, TCharSet delims) {
  int seen = 0, position = 0;
  ForEachWord(text, delims, [&](std::size_t start, std::size_t) {
    if (++seen < n) return true;
    position = int(start) + 1;
    return false;
  });
  return n >= 1 ? position : 0;
}

std::string ExtractWord(int n, std::string_view text, TCharSet delims) {
  int seen = 0;
  std::string word;
  if (n < 1) return word;
  ForEachWord(text, delims, [&](std::size_t start, std::size_t length) {
    if (++seen < n) return true;
    word = text.substr(start, length);
    return false;
  });
  return word;
}

bool IsWordPresent(std::string_view word, std::string_view text, TCharSet delims) {
  bool found = false;
  ForEachWord(text, delims, [&](std::size_t start, std::size_t length) {
    found = text.substr(start, length) == word;
    return !found;
  });
  return found;
}

std::string DelChars(std::string_view text, char c) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text)
    if (ch != c) out += ch;
  return out;
}

void ColorToRGBBytes(TColor color, std::uint8_t& b, std::uint8_t& g, std::uint8_t& r) {
  const auto v = static_cast<std::uint32_t>(color);
  b = std::uint8_t(v >> 16);
  g = std::uint8_t(v >> 8);
  r = std::uint8_t(v);
}

void ShowWarning(const std::string& text) {
  (void)MessageBox(text, "Warning", MB_OK | MB_ICONWARNING);
}

void ShowWarningText(const std::string& text) {
  ShowWarning(text);
}

void ShowError(const std::string& text) {
  (void)MessageBox(text, "Error", MB_OK | MB_ICONERROR);
}

std::string GetAppPath() {
  return ExeDir();
}

bool DirExists(const std::string& path) {
  return !path.empty() && DirectoryExists(path);
}

std::string NormalDir(std::string_view path) {
  if (path.empty()) return std::string();
  std::string out(path);
  if (IsPathDelimiter(out.back())) {
    out.back() = '/';
  } else if (out.size() == 1 && std::isalpha(static_cast<unsigned char>(out[0]))) {
    out += ":/";
  } else {
    out += '/';
  }
  return out;
}

}  // namespace qv
