#include "platform/base/streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "tests/platform/base/file_size_limit.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

using qv::testing::CountEntries;
using qv::testing::FileSizeLimit;
using qv::testing::ReadFile;
using qv::testing::TempDir;
using qv::testing::WriteFile;

TEST(TFileStreamTest, PositionsPastFourGiBInASparseFile) {
  TempDir dir;
  const std::string name = dir / "big.bin";
  constexpr int64_t kFar = (int64_t(5) << 30) + 123;  // 5 GiB + 123
  {
    TFileStream f(name, fmCreate);
    EXPECT_EQ(f.Seek(kFar, soFromBeginning), kFar);
    f.WriteBuffer("tail", 4);
    EXPECT_EQ(f.Position(), kFar + 4);
    EXPECT_EQ(f.Size(), kFar + 4);
  }
  TFileStream f(name, fmOpenRead);
  EXPECT_EQ(f.Size(), kFar + 4);
  EXPECT_EQ(f.Seek(-4, soFromEnd), kFar);
  char buf[8] = {};
  f.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  EXPECT_EQ(f.Read(buf, 8), 0);  // at the end
  // The gap reads as zeros, even just past 4 GiB.
  f.SetPosition((int64_t(1) << 32) + 1);
  f.ReadBuffer(buf, 2);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(f.Seek(-2, soFromCurrent), (int64_t(1) << 32) + 1);
  EXPECT_THROW(f.Seek(-1, soFromBeginning), EStreamError);
}

TEST(TFileStreamTest, OpenModesAndTheirErrors) {
  TempDir dir;
  const std::string name = dir / "a.txt";
  try {
    TFileStream f(name, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + name + "\". ", 0), 0u)
        << e.what();
  }
  try {
    TFileStream f(dir / "no/such/folder.txt", fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file \""), std::string::npos);
  }
  EXPECT_THROW(TFileStream(dir.path(), fmOpenRead), EFOpenError);

  {
    TFileStream f(name, fmCreate | fmShareExclusive);
    f.WriteBuffer("hello world");
  }
  {
    TFileStream f(name, fmOpenReadWrite | fmShareDenyNone);
    f.SetPosition(6);
    f.WriteBuffer("there");
    f.SetSize(8);
    EXPECT_EQ(f.Position(), 8);
  }
  EXPECT_EQ(ReadFile(name), "hello th");
  {
    TFileStream f(name, fmOpenRead);
    // Writing to a read-only stream moves nothing and says so.
    EXPECT_THROW(f.WriteBuffer("x"), EWriteError);
    char buf[32];
    EXPECT_THROW(f.ReadBuffer(buf, 9), EReadError);  // only 8 bytes there
  }
  {
    TFileStream f(name, fmCreate);  // truncates
  }
  EXPECT_EQ(ReadFile(name), "");
}

TEST(TFileStreamTest, NewFilesGet0666LessTheUmask) {
  TempDir dir;
  const mode_t old = ::umask(027);
  { TFileStream f(dir / "m", fmCreate); }
  WriteFileAtomically(dir / "n", std::string_view("x"));
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "m").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(::stat((dir / "n").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TMemoryStreamTest, GrowsReadsSeeksAndCopies) {
  TMemoryStream m;
  m.WriteBuffer("abcdef");
  EXPECT_EQ(m.Size(), 6);
  m.SetPosition(10);  // past the end: the gap becomes zeros on write
  m.WriteBuffer("Z");
  ASSERT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Memory()[7], 0);
  EXPECT_EQ(m.Memory()[10], 'Z');
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  m.SetPosition(0);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_THROW(m.Seek(-4, soFromEnd), EStreamError);

  TMemoryStream copy;
  copy.WriteBuffer("12");
  m.SetPosition(1);
  EXPECT_EQ(copy.CopyFrom(m, 2), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy.Memory()), 4), "12bc");
  // Count 0 copies the whole source from its start.
  copy.Clear();
  EXPECT_EQ(copy.CopyFrom(m, 0), 3);
  EXPECT_EQ(copy.Size(), 3);
  // A short source throws and says so.
  m.SetPosition(2);
  EXPECT_THROW(copy.CopyFrom(m, 5), EReadError);
}

TEST(TMemoryStreamTest, FileRoundTrip) {
  TempDir dir;
  TMemoryStream m;
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
  m.WriteBuffer(bytes);
  m.SaveToFile(dir / "m.bin");
  TMemoryStream n;
  n.LoadFromFile(dir / "m.bin");
  EXPECT_EQ(n.Position(), 0);
  ASSERT_EQ(n.Size(), int64_t(bytes.size()));
  EXPECT_EQ(std::memcmp(n.Memory(), bytes.data(), bytes.size()), 0);
  EXPECT_THROW(n.LoadFromFile(dir / "missing"), EFOpenError);
}

TEST(ReplaceFileSafelyTest, AWriterThatThrowsLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string name = dir / "cfg.ini";
  WriteFile(name, "old contents");
  EXPECT_THROW(ReplaceFileSafely(name,
                                 [](TStream& s) {
                                   s.WriteBuffer("new half");
                                   throw std::runtime_error("midway");
                                 }),
               std::runtime_error);
  EXPECT_EQ(ReadFile(name), "old contents");
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

TEST(ReplaceFileSafelyTest, AFullDiscLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string name = dir / "cfg.ini";
  WriteFile(name, "old contents");
  {
    FileSizeLimit limit(16);
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(WriteFileAtomically(name, std::string(1000, 'x')), EWriteError);
  }
  EXPECT_EQ(ReadFile(name), "old contents");
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

TEST(ReplaceFileSafelyTest, AMissingFolderFailsCleanly) {
  TempDir dir;
  EXPECT_THROW(WriteFileAtomically(dir / "none/x", std::string_view("x")), EFCreateError);
  EXPECT_EQ(CountEntries(dir.path()), 0);
}

// The temporary beside a name of the longest length must still be a valid name.
TEST(ReplaceFileSafelyTest, ReplacesAndKeepsPermissionBitsEvenForTheLongestName) {
  TempDir dir;
  const std::string name = dir / std::string(255, 'n');
  WriteFileAtomically(name, std::string_view("1"));
  ASSERT_EQ(::chmod(name.c_str(), 0600), 0);
  WriteFileAtomically(name, std::string_view("second"));
  EXPECT_EQ(ReadFile(name), "second");
  struct stat st {};
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

TEST(ReadFileBytesTest, LimitsAndErrors) {
  TempDir dir;
  WriteFile(dir / "f", "12345");
  EXPECT_EQ(ReadFileBytes(dir / "f"), "12345");
  EXPECT_THROW((void)ReadFileBytes(dir / "f", 4), EFOpenError);
  EXPECT_THROW((void)ReadFileBytes(dir / "missing"), EFOpenError);
  EXPECT_THROW((void)ReadFileBytes(dir.path()), EFOpenError);
}

}  // namespace
}  // namespace qv
