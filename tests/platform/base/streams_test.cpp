#include "platform/base/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/base/inifile.h"
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

// Only regular files are opened for reading, and the open never waits: a named pipe with no
// writer (which a plain open would wait on for ever), one with a writer, a device, a socket
// and a folder are refused with their reason, and so is a missing file.
TEST(OpenRegularFileTest, RefusesAllButRegularFilesWithoutWaiting) {
  TempDir dir;
  WriteFile(dir / "plain.ini", "[A]\nb=1\n");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "fed").c_str(), 0600), 0);
  const int writer = ::open((dir / "fed").c_str(), O_RDWR | O_CLOEXEC);  // never blocks
  ASSERT_GE(writer, 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketName = dir / "sock";
  ASSERT_LT(socketName.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketName.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const struct {
    std::string path;
    const char* reason;  // nullptr: opened
  } cases[] = {
      {dir / "plain.ini", nullptr},
      {dir / "pipe", "Not a regular file"},
      {dir / "fed", "Not a regular file"},
      {"/dev/null", "Not a regular file"},
      {socketName, "No such device or address"},
      {dir.path(), "Is a directory"},
      {dir / "missing", "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string refused =
        "Cannot open file \"" + c.path + "\". " + (c.reason ? c.reason : "");
    try {
      const int fd = OpenRegularFile(c.path);
      EXPECT_EQ(c.reason, nullptr);
      EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);  // reads wait as usual
      EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      ::close(fd);
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.what(), refused);
    }
    // Every way of reading a file by name goes through it.
    if (c.reason == nullptr) {
      EXPECT_EQ(ReadFileBytes(c.path), "[A]\nb=1\n");
      continue;
    }
    EXPECT_THROW(TFileStream(c.path, fmOpenRead | fmShareDenyWrite), EFOpenError);
    EXPECT_THROW((void)ReadFileBytes(c.path), EFOpenError);
    TMemoryStream memory;
    EXPECT_THROW(memory.LoadFromFile(c.path), EFOpenError);
    TMemIniFile ini(c.path);  // reads as empty
    EXPECT_EQ(ini.ReadString("A", "b", "none"), "none");
  }
  ::close(sock);
  ::close(writer);
}

}  // namespace
}  // namespace qv
