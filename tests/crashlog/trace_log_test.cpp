#include "crashlog/trace_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdlib.h>

#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "tests/fixtures/run_command.h"

namespace qv {
namespace {

// A copy of the trace program in a folder of its own, since it writes beside itself and
// the tests run side by side.
struct TraceProgram {
  std::string folder, path, trace_file;
  TraceProgram() {
    char pattern[] = "/tmp/qv-crashlog-trace-XXXXXX";
    folder = ::mkdtemp(pattern);
    path = folder + "/crashlog_trace_program";
    trace_file = path + ".log";
    const std::string source = std::string(QV_BINARY_DIR) + "/bin/crashlog_trace_program";
    EXPECT_EQ(test::RunShellCommand("cp " + test::ShellQuote(source) + " " + test::ShellQuote(path))
                  .status,
              0);
  }
  ~TraceProgram() { test::RunShellCommand("rm -rf " + test::ShellQuote(folder)); }
};

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The line without its "dd/mm/yy hh:nn:ss  " stamp, which must be there.
std::string Unstamped(const std::string& line) {
  static const std::regex stamp(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d  )");
  EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  return line.size() >= 19 ? line.substr(19) : line;
}

TEST(TraceLogTest, LastParameterSwitchesTheTraceFileOn) {
  const TraceProgram program;
  const std::vector<std::string> traced = {
      "ExceptNotify((anonymous namespace)::TReport, 42, True, 'text', nil)",
      "  BuildCallStack(2.5, x)",
      "  BuildCallStack=3",
      "  [WARNING] - Code: eeEmailSMTPError - Message: \"Socket timeout.\"",
      "  [ERROR] - Section: ExceptNotify - Message: \"Stack list is empty\"",
      "  Memory Dump: $00 $01 $7F $80 $AB $FF",  // then 26 times " $00"
      "ExceptNotify=False",
  };
  struct Case {
    std::string arguments;
    std::size_t lines;  // 0: no file
  };
  // Without SAVE the file is written by the internal error and misses the last line.
  const Case cases[] = {{"xDEBUGSAVEx", 7}, {"-debug", 6}, {"", 0}, {"save", 0}, {"xDEBUGx a", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    ::unlink(program.trace_file.c_str());
    const std::string command = test::ShellQuote(program.path) + " " + c.arguments + " 2>/dev/null";
    ASSERT_EQ(test::RunShellCommand(command).status, 0);
    const std::vector<std::string> lines = FileLines(program.trace_file);
    ASSERT_EQ(lines.size(), c.lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string expected = traced[i];
      for (int k = 6; i == 5 && k < 32; ++k) expected += " $00";
      EXPECT_EQ(Unstamped(lines[i]), expected);
    }
  }
}

// The internal-bug question needs the trace, with or without a recipient; unattended it
// answers No.
TEST(TraceLogTest, InternalBugQuestionNeedsTheTrace) {
  const TraceProgram program;
  const struct {
    std::string environment, arguments;
    bool asked;
  } cases[] = {
      {"CRASHLOG_BUG_RECIPIENT=bugs@example.org", "xDEBUGx", true},
      {"", "xDEBUGx", true},
      {"CRASHLOG_BUG_RECIPIENT=bugs@example.org", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.environment + " " + c.arguments);
    const std::string command =
        "env " + c.environment + " " + test::ShellQuote(program.path) + " " + c.arguments + " 2>&1";
    const std::string output = test::RunShellCommand(command).output;
    EXPECT_EQ(output.find("Probably internal bug: Error: 'Stack list is empty'\r\n\r\nThis is an "
                          "internal OstrelLog bug.") != std::string::npos,
              c.asked)
        << output;
  }
}

// When the program's folder cannot take the trace, it goes to the program's state folder
// (an absolute $XDG_STATE_HOME, else ~/.local/state), and the file named to the user is the
// one written.
TEST(TraceLogTest, TraceFallsBackToTheStateFolder) {
  const TraceProgram program;
  // A folder in the trace file's place makes it unwritable, also for root.
  ASSERT_EQ(::mkdir(program.trace_file.c_str(), 0700), 0);
  const std::string state = program.folder + "/state", home = program.folder + "/home";
  const struct {
    std::string environment, saved;
  } cases[] = {
      {"XDG_STATE_HOME=" + state + " HOME=" + home, state + "/crashlog_trace_program/"},
      {"XDG_STATE_HOME=relative HOME=" + home, home + "/.local/state/crashlog_trace_program/"},
      {"XDG_STATE_HOME= HOME=" + home, home + "/.local/state/crashlog_trace_program/"},
      {"-u HOME XDG_STATE_HOME=relative", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.environment);
    const std::string saved = c.saved.empty() ? "" : c.saved + "crashlog_trace_program.log";
    const std::string command = "cd " + test::ShellQuote(program.folder) + " && env " +
                                c.environment + " " + test::ShellQuote(program.path) +
                                " -debug 2>/dev/null";
    const std::string output = test::RunShellCommand(command).output;
    EXPECT_NE(output.find("saved to '" + saved + "'"), std::string::npos) << output;
    if (!saved.empty()) {
      EXPECT_EQ(FileLines(saved).size(), 6u);
    }
  }
  EXPECT_NE(::access((program.folder + "/relative").c_str(), F_OK), 0);
  EXPECT_NE(::access("/tmp/.local/state/crashlog_trace_program", F_OK), 0);
}

TEST(TraceLogTest, WarningsAndErrorsAreWorded) {
  struct Thrown {};
  struct Case {
    std::function<void()> raise;
    std::string warning;
  };
  const Case cases[] = {
      {[] { throw std::out_of_range("vector"); }, "[std::out_of_range] vector"},
      {[] { throw Thrown{}; }, "General 'Screenshot' error."},
  };
  for (const Case& c : cases) {
    try {
      c.raise();
    } catch (...) {
      ErrorWarning(eeLogError, "Screenshot");
    }
    EXPECT_EQ(LastWarningCode(), eeLogError);
    EXPECT_EQ(LastWarningMessage(), c.warning);
  }
}

// The other types are traced by the trace program.
TEST(TraceLogTest, PointersAndUnknownArguments) {
  int value = 0;
  EXPECT_TRUE(std::regex_match(TraceArg(static_cast<void*>(&value)).Text(),
                               std::regex(R"(\$[0-9A-F]{16})")));
  EXPECT_EQ(TraceArg(static_cast<void*>(nullptr)).Text(), "nil");
  EXPECT_EQ(TraceArg::Unknown().Text(), "Unknown");
}

}  // namespace
}  // namespace qv
