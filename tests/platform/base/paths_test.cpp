#include "platform/base/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/base/text.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

using qv::testing::ReadFile;
using qv::testing::TempDir;
using qv::testing::WriteFile;

TEST(PathsTest, SafePathComponentNeverEscapesItsFolder) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", "_"},
      {".", "_"},
      {"..", "__"},
      {"...", "..."},
      {"/", "_"},
      {"\\", "_"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"..\\..\\x", ".._.._x"},
      {std::string("a\0b", 3), "a_b"},
      {"tab\there\nnl\x7F", "tab_here_nl_"},
      {"c1\u0085x", "c1_x"},
      {"AC/DC: Back in Black?", "AC_DC: Back in Black?"},
      {"Bj\xF6rk", "Bj\u00F6rk"},  // Windows-1252 input comes out as UTF-8
      {"caf\u00E9 \u266B", "caf\u00E9 \u266B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(SafePathComponent(c.in), c.out);
  }
  // Over-long names are cut at a character boundary to what a file system takes.
  std::string long_name;
  for (int i = 0; i < 200; ++i) long_name += "\u00E9";  // 400 bytes
  const std::string cut = SafePathComponent(long_name);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_TRUE(IsValidUtf8(cut));
  // Every single byte gives a usable component.
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string s = SafePathComponent(std::string(1, char(b)));
    EXPECT_FALSE(s.empty());
    EXPECT_EQ(s.find_first_of(std::string("/\\\0", 3)), std::string::npos);
    EXPECT_NE(s, ".");
    EXPECT_NE(s, "..");
    for (const char c : s) EXPECT_GE((unsigned char)c, 0x20);
  }
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(PathsTest, ListSubFoldersGivesFoldersOnlyInCaseBlindOrder) {
  qv::testing::TempDir dir;
  for (const char* name : {"beta", "Alpha", ".hidden", "alpha", "Gamma"})
    ASSERT_TRUE(ForceDirectories(dir / name));
  qv::testing::WriteFile(dir / "file.txt", "x");
  ASSERT_EQ(::symlink((dir / "Gamma").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "file.txt").c_str(), (dir / "filelink").c_str()), 0);
  // Hidden folders are listed: leaving them out is the caller's rule.
  EXPECT_EQ(ListSubFolders(dir.path()),
            (std::vector<std::string>{".hidden", "Alpha", "alpha", "beta", "Gamma", "link"}));
  EXPECT_EQ(ListSubFolders(dir.path() + "\\"), ListSubFolders(dir.path()));
  EXPECT_TRUE(ListSubFolders(dir / "missing").empty());
}

}  // namespace
}  // namespace qv
