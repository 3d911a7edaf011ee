// What the loggers of several modules of one process share: each module's options and the
// facts of the last exception it noted, in named shared memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>

#include "crashlog/log_report.h"
#include "crashlog/module_options.h"
#include "crashlog/shared_facts.h"
#include "tests/fixtures/run_command.h"

namespace qv {
namespace {

// A handle no module of this process has.
constexpr uintptr_t Handle = 0x5EED0000;

struct Unlink {
  ~Unlink() {
    ::shm_unlink(SharedMappingName("EXCEPT", ::getpid(), Handle).c_str());
    ::shm_unlink(SharedMappingName("MODULE", ::getpid(), Handle).c_str());
  }
};

TEST(ModuleFacts, NamesCarryThePrefixTheProcessAndTheHandle) {
  EXPECT_EQ(SharedMappingName("EXCEPT", 0x1234, 0xABCD000), "/EXCEPT000012340ABCD000");
  EXPECT_EQ(SharedMappingName("MODULE", 1, 0x7F0012345000), "/MODULE000000017F0012345000");
}

TEST(ModuleFacts, ExceptionFactsAreReadOnce) {
  const Unlink unlink;
  struct Case {
    bool has_object;
    std::string name;
    bool has_message;
    std::string message, want_name, want_message;
  } cases[] = {
      {true, "TTrayError", true, "Tray jammed", "TTrayError", "Tray jammed"},
      {true, "TTrayError", false, "ignored", "TTrayError", "Unknown error message."},
      {false, "", false, "", "Unknown exception type.", "Unknown error message."},
      // Only a line end that ends the text and is its first one goes.
      {true, "E", true, "Two\r\nlines\r\n", "E", "Two\r\nlines\r\n"},
      {true, "E", true, "One line\r\n", "E", "One line"},
      {true, "E", true, "\r\n", "E", ""},
      {true, "E", true, "\n", "E", "\n"},
  };
  for (const Case& c : cases) {
    PublishExceptionFacts(Handle, c.has_object, c.name, c.has_message, c.message);
    std::string name, message;
    ASSERT_TRUE(TakeExceptionFacts(Handle, name, message)) << c.message;
    EXPECT_EQ(name, c.want_name);
    EXPECT_EQ(message, c.want_message);
    EXPECT_FALSE(TakeExceptionFacts(Handle, name, message)) << "read twice";
  }
}

TEST(ModuleFacts, DamagedObjectsAreNotRead) {
  const Unlink unlink;
  const std::string name = SharedMappingName("EXCEPT", ::getpid(), Handle);
  struct Case {
    std::string bytes;
  } cases[] = {
      {std::string("\x40\x00\x00\x00\x01", 5)},  // size beyond the object
      {std::string("\x09\x00\x00\x00\x01\xFF\xFF\xFF\x7F"
                   "abcd",
                   13)},             // text beyond the data
      {std::string("\x01\x00", 2)},  // no whole size
  };
  for (const Case& c : cases) {
    ::shm_unlink(name.c_str());
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, c.bytes.data(), c.bytes.size()), ssize_t(c.bytes.size()));
    ::close(fd);
    std::string class_name, message;
    EXPECT_FALSE(TakeExceptionFacts(Handle, class_name, message));
  }
}

// An object under the module's name that the process did not make (another user's, one
// others may write, one larger than any data of ours) is neither read nor written.
TEST(ModuleFacts, ObjectsNotTheProcessesOwnAreLeftAlone) {
  const Unlink unlink;
  const std::string name = SharedMappingName("MODULE", ::getpid(), Handle);
  TOstrelModuleOptions published;
  published.SetOutputPath("/srv/reports");
  const std::function<bool(int)> spoil[] = {
      [](int fd) { return ::fchmod(fd, 0666) == 0; },
      [](int fd) { return ::ftruncate(fd, (1 << 20) + 5) == 0; },
      // Only root can give an object away; as anyone else the case shows nothing.
      [](int fd) { return ::geteuid() != 0 || ::fchown(fd, 65534, 65534) == 0; },
  };
  int spoilt = 0;
  for (const auto& how : spoil) {
    SCOPED_TRACE(++spoilt);
    ::shm_unlink(name.c_str());
    PublishModuleOptions(Handle, published);
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(how(fd));
    ::close(fd);
    if (spoilt == 3 && ::geteuid() != 0) continue;
    TOstrelModuleOptions read;
    EXPECT_FALSE(ModuleHasSharedOptions(Handle));
    EXPECT_FALSE(LoadSharedModuleOptions(Handle, read));
    EXPECT_EQ(read.OutputPath(), "");
    // Nor is it written: what the process publishes does not go where others read it.
    TOstrelModuleOptions changed;
    changed.SetOutputPath("/srv/elsewhere/and/longer");
    PublishModuleOptions(Handle, changed);
    const int again = ::shm_open(name.c_str(), O_RDONLY, 0);
    ASSERT_GE(again, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(again, &st), 0);
    std::string bytes(std::size_t(st.st_size), '\0');
    ASSERT_EQ(::pread(again, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    ::close(again);
    EXPECT_EQ(bytes.find("elsewhere"), std::string::npos);
  }
}

TEST(ModuleFacts, OptionsComeBackFromTheModulesObject) {
  const Unlink unlink;
  TOstrelModuleOptions published;
  published.SetOutputPath("/srv/reports");
  published.SetErrorsNumberToSave(5);
  PublishModuleOptions(Handle, published);
  EXPECT_TRUE(ModuleHasSharedOptions(Handle));
  TOstrelModuleOptions read;
  ASSERT_TRUE(LoadSharedModuleOptions(Handle, read));
  EXPECT_EQ(read.OutputPath(), "/srv/reports");
  EXPECT_EQ(read.ErrorsNumberToSave(), 5);
  // Published in the current form, read in it whatever form the last data block read had.
  SetOstrelDataVersion(420);
  TOstrelModuleOptions read_after_old;
  const bool loaded = LoadSharedModuleOptions(Handle, read_after_old);
  SetOstrelDataVersion(OstrelCurrentDataVersion);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(read_after_old.OutputPath(), "/srv/reports");
  EXPECT_EQ(read_after_old.ErrorsNumberToSave(), 5);
  // A first byte of 0: nothing to load.
  const int fd = ::shm_open(SharedMappingName("MODULE", ::getpid(), Handle).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  const uint8_t zero = 0;
  ASSERT_EQ(::pwrite(fd, &zero, 1, 4), 1);
  ::close(fd);
  TOstrelModuleOptions untouched;
  EXPECT_FALSE(LoadSharedModuleOptions(Handle, untouched));
  EXPECT_EQ(untouched.OutputPath(), "");
  EXPECT_FALSE(ModuleHasSharedOptions(Handle + 0x1000));
}

// Two libraries with loggers of their own: the second one's logger reports the first one's
// fault with the exception the first one was handling, under the options the first one set
// at run time.
TEST(ModuleFacts, AnotherModulesLoggerReportsItsException) {
  char pattern[] = "/tmp/qv_facts_XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const test::ShellResult run =
      test::RunShellCommand("ASAN_OPTIONS=detect_leaks=0 " + test::ShellQuote(FACTS_PROGRAM) + " " +
                            test::ShellQuote(dir) + " >/dev/null 2>&1; echo \"STATUS=$?\"");
  EXPECT_NE(run.output.find("STATUS=1\n"), std::string::npos) << run.output;
  TLogFile log(dir + "/libcrashlog_facts_a.olf");
  log.Load();
  ASSERT_EQ(log.Reports().size(), 1u) << "no report where the first library's options say";
  const std::string& report = log.Reports()[0];
  std::smatch m;
  ASSERT_TRUE(std::regex_search(report, m, std::regex("\r\n  2\\.4 Type *: ([^\r]*)\r\n")));
  EXPECT_EQ(m[1], "(anonymous namespace)::TTrayError");
  ASSERT_TRUE(std::regex_search(report, m, std::regex("\r\n  2\\.5 Message *: ([^\r]*)\r\n")));
  EXPECT_EQ(m[1], "Tray motor stalled.");
  ASSERT_TRUE(std::regex_search(report, m, std::regex("\r\n  2\\.3 Module *: ([^\r]*)\r\n")));
  EXPECT_EQ(m[1], "libcrashlog_facts_a.so");
  std::system(("rm -rf " + test::ShellQuote(dir)).c_str());
}

// What a process that no longer runs left behind goes when the next logger starts.
TEST(ModuleFacts, ObjectsOfEndedProcessesAreRemoved) {
  // A process id that cannot run: above the kernel's largest.
  const std::string stale = SharedMappingName("EXCEPT", 0x7FFFFFF0, 0x5EED0000);
  const int fd = ::shm_open(stale.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  char pattern[] = "/tmp/qv_facts_XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  test::RunShellCommand("ASAN_OPTIONS=detect_leaks=0 " + test::ShellQuote(FACTS_PROGRAM) + " " +
                        test::ShellQuote(dir) + " >/dev/null 2>&1");
  const int again = ::shm_open(stale.c_str(), O_RDONLY, 0);
  EXPECT_LT(again, 0) << "still there";
  if (again >= 0) ::close(again);
  ::shm_unlink(stale.c_str());
  std::system(("rm -rf " + test::ShellQuote(dir)).c_str());
}

// Nothing of an ended process stays behind.
TEST(ModuleFacts, NoObjectOutlivesItsProcess) {
  char pattern[] = "/tmp/qv_facts_XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const test::ShellResult run = test::RunShellCommand(
      "ASAN_OPTIONS=detect_leaks=0 " + test::ShellQuote(FACTS_PROGRAM) + " " +
      test::ShellQuote(dir) + " >/dev/null 2>&1 & pid=$!; wait $pid; printf '%08X' $pid");
  ASSERT_EQ(run.output.size(), 8u) << run.output;
  const test::ShellResult left = test::RunShellCommand(
      "ls /dev/shm | grep -c -e 'MODULE" + run.output + "' -e 'EXCEPT" + run.output + "' || true");
  EXPECT_EQ(left.output, "0\n");
  std::system(("rm -rf " + test::ShellQuote(dir)).c_str());
}

}  // namespace
}  // namespace qv
