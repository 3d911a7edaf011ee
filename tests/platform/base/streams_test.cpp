#include "platform/base/streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // The position the stream keeps is the descriptor's after every step, short reads and
  // failed seeks included.
  auto agrees = [&f] { EXPECT_EQ(f.Position(), ::lseek(f.Handle(), 0, SEEK_CUR)); };
  agrees();
  EXPECT_EQ(f.Size(), kFar + 4);
  EXPECT_EQ(f.Seek(-4, soFromEnd), kFar);
  char buf[8] = {};
  f.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  EXPECT_EQ(f.Read(buf, 8), 0);  // at the end
  agrees();
  f.Seek(-2, soFromEnd);
  EXPECT_EQ(f.Read(buf, 8), 2);
  agrees();
  // The gap reads as zeros, even just past 4 GiB.
  f.SetPosition((int64_t(1) << 32) + 1);
  f.ReadBuffer(buf, 2);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(f.Seek(-2, soFromCurrent), (int64_t(1) << 32) + 1);
  EXPECT_THROW(f.Seek(-1, soFromBeginning), EStreamError);
  agrees();
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
