// Helpers shared by the CD database tests: scratch folders, whole-file I/O, running a
// peer program, building TOCs and comparing entries.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cddb/cddb_types.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

namespace qv::testing {

using ScratchDir = qv::test::TempDir;

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

// Runs a shell command and returns its standard output; `status` gets the exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  auto result = qv::test::RunShellCommand(command);
  if (status != nullptr) *status = result.status;
  return std::move(result.output);
}

inline TTOCEntry MsfOf(int frames, bool audio = true) {
  return TTOCEntry{static_cast<std::uint8_t>(frames / 4500),
                   static_cast<std::uint8_t>(frames / 75 % 60),
                   static_cast<std::uint8_t>(frames % 75), audio};
}

// A TOC from absolute frame offsets (lead-in included) and the lead-out offset.
inline TCDTOC MakeToc(const std::vector<int>& offsets, int leadout) {
  TCDTOC toc;
  toc.TrackCount = static_cast<std::uint8_t>(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) toc.Tracks[i] = MsfOf(offsets[i]);
  toc.LeadOut = MsfOf(leadout, false);
  return toc;
}

// The texts of two entries agree: artist, title, year, genre, extended data, track titles
// and track notes.
inline void ExpectSameTexts(const TCDInfo& a, const TCDInfo& b) {
  EXPECT_EQ(a.Artist, b.Artist);
  EXPECT_EQ(a.Title, b.Title);
  EXPECT_EQ(a.Year, b.Year);
  EXPECT_EQ(a.Genre, b.Genre);
  EXPECT_EQ(a.ExtD, b.ExtD);
  EXPECT_EQ(a.TrackTitles, b.TrackTitles);
  EXPECT_EQ(a.TrackExt, b.TrackExt);
}

}  // namespace qv::testing
