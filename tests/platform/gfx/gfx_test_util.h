// Helpers shared by the drawing tests: pictures as ASCII art, temporary folders, and running
// Debian's Python (with PIL) as an independent decoder.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "tests/fixtures/run_command.h"
#include "tests/platform/base/temp_dir.h"

namespace qv::test {

// One character per pixel by colour; '?' for a colour the legend does not know.
inline std::vector<std::string> Art(const Bitmap& bmp, const std::map<COLORREF, char>& legend) {
  std::vector<std::string> rows;
  for (int y = 0; y < bmp.Height(); ++y) {
    std::string row;
    for (int x = 0; x < bmp.Width(); ++x) {
      const auto it = legend.find(bmp.Pixel(x, y));
      row += it == legend.end() ? '?' : it->second;
    }
    rows.push_back(row);
  }
  return rows;
}

// The default legend: white '.', black '#', red 'r', green 'g', blue 'b'.
inline std::vector<std::string> Art(const Bitmap& bmp) {
  return Art(bmp,
             {{0xFFFFFF, '.'}, {0x000000, '#'}, {0x0000FF, 'r'}, {0x00FF00, 'g'}, {0xFF0000, 'b'}});
}

inline std::string Joined(const std::vector<std::string>& rows) {
  std::string s = "\n";
  for (const auto& r : rows) s += r + "\n";
  return s;
}

// Pictures compare as joined text, so a failure prints both of them.
inline std::string Picture(const Bitmap& bmp) {
  return Joined(Art(bmp));
}
inline std::string Picture(const std::vector<std::string>& rows) {
  return Joined(rows);
}

using qv::testing::TempDir;

// Runs a Python program under /usr/bin/python3 (the interpreter with Debian's modules);
// returns its exit status and stdout.
inline int RunPython(const TempDir& dir, const std::string& program, std::string* out = nullptr) {
  const std::string script = dir / "script.py";
  if (FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs(program.c_str(), f);
    std::fclose(f);
  }
  const auto result = RunShellCommand("/usr/bin/python3 " + ShellQuote(script) + " 2>&1");
  if (out) *out = result.output;
  return result.status;
}

}  // namespace qv::test
