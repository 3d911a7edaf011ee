// Helpers for tests that compare with command-line tools: a private temporary folder,
// file writing and running a command to capture its output.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

namespace qv::test {

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), std::streamsize(data.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Runs a shell command and returns its standard output; a failing command fails the test.
inline std::string RunCommand(const std::string& command) {
  const auto result = qv::test::RunShellCommand(command);
  EXPECT_EQ(result.status, 0) << command;
  return result.output;
}

inline std::string RandomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng() & 0xFF);
  return s;
}

inline std::string Hex(const unsigned char* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

template <typename Array>
std::string Hex(const Array& a) {
  return Hex(a.data(), a.size());
}

// Sizes around block boundaries, the 16 KiB step of the large update, and 1 MiB.
inline const std::vector<size_t>& DigestSizes() {
  static const std::vector<size_t> sizes = {
      0, 1, 2, 3, 55, 56, 57, 63, 64, 65, 100, 119, 120, 121, 16383, 16384, 16385, 65537, 1 << 20};
  return sizes;
}

}  // namespace qv::test
