// Shared helpers of the application's tests: scratch folders, files, commands.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

namespace qv::test {

using ScratchDir = TempDir;

// Points XDG_RUNTIME_DIR (the single-instance lock's folder) at `Folder` for a scope, then
// back at the test program's own (tests/fixtures/private_runtime.cpp), never at none: that
// would be the user's.
class RuntimeFolderScope {
 public:
  void Set(const std::string& Folder) {
    if (const char* now = std::getenv("XDG_RUNTIME_DIR")) saved_ = now;
    ::setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
  }
  ~RuntimeFolderScope() {
    if (!saved_.empty()) ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};

inline void WriteText(const std::string& Path, const std::string& Text) {
  std::ofstream out(Path, std::ios::binary);
  out << Text;
}

inline std::string ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  std::stringstream s(Text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command; stdout and stderr together.
inline CommandResult RunCommand(const std::string& Command) {
  auto shell = RunShellCommand(Command + " 2>&1");
  return {shell.status, std::move(shell.output)};
}

inline std::string Quote(const std::string& S) {
  return ShellQuote(S);
}

// Files below `Root`, relative, sorted.
inline std::vector<std::string> FilesBelow(const std::string& Root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(Root, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) files.push_back(std::filesystem::relative(it->path(), Root));
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace qv::test
