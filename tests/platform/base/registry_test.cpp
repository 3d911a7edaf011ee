#include "platform/base/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/stringlist.h"
#include "platform/base/text.h"
#include "tests/platform/base/file_size_limit.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

using qv::testing::CountEntries;
using qv::testing::FileSizeLimit;
using qv::testing::ReadFile;
using qv::testing::RunningAsRoot;
using qv::testing::TempDir;
using qv::testing::WriteFile;

const char kPolicies[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

// Points QUORVEL_REGISTRY at a file in a fresh folder for one test.
class TRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_ / "reg/registry.reg";
    ::setenv("QUORVEL_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("QUORVEL_REGISTRY"); }

  TempDir dir_;
  std::string file_;
};

TEST_F(TRegistryTest, KeysAndValuesRoundTripThroughTheFile) {
  {
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.OpenKey(kPolicies, false));
    ASSERT_TRUE(reg.OpenKey(kPolicies, true));  // creates the folder and the file
    EXPECT_EQ(reg.CurrentPath(), kPolicies);
    reg.WriteInteger("NoDriveTypeAutoRun", 0x91);
    reg.WriteString("Text", "a \"quoted\" C:\\path \u00E9");
    reg.WriteBinaryData("Bin", {0x91, 0, 0, 0});
    reg.WriteString("", "default");
  }
  const std::string text = ReadFile(file_);
  EXPECT_NE(
      text.find(
          "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]"),
      std::string::npos);
  EXPECT_NE(text.find("\"NoDriveTypeAutoRun\"=dword:00000091"), std::string::npos);
  EXPECT_NE(text.find("\"Bin\"=hex:91,00,00,00"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\""), std::string::npos);

  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly(UpperCase(kPolicies)));
  EXPECT_EQ(reg.ReadInteger("nodrivetypeautorun"), 0x91);
  EXPECT_EQ(reg.GetDataType("NoDriveTypeAutoRun"), rdInteger);
  EXPECT_EQ(reg.GetDataSize("NoDriveTypeAutoRun"), 4);
  EXPECT_EQ(reg.ReadString("Text"), "a \"quoted\" C:\\path \u00E9");
  EXPECT_EQ(reg.GetDataType("Bin"), rdBinary);
  EXPECT_EQ(reg.ReadBinaryData("Bin"), (std::vector<uint8_t>{0x91, 0, 0, 0}));
  EXPECT_EQ(reg.ReadBinaryData("NoDriveTypeAutoRun"), (std::vector<uint8_t>{0x91, 0, 0, 0}));
  EXPECT_EQ(reg.ReadString(""), "default");
  EXPECT_EQ(reg.GetDataSize("missing"), -1);
  EXPECT_EQ(reg.GetDataType("missing"), rdUnknown);
  EXPECT_EQ(reg.ReadString("missing"), "");
  TStringList names;
  reg.GetValueNames(names);
  EXPECT_EQ(names.CommaText(), "NoDriveTypeAutoRun,Text,Bin,");
  try {
    (void)reg.ReadInteger("missing");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'missing'");
  }
  try {
    (void)reg.ReadInteger("Bin");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Bin'");
  }
  EXPECT_THROW((void)reg.ReadString("Bin"), ERegistryException);
  // Opened read-only: writes are refused and the file is untouched.
  EXPECT_THROW(reg.WriteInteger("NoDriveTypeAutoRun", 0), ERegistryException);
  EXPECT_EQ(ReadFile(file_), text);
}

TEST_F(TRegistryTest, ReadsAHandWrittenFileAndKeepsWhatItCannotRead) {
  ::mkdir((dir_ / "reg").c_str(), 0755);
  WriteFile(file_,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\X]\r\n"
            "\"Long\"=hex:01,02,\\\r\n  03,04\r\n"
            "\"Bad\"=dword:xyz\r\n"
            "\"Big\"=dword:123456789\r\n"
            "this is not a value\r\n"
            "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
            "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
            "\"Ok\"=dword:FFFFFFFF\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\X", false));
  EXPECT_EQ(reg.ReadBinaryData("Long"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(reg.ValueExists("Bad"));
  EXPECT_FALSE(reg.ValueExists("Big"));
  EXPECT_EQ(reg.GetDataType("Multi"), rdUnknown);
  EXPECT_EQ(reg.GetDataType("Exp"), rdExpandString);
  EXPECT_EQ(reg.ReadString("Exp"), "%A%");
  EXPECT_EQ(reg.ReadInteger("Ok"), -1);
  reg.WriteInteger("New", 5);
  const std::string text = ReadFile(file_);
  EXPECT_NE(text.find("\"Bad\"=dword:xyz"), std::string::npos);
  EXPECT_NE(text.find("this is not a value"), std::string::npos);
  EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,00,00,00,00"), std::string::npos);
  EXPECT_NE(text.find("[-HKEY_CURRENT_USER\\Software\\Gone]"), std::string::npos);
  EXPECT_NE(text.find("\"New\"=dword:00000005"), std::string::npos);
  EXPECT_EQ(reg.ReadBinaryData("Long"), (std::vector<uint8_t>{1, 2, 3, 4}));
}

// The file is rewritten at every write: a string value whose bytes cannot stand as quoted
// UTF-8 text keeps its bytes, and every other value reads as before.
TEST_F(TRegistryTest, RewritesReadBackAsTheyWereWritten) {
  ::mkdir((dir_ / "reg").c_str(), 0755);
  WriteFile(file_,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\X]\n"
            "\"Latin\"=hex(1):e9,74,e9,00\n"
            "\"Lines\"=hex(1):61,0d,0a,62\n"
            "\"Text\"=\"caf\xC3\xA9\"\n");
  const auto read = [] {
    TRegistry reg;
    EXPECT_TRUE(reg.OpenKey("Software\\X", false));
    return std::vector<std::string>{reg.ReadString("Latin"), reg.ReadString("Lines"),
                                    reg.ReadString("Text")};
  };
  const std::vector<std::string> before = read();
  EXPECT_EQ(before,
            (std::vector<std::string>{std::string("\xE9t\xE9\0", 4), "a\r\nb", "caf\xC3\xA9"}));
  for (int round = 0; round < 2; ++round) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\X", false));
    reg.WriteInteger("Other", round);
    EXPECT_EQ(read(), before) << ReadFile(file_);
  }
  WriteFile(file_, ReadFile(file_));
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\X", false));
  reg.WriteString("Written", "\xFF\xFEraw");
  EXPECT_EQ(reg.ReadString("Written"), "\xFF\xFEraw");
  EXPECT_EQ(read(), before) << ReadFile(file_);
}

TEST_F(TRegistryTest, TheFileSurvivesAFailedWrite) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kPolicies, true));
  reg.WriteInteger("NoDriveTypeAutoRun", 0x91);
  const std::string before = ReadFile(file_);

  // A write that cannot complete (the file-size limit stands in for a full disc).
  {
    FileSizeLimit limit(64);
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(reg.WriteString("Long", std::string(500, 'x')), ERegistryException);
    // Deleting what is there reports the failed write as nothing deleted.
    EXPECT_FALSE(reg.DeleteValue("NoDriveTypeAutoRun"));
    EXPECT_FALSE(reg.DeleteKey(kPolicies));
  }
  EXPECT_EQ(ReadFile(file_), before);
  EXPECT_EQ(CountEntries(dir_ / "reg"), 2);  // the file and its lock, no temporary
  EXPECT_EQ(reg.ReadInteger("NoDriveTypeAutoRun"), 0x91);

  // Values the file format cannot hold are refused before anything is written.
  EXPECT_THROW(reg.WriteString("Lines", "a\nb"), ERegistryException);
  EXPECT_EQ(ReadFile(file_), before);

  if (!RunningAsRoot()) {
    ASSERT_EQ(::chmod((dir_ / "reg").c_str(), 0500), 0);
    EXPECT_THROW(reg.WriteInteger("NoDriveTypeAutoRun", 0), ERegistryException);
    ASSERT_EQ(::chmod((dir_ / "reg").c_str(), 0700), 0);
    EXPECT_EQ(ReadFile(file_), before);
  }
}

}  // namespace
}  // namespace qv
