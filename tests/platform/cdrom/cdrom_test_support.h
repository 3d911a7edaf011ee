// Helpers for the CD layer's tests: the shared temporary folder, running a command and capturing
// its output, reading a file's bytes.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/run_command.h"
#include "tests/platform/base/temp_dir.h"

namespace qv::testing {

struct CommandResult {
  int ExitCode = -1;
  std::string Output;  // stdout only
};

inline CommandResult RunCommand(const std::string& command) {
  auto shell = qv::test::RunShellCommand(command);
  return {shell.status, std::move(shell.output)};
}

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ToolPath(const std::string& name) {
  return std::string(QV_BINARY_DIR) + "/bin/" + name;
}

}  // namespace qv::testing
