#include "platform/base/inifile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/base/stringlist.h"
#include "tests/platform/base/list_items.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

using qv::testing::CountEntries;
using qv::testing::Items;
using qv::testing::ReadFile;
using qv::testing::TempDir;
using qv::testing::WriteFile;

const char kSample[] =
    "stray=before any section\r\n"
    "; a comment\r\n"
    "[Proxy]\r\n"
    "  Host  =  proxy.example  \r\n"
    "Port=$1F90\r\n"
    "port=9999\r\n"
    "Hex=0x10\r\n"
    "Bad=12abc\r\n"
    "Flag=1\r\n"
    "Off=0\r\n"
    "Word=yes\r\n"
    "garbage line without equals\r\n"
    "=no key\r\n"
    ";Commented=1\r\n"
    "[CONF]\r\n"
    "Zentha=C:\\Suite\\\r\n"
    "Empty=\r\n"
    "[broken\r\n"
    "Hidden=1\r\n"
    "[ proxy ]\r\n"
    "Host=second\r\n"
    "Extra=from duplicate\r\n"
    "[LANGUAGE]\r\n"
    "RIP Track N\xB0=Track\r\n";

// Both classes obey the same look-up rules.
template <class Ini>
class IniLookupTest : public ::testing::Test {};
using IniTypes = ::testing::Types<TMemIniFile, TIniFile>;
TYPED_TEST_SUITE(IniLookupTest, IniTypes);

TYPED_TEST(IniLookupTest, LookupRules) {
  TempDir dir;
  const std::string name = dir / "Quorvel.ini";
  WriteFile(name, kSample);
  TypeParam ini(name);
  const struct {
    const char *section, *key, *expected;
  } strings[] = {
      {"PROXY", "host", "proxy.example"},  // case ignored, value trimmed
      {"proxy", "PORT", "$1F90"},          // first key wins
      {"CONF", "Zentha", "C:\\Suite\\"},
      {"CONF", "Empty", ""},
      {"CONF", "Missing", "default"},
      {"Nowhere", "Host", "default"},
      {"Proxy", "Extra", "default"},    // the first section of a name wins
      {"broken", "Hidden", "default"},  // keys under a malformed header are ignored
      {"", "stray", "default"},         // and so are keys before any section
      {"Proxy", "Commented", "default"},
      {"Proxy", "garbage line without equals", "default"},
      {"LANGUAGE", "RIP Track N\u00B0", "Track"},  // Windows-1252 file read as such
  };
  for (const auto& c : strings) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), c.expected);
  }
  const struct {
    const char* key;
    int32_t expected;
  } ints[] = {{"Port", 8080}, {"Hex", 16}, {"Bad", -1}, {"Word", -1}, {"Host", -1}, {"None", -1}};
  for (const auto& c : ints) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(ini.ReadInteger("Proxy", c.key, -1), c.expected);
  }
  EXPECT_TRUE(ini.ReadBool("Proxy", "Flag", false));
  EXPECT_FALSE(ini.ReadBool("Proxy", "Off", true));
  EXPECT_TRUE(ini.ReadBool("Proxy", "Word", true));  // not a number: the default
  EXPECT_FALSE(ini.ReadBool("Proxy", "Word", false));

  EXPECT_TRUE(ini.SectionExists("conf"));
  EXPECT_FALSE(ini.SectionExists("broken"));
  EXPECT_TRUE(ini.ValueExists("CONF", "empty"));
  EXPECT_FALSE(ini.ValueExists("CONF", "nothing"));

  TStringList list;
  ini.ReadSections(list);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"Proxy", "CONF", "LANGUAGE"}));
  ini.ReadSection("proxy", list);
  EXPECT_EQ(Items(list),
            (std::vector<std::string>{"Host", "Port", "Hex", "Bad", "Flag", "Off", "Word"}));
  ini.ReadSectionValues("CONF", list);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"Zentha=C:\\Suite\\", "Empty="}));
  EXPECT_EQ(list.Values("Zentha"), "C:\\Suite\\");
}

TYPED_TEST(IniLookupTest, MissingUnreadableAndHostileFilesGiveDefaults) {
  TempDir dir;
  {
    TypeParam ini(dir / "missing.ini");
    EXPECT_EQ(ini.ReadString("a", "b", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("a", "b", 5), 5);
  }
  {
    TypeParam ini(dir.path());  // a folder
    EXPECT_EQ(ini.ReadString("a", "b", "d"), "d");
  }
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"empty", ""},
      {"binary", std::string("\0\xFF[\x01]\n\0=\0\n[", 12)},
      {"brackets", "[]\n[[x]]\n[a]]\n=\n==\n[a\n"},
      {"invalid utf8", "[a]\nb=\xC3\x28\xFF\n"},
      {"long", "[a]\nb=" + std::string(1 << 20, 'v') + "\n"},
      {"no newline", "[a]\nb=1"},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    WriteFile(dir / "f.ini", f.bytes);
    TypeParam ini(dir / "f.ini");
    TStringList list;
    ini.ReadSections(list);
    (void)ini.ReadString("a", "b", "");
    (void)ini.ReadInteger("a", "b", 0);
  }
  WriteFile(dir / "f.ini", "[a]\nb=\xC3\x28\xFF\n");
  EXPECT_EQ(TypeParam(dir / "f.ini").ReadString("a", "b", ""), "\u00C3(\u00FF");
  WriteFile(dir / "f.ini", "[a]\nb=" + std::string(1 << 20, 'v') + "\n");
  EXPECT_EQ(TypeParam(dir / "f.ini").ReadString("a", "b", "").size(), size_t(1) << 20);
  WriteFile(dir / "f.ini", "[a]\nb=1");
  EXPECT_EQ(TypeParam(dir / "f.ini").ReadInteger("a", "b", 0), 1);
}

TYPED_TEST(IniLookupTest, WritesKeepCommentsAndUnknownLines) {
  TempDir dir;
  const std::string name = dir / "w.ini";
  WriteFile(name, "; top\n[A]\nx=1\n; note\n\n[B]\ny=2\n");
  {
    TypeParam ini(name);
    ini.WriteString("a", "X", "10");
    ini.WriteInteger("A", "z", -3);
    ini.WriteBool("New", "flag", true);
    ini.DeleteKey("B", "y");
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadFile(name), "; top\n[A]\nx=10\nz=-3\n; note\n\n[B]\n[New]\nflag=1\n");
  {
    TypeParam ini(name);
    EXPECT_EQ(ini.ReadInteger("A", "x", 0), 10);
    ini.EraseSection("a");
    ini.UpdateFile();
    EXPECT_FALSE(ini.SectionExists("A"));
  }
  EXPECT_EQ(ReadFile(name), "; top\n[B]\n[New]\nflag=1\n");
  TypeParam ini(name);
  EXPECT_THROW(ini.WriteString("A", "k", "two\nlines"), EIniFileException);
  EXPECT_THROW(ini.WriteString("A]", "k", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("A", "k=v", "v"), EIniFileException);
}

// A rewrite reads back as what was written: a byte-order mark read is written again, so a
// second one stays part of the first line instead of being taken for the mark next time.
TEST(TIniFileTest, ARewriteKeepsTheByteOrderMark) {
  TempDir dir;
  const std::string name = dir / "bom.ini";
  const std::string bom = "\xEF\xBB\xBF";
  WriteFile(name, bom + bom + "[S]\nk=v\n[T]\nu=w\n");
  for (int round = 0; round < 2; ++round) {
    TMemIniFile ini(name);
    EXPECT_FALSE(ini.SectionExists("S"));  // the first line is "<mark>[S]", no header
    EXPECT_EQ(ini.ReadString("S", "k", "none"), "none");
    EXPECT_EQ(ini.ReadString("T", "u", "none"), "w");
    ini.WriteInteger("T", "round", round);
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadFile(name), bom + bom + "[S]\nk=v\n[T]\nu=w\nround=1\n");
  // Without a mark, none is added.
  WriteFile(name, "[T]\nu=w\n");
  TIniFile plain(name);
  plain.WriteString("T", "x", "y");
  EXPECT_EQ(ReadFile(name), "[T]\nu=w\nx=y\n");
}

// Why a file that is there reads as empty; nothing for one that is missing or was read.
TEST(TIniFileTest, ReadErrorSaysWhyAFileReadAsEmpty) {
  TempDir dir;
  ::mkdir((dir / "folder.ini").c_str(), 0755);
  EXPECT_NE(TMemIniFile(dir / "folder.ini").ReadError(), "");
  EXPECT_EQ(TMemIniFile(dir / "missing.ini").ReadError(), "");
  WriteFile(dir / "ok.ini", "[a]\nb=c\n");
  EXPECT_EQ(TIniFile(dir / "ok.ini").ReadError(), "");
}

TEST(TIniFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
  TempDir dir;
  const std::string name = dir / "huge.ini";
  // Too large to be a configuration file: it reads as empty, so a write would lose it.
  {
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 17 << 20), 0);
    ::close(fd);
  }
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadString("a", "b", "d"), "d");
  EXPECT_NE(ini.ReadError().find("File too large"), std::string::npos) << ini.ReadError();
  EXPECT_THROW(ini.WriteString("a", "b", "c"), EIniFileException);
  TMemIniFile mem(name);
  mem.WriteString("a", "b", "c");
  EXPECT_THROW(mem.UpdateFile(), EIniFileException);
  struct stat st {};
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 17 << 20);
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

}  // namespace
}  // namespace qv
