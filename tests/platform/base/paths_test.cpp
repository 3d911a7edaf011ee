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

TEST(PathsTest, NamePartsAndExpansion) {
  const struct {
    const char *path, *dir, *name, *ext;
  } cases[] = {
      {"/a/b/c.mp3", "/a/b/", "c.mp3", ".mp3"},
      {"C:\\Music\\x.y\\track", "C:/Music/x.y/", "track", ""},
      {"a\\b/c.tar.gz", "a/b/", "c.tar.gz", ".gz"},
      {"plain", "", "plain", ""},
      {".hidden", "", ".hidden", ".hidden"},
      {"dir/", "dir/", "", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFilePath(c.path), c.dir);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
  }
  EXPECT_EQ(ChangeFileExt("a/b.wav", ".mp3"), "a/b.mp3");
  EXPECT_EQ(ChangeFileExt("a.d/b", ".mp3"), "a.d/b.mp3");
  EXPECT_EQ(ChangeFileExt("a/b.wav", ""), "a/b");
  EXPECT_EQ(IncludeTrailingPathDelimiter("a\\b"), "a/b/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("a\\"), "a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("a//"), "a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(NormalizePath(".\\CDDB\\"), "./CDDB/");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/../.."), "/");
  EXPECT_EQ(ExpandFileName("/a\\b\\"), "/a/b/");
  EXPECT_EQ(ExpandFileName("x"), std::string(cwd) + "/x");
  EXPECT_EQ(ExpandFileName(".\\CDDB\\"), std::string(cwd) + "/CDDB/");
}

TEST(PathsTest, FilesAndFolders) {
  TempDir dir;
  EXPECT_TRUE(ForceDirectories(dir / "a\\b/c"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_FALSE(FileExists(dir / "a/b/c"));
  WriteFile(dir / "a/f", "1");
  EXPECT_TRUE(FileExists(dir / "a\\f"));
  EXPECT_FALSE(ForceDirectories(dir / "a/f/sub"));  // a file is in the way
  WriteFile(dir / "a/g", "2");
  EXPECT_FALSE(RenameFile(dir / "a/f", dir / "a/g"));  // never over an existing file
  EXPECT_EQ(ReadFile(dir / "a/g"), "2");
  EXPECT_TRUE(RenameFile(dir / "a/f", dir / "a/h"));
  EXPECT_FALSE(FileExists(dir / "a/f"));
  EXPECT_TRUE(DeleteFile(dir / "a/h"));
  EXPECT_FALSE(DeleteFile(dir / "a/h"));
  EXPECT_FALSE(DeleteFile(dir / "a/b"));  // folders are not files
}

TEST(PathsTest, FindFileNoCasePrefersTheExactName) {
  TempDir dir;
  WriteFile(dir / "Cat.idx", "mixed");
  WriteFile(dir / "CAT.IDX", "upper");
  EXPECT_EQ(FindFileNoCase(dir.path(), "Cat.idx"), dir / "Cat.idx");
  EXPECT_EQ(FindFileNoCase(dir.path(), "CAT.IDX"), dir / "CAT.IDX");
  // No exact match: the first case-insensitive one in byte order.
  EXPECT_EQ(FindFileNoCase(dir.path() + "/", "cat.idx"), dir / "CAT.IDX");
  EXPECT_EQ(FindFileNoCase(dir.path(), "dog.idx"), "");
  EXPECT_EQ(FindFileNoCase(dir / "missing", "x"), "");
  EXPECT_EQ(FindFileNoCase(dir.path(), ""), "");
  EXPECT_EQ(FindFileNoCase(dir.path(), ".."), "");
}

TEST(PathsTest, ExecutableName) {
  const std::string exe = ExeName();
  EXPECT_EQ(ExtractFileName(exe), "test_base");
  EXPECT_EQ(ExeDir() + "test_base", exe);
  EXPECT_EQ(ExeDir().back(), '/');
}

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
