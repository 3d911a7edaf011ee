// The logger in real programs: each crash program ends by an exception or a fault, and its
// exit status, its ".olf" file and its printed line are checked from outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "crashlog/log_report.h"
#include "tests/fixtures/run_command.h"
#include "tests/peers/smtp_peer.h"
#include "tests/platform/ui/xvfb_server.h"

using namespace std::chrono_literals;

namespace qv {
namespace {

using test::SendXKey;
using test::ShellQuote;
using test::WaitForViewableXWindow;
using test::XTopLevel;
using test::XvfbServer;

struct CrashRun {
  int status = -1;  // exit status, or 128 + signal
  std::string stdout_text, line;
  std::vector<std::string> reports;
};

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_crash_XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf " + ShellQuote(dir_)).c_str()); }

  CrashRun Crash(const std::string& mode, const std::string& extra = "",
                 const std::string& env = "") {
    CrashRun run;
    const std::string err = dir_ + "/stderr";
    // A program that never ends fails the test rather than hanging it.
    const std::string command = env + "ASAN_OPTIONS=detect_leaks=0 timeout -s KILL 120 " +
                                ShellQuote(CRASH_PROGRAM) + " " + mode + " " + ShellQuote(dir_) +
                                " " + extra + " 2>" + ShellQuote(err) + "; echo \"STATUS=$?\"";
    const test::ShellResult result = test::RunShellCommand(command);
    const std::size_t at = result.output.rfind("STATUS=");
    run.stdout_text = result.output.substr(0, at);
    if (at != std::string::npos) run.status = std::atoi(result.output.c_str() + at + 7);
    std::ifstream in(err);
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("LINE=", 0) == 0) run.line = line.substr(5);
    TLogFile log(dir_ + "/crashlog_crash_program.olf");
    log.Load();
    run.reports = log.Reports();
    return run;
  }

  // Starts a copy of the program (with its ripping library) in the test's folder, so that its
  // log lands there, with `runtime` as its runtime folder and `env` added to its environment.
  pid_t StartQuorvelCopy(const std::string& runtime, const std::string& env,
                         const std::string& args) {
    const std::string folder = std::filesystem::path(QUORVEL_PROGRAM).parent_path();
    // Copied once: a process of an earlier run may still be running the copy ("Text file busy").
    if (!std::filesystem::exists(dir_ + "/quorvel") &&
        std::system(("cp " + ShellQuote(QUORVEL_PROGRAM) + " " +
                     ShellQuote(folder + "/libcdrip.so") + " " + ShellQuote(dir_))
                        .c_str()) != 0)
      return -1;
    ::mkdir(runtime.c_str(), 0700);
    const std::string command =
        "cd " + ShellQuote(dir_) + " && HOME=" + ShellQuote(dir_) +
        " XDG_RUNTIME_DIR=" + ShellQuote(runtime) +
        " QUORVEL_INI=" + ShellQuote(dir_ + "/Quorvel.ini") + " " + env +
        " ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 exec ./quorvel " + args +
        " > out 2>&1";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }

  // The exit status of `pid` once it ended, -1 when it had not within two minutes (then it
  // is killed).
  static int EndedWith(pid_t pid) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(pid, &status, WNOHANG) != pid) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Output() const {
    std::ifstream in(dir_ + "/out");
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }

  static std::string Field(const std::string& report, const std::string& number) {
    std::smatch m;
    if (!std::regex_search(report, m, std::regex("\r\n  " + number + " [^:]*: ([^\r]*)\r\n")))
      return "<none>";
    return m[1];
  }
  // The call-stack rows of the program's own source (its column as wide as the longest name).
  static std::vector<std::string> Rows(const std::string& report) {
    std::vector<std::string> rows;
    std::istringstream in(report.substr(0, report.find("Modules Information")));
    std::string line;
    const std::regex unit("\\|crash_program\\.cpp *\\|");
    while (std::getline(in, line))
      if (std::regex_search(line, unit)) rows.push_back(line);
    return rows;
  }
  static std::string LineOf(const std::string& row) {
    std::smatch m;
    return std::regex_search(row, m, std::regex("\\|([0-9]*) *\\|\r?$")) ? std::string(m[1]) : "";
  }

  std::string dir_;
};

TEST_F(CrashTest, UncaughtThrowIsReportedAndEndsWithOne) {
  const CrashRun run = Crash("throw");
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.reports.size(), 1u);
  const std::string& report = run.reports[0];
  EXPECT_EQ(Field(report, "2.4"), "TDiscError");
  EXPECT_EQ(Field(report, "2.5"), "Disc tray jammed.");
  const std::vector<std::string> rows = Rows(report);
  ASSERT_FALSE(rows.empty()) << report;
  EXPECT_EQ(LineOf(rows[0]), run.line) << rows[0];
  EXPECT_NE(rows[0].find("ThrowDiscError"), std::string::npos);
  EXPECT_NE(report.find("|libc.so.6"), std::string::npos);
  // The CPU block has the registers of the throw, its instruction pointer at the throw's
  // call.
  EXPECT_EQ(report.find("????"), std::string::npos) << report;
  std::smatch rip;
  ASSERT_TRUE(std::regex_search(report, rip, std::regex("RIP: ([0-9A-F]{16})"))) << report;
  EXPECT_EQ(Field(report, "2.2"), rip[1]);
  // A console program also prints its report.
  EXPECT_NE(run.stdout_text.find("2.4 Type   : TDiscError"), std::string::npos);
}

// A rethrow is reported from the rethrow site, in the program's module, with the program's
// frames first.
TEST_F(CrashTest, RethrowsAreReportedWhereTheyRethrow) {
  for (const std::string mode : {"rethrow", "rethrowkept"}) {
    SCOPED_TRACE(mode);
    std::filesystem::remove(dir_ + "/crashlog_crash_program.olf");
    const CrashRun run = Crash(mode);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
    const std::string& report = run.reports[0];
    EXPECT_EQ(Field(report, "2.4"), "TDiscError");
    EXPECT_TRUE(std::regex_match(Field(report, "2.2"), std::regex("[0-9A-F]{16}"))) << report;
    EXPECT_EQ(Field(report, "2.3"), "crashlog_crash_program") << report;
    const std::vector<std::string> rows = Rows(report);
    ASSERT_FALSE(rows.empty()) << report;
    EXPECT_EQ(LineOf(rows[0]), run.line) << rows[0];
    EXPECT_NE(rows[0].find("Rethrow"), std::string::npos) << rows[0];
    // The first row of the call stack is the rethrow's.
    const std::size_t table = report.find("|Address");
    ASSERT_NE(table, std::string::npos);
    const std::size_t first = report.find("\n|", table);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(report.substr(first + 1, rows[0].size()), rows[0]);
  }
}

TEST_F(CrashTest, CaughtAndFilteredExceptionsWriteNothing) {
  CrashRun run = Crash("caught");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.stdout_text.find("caught Disc tray jammed"), std::string::npos);
  EXPECT_TRUE(run.reports.empty());
  // A thrown pointer is matched by its value: a null one fits a pointer to a virtual base.
  run = Crash("caughtpointer");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.stdout_text, "caught 1\n");
  EXPECT_TRUE(run.reports.empty());
  run = Crash("filtered");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.reports.empty());
  EXPECT_EQ(run.stdout_text, "");
}

// The application's handler and the thread class's wrapper catch everything: their
// exceptions are reported, and the program goes on.
TEST_F(CrashTest, ClassLibraryHandlersReportAndContinue) {
  for (const char* mode : {"gui", "tthread"}) {
    SCOPED_TRACE(mode);
    std::filesystem::remove(dir_ + "/crashlog_crash_program.olf");
    const CrashRun run = Crash(mode);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.stdout_text.find("continued"), std::string::npos);
    ASSERT_EQ(run.reports.size(), 1u);
    const std::vector<std::string> rows = Rows(run.reports[0]);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(LineOf(rows[0]), run.line);
    // The registers are those of the throw.
    EXPECT_EQ(run.reports[0].find("????"), std::string::npos) << run.reports[0];
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
  }
}

// The thread ends with exit code 1; the program goes on.
TEST_F(CrashTest, WorkerThrowIsReportedWithTheWorkersFrames) {
  const CrashRun run = Crash("worker");
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(Field(run.reports[0], "2.5"), "Worker failed.");
  const std::vector<std::string> rows = Rows(run.reports[0]);
  ASSERT_FALSE(rows.empty());
  EXPECT_NE(rows[0].find("WorkerRoutine"), std::string::npos);
  EXPECT_EQ(LineOf(rows[0]), run.line);
  EXPECT_TRUE(run.stdout_text.ends_with("thread exit code 1\ncontinued\n")) << run.stdout_text;
  EXPECT_EQ(run.status, 0);
}

TEST_F(CrashTest, TwoThreadsThrowingAtOnceGiveTwoWholeReports) {
  const CrashRun run = Crash("two");
  EXPECT_EQ(run.status, 0);
  // Each thread ends with exit code 1 (a report printed between them at times).
  const std::string& out = run.stdout_text;
  std::size_t ended = 0;
  for (std::size_t at = 0; (at = out.find("thread exit code 1\n", at)) != std::string::npos; ++at)
    ++ended;
  EXPECT_EQ(ended, 2u) << out;
  EXPECT_TRUE(out.ends_with("continued\n"));
  ASSERT_EQ(run.reports.size(), 2u);
  std::vector<std::string> messages = {Field(run.reports[0], "2.5"), Field(run.reports[1], "2.5")};
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (std::vector<std::string>{"First thread.", "Second thread."}));
  for (const std::string& report : run.reports)
    EXPECT_NE(report.find("Modules Information"), std::string::npos);
}

TEST_F(CrashTest, FaultsAreReportedAtTheFaultingInstruction) {
  struct Case {
    const char* mode;
    const char* type;
  };
  for (const Case c : {Case{"null", "EAccessViolation"}, Case{"div", "EIntDivByZero"},
                       Case{"recurse", "EAccessViolation"}}) {
    SCOPED_TRACE(c.mode);
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer's own signal handler does not run on the alternate stack.
    if (std::string(c.mode) == "recurse") continue;
#endif
    const CrashRun run = Crash(c.mode);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
    const std::string& report = run.reports[0];
    EXPECT_EQ(Field(report, "2.4"), c.type);
    std::smatch rip;
    ASSERT_TRUE(std::regex_search(report, rip, std::regex("RIP: ([0-9A-F]{16})")));
    EXPECT_EQ(Field(report, "2.2"), rip[1]);
    const std::vector<std::string> rows = Rows(report);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].substr(1, 16), rip[1]);
    if (std::string(c.mode) == "recurse") {
      EXPECT_NE(rows[0].find("Recurse"), std::string::npos);
    } else {
      EXPECT_EQ(LineOf(rows[0]), run.line);
    }
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
  }
}

// A main loop that stops answering its window is reported once per time-out, at the main
// thread's registers, with the call stack of its stack as it stood; short stalls and a
// watchdog switched off report nothing.
TEST_F(CrashTest, FrozenMainLoopIsReportedOncePerTimeOut) {
  test::XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const std::string env = "DISPLAY=" + server.Display() + " QUORVEL_DISPLAY=x11 ";
  for (const auto& [mode, count] :
       {std::pair{"freeze", 1u}, {"twitch", 0u}, {"unwatched", 0u}, {"hung", 2u}}) {
    SCOPED_TRACE(mode);
    const CrashRun run = Crash(mode, "", env);
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.reports.size(), count);
    for (const std::string& report : run.reports) {
      EXPECT_EQ(Field(report, "2.4"), "EFrozenApplication");
      EXPECT_EQ(Field(report, "2.5"), "The application seems to be frozen.");
      std::smatch rip;
      ASSERT_TRUE(std::regex_search(report, rip, std::regex("RIP: ([0-9A-F]{16})")));
      EXPECT_EQ(Field(report, "2.2"), rip[1]);
      const std::vector<std::string> rows = Rows(report);
      EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
        return row.find("BlockMainLoop") != std::string::npos && LineOf(row) == run.line;
      })) << report;
    }
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
  }
}

// The time-out and the message are those of the options as they stand, not as they stood
// when the watchdog started.
TEST_F(CrashTest, FreezeTimeOutAndMessageChangedWhileWatchingCount) {
  test::XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const CrashRun run =
      Crash("retuned", "", "DISPLAY=" + server.Display() + " QUORVEL_DISPLAY=x11 ");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(Field(run.reports[0], "2.4"), "EFrozenApplication");
  EXPECT_EQ(Field(run.reports[0], "2.5"), "Hung while reading the disc.");
}

// A hook knows the hang by the type of the record's exception; when it never returns, the
// program still ends: the logger waits for its watchdog only so long as it is unloaded.
TEST_F(CrashTest, HookSeesFrozenApplicationAndAStuckReportDoesNotHoldTheExit) {
  test::XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const CrashRun run = Crash(
      "stuckhook", "", "DISPLAY=" + server.Display() + " QUORVEL_DISPLAY=x11 timeout 120 env ");
  EXPECT_EQ(run.status, 0);  // 124: the exit waited for the watchdog
  EXPECT_EQ(run.stdout_text, "hook: frozen\n");
  EXPECT_TRUE(run.reports.empty());
}

// The last warning is cleared before each action, so one left over is never taken for a
// failure of the output, the saving or the sending.
TEST_F(CrashTest, TheLastWarningIsClearedBeforeEachAction) {
  const CrashRun run = Crash("warnings");
  EXPECT_EQ(run.status, 1);
  for (const char* line : {"before 1: eeNone\n", "before 3: eeNone\n", "before 4: eeNone\n"})
    EXPECT_NE(run.stdout_text.find(line), std::string::npos) << line << run.stdout_text;
}

TEST_F(CrashTest, SwitchedOffTheDefaultBehaviourReturns) {
  const CrashRun run = Crash("off");
  EXPECT_EQ(run.status, 128 + SIGABRT);
  EXPECT_TRUE(run.reports.empty());
}

// The initialisation table the logger wrapped is read-only again once the program runs.
TEST_F(CrashTest, InitialisationTableStaysReadOnly) {
  const CrashRun run = Crash("inittable");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.stdout_text, "slot r--p\n");
}

// A forked child has no pipeline thread to report its fault: it ends as it would unlogged,
// instead of waiting for a report that never comes.
TEST_F(CrashTest, ForkedChildDiesByItsFault) {
  const CrashRun run = Crash("forkfault");
  EXPECT_EQ(run.status, 0);
  // Under a sanitizer, its own fault handler (the one before the logger's) ends the child
  // with the sanitizer's exit code.
#if defined(__SANITIZE_THREAD__)
  EXPECT_EQ(run.stdout_text, "child status 66\n");
#elif defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(run.stdout_text, "child status 1\n");
#else
  EXPECT_EQ(run.stdout_text, "child signal " + std::to_string(SIGSEGV) + "\n");
#endif
}

// The default handler's abort() is no second failure: the program dies by SIGABRT with the
// one report the hook saw.
TEST_F(CrashTest, DefaultHandlingAskedByTheHookEndsBySigabrt) {
  const CrashRun run = Crash("default");
  EXPECT_EQ(run.status, 128 + SIGABRT);
  EXPECT_EQ(run.stdout_text.find("reported"), std::string::npos) << run.stdout_text;
  for (const std::string& report : run.reports)
    EXPECT_EQ(report.find("EAbortSignal"), std::string::npos) << report;
}

// The program started again after a fault starts as a fresh one would, though the thread that
// starts it blocks every signal.
TEST_F(CrashTest, RestartAfterAFaultStartsWithTheFreshSignalMask) {
  const std::string runs = dir_ + "/runs";
  const CrashRun run = Crash("restartfault", ShellQuote(runs));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.reports.size(), 1u);
  std::vector<std::string> lines;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       lines.size() < 2 && std::chrono::steady_clock::now() < deadline;) {
    std::ifstream in(runs);
    lines.clear();
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() < 2) std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], lines[0]);
}

TEST_F(CrashTest, RestartRunsTheProgramAgain) {
  const std::string runs = dir_ + "/runs";
  const CrashRun run = Crash("restart", ShellQuote(runs));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.reports.size(), 1u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int count = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(runs);
    count = int(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
    if (count >= 2) break;
    std::this_thread::yield();
  }
  EXPECT_EQ(count, 2);
}

// The new run starts once the old one has ended: a program that allows one instance finds
// none running.
TEST_F(CrashTest, RestartWaitsForTheEndOfTheRunBefore) {
  const std::string runs = dir_ + "/runs";
  const CrashRun run = Crash("single", ShellQuote(runs));
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       lines.size() < 2 && std::chrono::steady_clock::now() < deadline;) {
    std::ifstream in(runs);
    lines.clear();
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() < 2) std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"alone", "alone"}));
}

// A thread the program starts is found by its id and by its handle while it runs, with its
// start parameter and stack, and leaves the list when it ends.
TEST_F(CrashTest, StartedThreadIsListedUntilItsEnd) {
  const CrashRun run = Crash("threadslist");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.stdout_text, "by id 1, by handle 1, after its end 0\n");
}

// A thread left out of the log is not reported: its uncaught throw ends the program as it
// would without the logger.
TEST_F(CrashTest, ExcludedThreadIsNeverReported) {
  const CrashRun run = Crash("excluded");
  EXPECT_EQ(run.status, 128 + SIGABRT);
  EXPECT_TRUE(run.reports.empty());
}

// An internal error with the trace on asks whether to mail the trace to those who get the
// program's reports (unattended, the question is printed and answered No).
TEST_F(CrashTest, InternalErrorWithTheTraceOnAsksToSendIt) {
  const CrashRun run = Crash("bugprompt", "xDEBUGx", "XDG_STATE_HOME=/dev/null/state ");
  EXPECT_EQ(run.status, 1);
  std::ifstream in(dir_ + "/stderr");
  const std::string err((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(err.find("Probably internal bug: Error: '"), std::string::npos) << err;
  EXPECT_NE(err.find("This is an internal OstrelLog bug."), std::string::npos);
  // The log file's error was thrown inside the logger: its code at the throw is dumped.
  EXPECT_TRUE(std::regex_search(err, std::regex("\\nMemory Dump:( \\$[0-9A-F]{2}){32}\\n"))) << err;
  // What is traced after the report's own save, up to the end the report brings, is kept too.
  std::ifstream trace(std::string(CRASH_PROGRAM) + ".log");
  const std::string traced((std::istreambuf_iterator<char>(trace)), {});
  EXPECT_NE(traced.find("GoNotify=False"), std::string::npos) << traced;
  // Exit lines carry the routine's result.
  for (const char* exit :
       {"GetModuleKind=[0-9]\r?\n", "HookEverywhere=\\$[0-9A-F]{16}\r?\n",
        "BuildCallStack=TOstrelStackList\r?\n", "GetModuleEntryOf=qv::TOstrelModuleEntry\r?\n",
        "BuildReport='OstrelLog 4\\.5\\.4"})
    EXPECT_TRUE(std::regex_search(traced, std::regex(exit))) << exit;
}

// The trace holds the report's routines up to their ends, though the program ends right after.
TEST_F(CrashTest, TraceIsSavedUpToTheEndOfTheReport) {
  const std::string copy = dir_ + "/traced";
  ASSERT_EQ(std::system(("cp " + ShellQuote(CRASH_PROGRAM) + " " + ShellQuote(copy)).c_str()), 0);
  const test::ShellResult result =
      test::RunShellCommand("cd " + ShellQuote(dir_) +
                            " && ASAN_OPTIONS=detect_leaks=0 ./traced throw . xDEBUGx "
                            ">/dev/null 2>&1; echo \"STATUS=$?\"");
  EXPECT_NE(result.output.find("STATUS=1\n"), std::string::npos) << result.output;
  const std::string trace = test::ReadFile(dir_ + "/traced.log");
  EXPECT_NE(trace.find("InternalExceptNotify=False"), std::string::npos) << trace;
  EXPECT_NE(trace.find("GoNotify=False"), std::string::npos) << trace;
  // The hooks' routines have their exits too: the end comes back to the first level.
  for (const char* line : {"  HookedRaise\\('TDiscError', \\$", "  HookedCreateThread=0\r?\n",
                           "  HookedThreadProc=nil\r?\n", "  ExceptNotify=False\r?\n",
                           ":[0-9]{2}  HookedExceptProc=False\r?\n"})
    EXPECT_TRUE(std::regex_search(trace, std::regex(line))) << line;
  // A fault, with a trace file that cannot be written (its save throws inside the trace, and
  // the trace goes to the state folder); and, saved after every line, a run that ends well.
  std::filesystem::remove(dir_ + "/traced.log");
  std::filesystem::create_directory(dir_ + "/traced.log");
  const auto run = [&](const std::string& mode, const std::string& status) {
    const test::ShellResult ended = test::RunShellCommand(
        "cd " + ShellQuote(dir_) + " && XDG_STATE_HOME=" + ShellQuote(dir_ + "/state") +
        " ASAN_OPTIONS=detect_leaks=0 timeout -s KILL 120 ./traced " + mode +
        " >/dev/null 2>&1; echo \"STATUS=$?\"");
    EXPECT_NE(ended.output.find("STATUS=" + status + "\n"), std::string::npos) << mode;
    return test::ReadFile(dir_ + "/state/traced/traced.log");
  };
  EXPECT_TRUE(std::regex_search(run("null . xDEBUGx", "1"),
                                std::regex(":[0-9]{2}  HookedExceptionObject=False\r?\n")));
  EXPECT_NE(run("lifecycle . xDEBUGxSAVE", "0").find("  FinalizeOstrelLog="), std::string::npos);
}

// The program's static objects are all made before main runs, and the logger knows it is
// finalising before they are destroyed.
TEST_F(CrashTest, StartUpEndsBeforeMainAndShutDownBeginsBeforeDestruction) {
  const CrashRun run = Crash("lifecycle");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.stdout_text.find("initializing in main: 0\n"), std::string::npos)
      << run.stdout_text;
  EXPECT_NE(run.stdout_text.find("finalizing at destruction: 1\n"), std::string::npos);
}

// A debugger is a tracer of the process; while one is attached the throws of a console
// program stay announced to it, and above level 1 each throw stops it.
TEST_F(CrashTest, ThrowsAreAnnouncedOnlyToAnAttachedDebugger) {
  const CrashRun alone = Crash("debugger");
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.stdout_text,
            "debugger present: 0\nlevel at start: 1\nlevel after a throw: 0\n"
            "level after the second: 0\n");
  // Warnings reach the debug output only while a debugger (or the trace) is there.
  const std::string warning =
      "[WARNING] - Code: eeLogError - Message: \"The log file is locked.\"\n";
  const auto read = [](const std::string& file) {
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  EXPECT_EQ(read(dir_ + "/stderr").find(warning), std::string::npos);
  const std::string out = dir_ + "/traced";
  const std::string err = dir_ + "/traced_stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    ::execl(CRASH_PROGRAM, CRASH_PROGRAM, "debugger", dir_.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int traps = 0, status = 0;
  while (::waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
    if (WSTOPSIG(status) == SIGTRAP) ++traps;
    // Every stop is the debugger's own: the program goes on without the signal.
    ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::ifstream in(out);
  const std::string traced((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(traced,
            "debugger present: 1\nlevel at start: 1\nlevel after a throw: 1\n"
            "level after the second: 2\n");
  EXPECT_EQ(traps, 2);  // the start of the program, then the second throw
  EXPECT_NE(read(err).find(warning), std::string::npos) << read(err);
}

// The program itself, unchanged: a copy in the test's folder (so that its log lands there)
// gets SIGSEGV while it idles headless.
TEST_F(CrashTest, QuorvelWritesItsReportOnSegv) {
  const std::string runtime = dir_ + "/run";
  const pid_t pid = StartQuorvelCopy(runtime, "QUORVEL_DISPLAY=headless", "");
  ASSERT_GT(pid, 0);
  // Running: it holds its single-instance lock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool started = false;
  while (!started && std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    started = !std::filesystem::is_empty(runtime + "/quorvel", error) && !error;
    if (!started) std::this_thread::yield();
  }
  ASSERT_TRUE(started);
  ::kill(pid, SIGSEGV);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  TLogFile log(dir_ + "/quorvel.olf");
  log.Load();
  ASSERT_EQ(log.Reports().size(), 1u);
  const std::string& report = log.Reports()[0];
  EXPECT_EQ(Field(report, "2.4"), "EAccessViolation");
  EXPECT_NE(Field(report, "2.5").find("Signal SIGSEGV sent by process"), std::string::npos);
  const std::string stack = report.substr(0, report.find("Modules Information"));
  EXPECT_TRUE(std::regex_search(stack, std::regex("\\|quorvel +\\|main\\.cpp +\\|"))) << stack;
  EXPECT_TRUE(std::regex_search(stack, std::regex("\\|quorvel +\\|forms\\.cpp +\\|")));
  const std::string modules = report.substr(report.find("Modules Information"));
  EXPECT_TRUE(std::regex_search(modules, std::regex("\\|quorvel +\\|")));
  EXPECT_NE(modules.find("|libc.so.6 "), std::string::npos);
}

// A filtered class's message box comes to the front and stays above other windows.
TEST_F(CrashTest, FilterMessageBoxIsTopmost) {
  test::XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const CrashRun run =
      Crash("filterbox", "", "DISPLAY=" + server.Display() + " QUORVEL_DISPLAY=x11 ");
  EXPECT_EQ(run.stdout_text, "box topmost 1\n");
  EXPECT_TRUE(run.reports.empty());
}

// A notification hook that throws ends neither the report nor the actions after it.
TEST_F(CrashTest, ThrowingHookLeavesTheReportAndTheLaterActions) {
  const CrashRun run = Crash("hookthrow");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.reports.size(), 1u);
  EXPECT_NE(run.stdout_text.find("action 2\naction 3\n"), std::string::npos) << run.stdout_text;
  EXPECT_TRUE(run.stdout_text.ends_with("thread exit code 1\ncontinued\n"));
}

// However deep the failing call, or large the buffer of the routine a signal interrupts, the
// call stack reaches main's call; a main thread with little stack left is reported all the same.
TEST_F(CrashTest, CallStackReachesMainFromDeepFrames) {
  for (const char* mode : {"deep", "bigbuffer", "lowstack"}) {
    SCOPED_TRACE(mode);
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
    const CrashRun run = Crash(mode);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
    const std::string& report = run.reports[0];
    const std::string stack = report.substr(0, report.find("Modules Information"));
    EXPECT_TRUE(
        std::regex_search(stack, std::regex("\\|crash_program\\.cpp +\\|[^|]*\\|main +\\|")))
        << stack.substr(0, 3000);
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
  }
}

// A class derived from the silent abort is silent too.
TEST_F(CrashTest, SubclassOfTheSilentAbortIsNotReported) {
  const CrashRun run = Crash("quietabort");
  for (const std::string& report : run.reports) EXPECT_NE(Field(report, "2.4"), "TQuietAbort");
}

// An exception the application's handler gets without having seen its throw is reported at
// the address where it is handled, not at 0.
TEST_F(CrashTest, ExceptionFromAnotherThreadIsReportedWhereItIsHandled) {
  const CrashRun run = Crash("foreign");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_NE(Field(run.reports[0], "2.2"), "0000000000000000");
  EXPECT_EQ(Field(run.reports[0], "2.3"), "crashlog_crash_program");
}

// The hooks get the exception object: the one caught, the one thrown, and a fault's.
TEST_F(CrashTest, HooksGetTheExceptionObject) {
  const CrashRun run = Crash("objects");
  EXPECT_EQ(run.status, 1);
  std::string objects;
  std::istringstream in(run.stdout_text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("object ", 0) == 0) objects += line + "\n";
  EXPECT_EQ(objects.substr(0, objects.find("Access violation")),
            "object TDiscError raised Disc tray jammed\nobject TDiscError raised Worker failed\n"
            "object EAccessViolation external ");
}

// A hook's plain routine and its component event are both called, the routine first.
TEST_F(CrashTest, RoutineAndEventHooksAreBothCalled) {
  const CrashRun run = Crash("bothhooks");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.stdout_text.find("routine 2\nevent 2\n"), std::string::npos) << run.stdout_text;
}

// A library loaded after start-up throws through its own import slot: the throw is still
// reported where it happened.
TEST_F(CrashTest, ThrowOfALibraryLoadedLaterIsReportedAtItsThrow) {
  const CrashRun run = Crash("dlopen", ShellQuote(THROW_LIBRARY));
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(Field(run.reports[0], "2.3"), "libcrashlog_throwlib.so");
  EXPECT_EQ(Field(run.reports[0], "2.5"), "Library failed.");
}

// A library whose constructor starts a thread and waits for it loads as it does without the
// logger: the thread's start needs nothing the loading thread holds.
TEST_F(CrashTest, LibraryConstructorThatWaitsForItsThreadLoads) {
  const CrashRun run = Crash("dlopenonly", ShellQuote(CTOR_JOIN_LIBRARY));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.stdout_text, "library thread ran\nloaded\n");
  EXPECT_TRUE(run.reports.empty());
}

// An exception a thread throws while the main thread's fault is reported is reported too,
// before the fault ends the program.
// So is one handed to the application's handler meanwhile.
TEST_F(CrashTest, ThrowDuringAFaultsReportIsReportedToo) {
  for (const char* mode : {"throwfault", "managerfault"}) {
    SCOPED_TRACE(mode);
    std::remove((dir_ + "/crashlog_crash_program.olf").c_str());
    const CrashRun run = Crash(mode);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 2u);
    std::vector<std::string> classes{Field(run.reports[0], "2.4"), Field(run.reports[1], "2.4")};
    std::sort(classes.begin(), classes.end());
    EXPECT_EQ(classes, (std::vector<std::string>{"EAccessViolation", "TDiscError"}));
  }
}

// Sent faults as a user's machine sends them, to the program waiting with a second thread:
// returns the exit status (128 + signal when a signal ended it) and the reports.
CrashRun SignalIdleProgram(const std::string& dir,
                           const std::function<void(pid_t, pid_t, pid_t)>& send,
                           const std::string& mode = "idle") {
  CrashRun run;
  std::remove((dir + "/crashlog_crash_program.olf").c_str());
  int out[2];
  if (::pipe(out) != 0) return run;
  const std::string command = "ASAN_OPTIONS=detect_leaks=0 exec " + ShellQuote(CRASH_PROGRAM) +
                              " " + mode + " " + ShellQuote(dir) + " 2>" +
                              ShellQuote(dir + "/stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n;
       text.find('\n') == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, std::size_t(n));
  int main_thread = 0, worker = 0;
  if (std::sscanf(text.c_str(), "READY %d %d", &main_thread, &worker) == 2)
    send(pid, main_thread, worker);
  else
    ::kill(pid, SIGKILL);
  // A program that never ends after its signal fails the test rather than hanging it. Its
  // reports on standard output are read meanwhile: a full pipe would hold it.
  ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
  int status = 0;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > give_up) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
      text.append(buffer, std::size_t(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) & ~O_NONBLOCK);
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, std::size_t(n));
  ::close(out[0]);
  run.stdout_text = text;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  TLogFile log(dir + "/crashlog_crash_program.olf");
  log.Load();
  run.reports = log.Reports();
  return run;
}

// A second SIGSEGV sent while the first one's report is made lands on another thread; it
// never ends the program before the report is written.
TEST_F(CrashTest, FaultSignalsInQuickSuccessionEndWithAReport) {
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const CrashRun run = SignalIdleProgram(dir_, [](pid_t pid, pid_t, pid_t) {
      ::kill(pid, SIGSEGV);
      ::kill(pid, SIGSEGV);
    });
    EXPECT_EQ(run.status, 1);
    ASSERT_GE(run.reports.size(), 1u);
    EXPECT_LE(run.reports.size(), 2u);
    for (const std::string& report : run.reports)
      EXPECT_NE(Field(report, "2.5").find("Signal SIGSEGV sent by process"), std::string::npos);
  }
}

// A signal sent to a thread while it holds a lock of the logger's (it throws and catches all
// the time) is reported, and the program ends.
TEST_F(CrashTest, SignalSentWhileAThreadThrowsIsReported) {
  for (int i = 0; i < 25; ++i) {
    SCOPED_TRACE(i);
    const CrashRun run = SignalIdleProgram(
        dir_,
        [i](pid_t pid, pid_t, pid_t worker) {
          std::this_thread::sleep_for(std::chrono::milliseconds(i % 7));
          ::syscall(SYS_tgkill, pid, worker, SIGSEGV);
        },
        "throwloop");
    ASSERT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
  }
}

// A signal sent while the main thread is inside the allocator (holding its lock, which the
// report needs) is reported all the same, on the main thread, and the program ends.
TEST_F(CrashTest, SignalSentWhileTheMainThreadAllocatesIsReported) {
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    // SIGABRT as well: sent from outside, it is a fault like the others.
    const int signal = i % 4 < 2 ? SIGSEGV : SIGABRT;
    const CrashRun run = SignalIdleProgram(
        dir_,
        [i, signal](pid_t pid, pid_t main_thread, pid_t) {
          std::this_thread::sleep_for(std::chrono::milliseconds(i % 5));
          if (i % 2 == 0)
            ::kill(pid, signal);
          else
            ::syscall(SYS_tgkill, pid, main_thread, signal);
        },
        "allocating");
    ASSERT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_NE(Field(run.reports[0], "2.5")
                  .find(std::string("Signal ") + (signal == SIGSEGV ? "SIGSEGV" : "SIGABRT") +
                        " sent by process"),
              std::string::npos);
    // The main thread's own routine is in its call stack: the report is about it. (The unit
    // column is as wide as its longest name, which the stack's other entries decide.)
    EXPECT_NE(run.reports[0].find("|crash_program.cpp"), std::string::npos) << run.reports[0];
  }
}

// A fault signal the program queues to itself is reported like one it raises.
TEST_F(CrashTest, SignalQueuedToItselfIsReported) {
  const CrashRun run = Crash("selfqueue");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.stdout_text.find("still alive"), std::string::npos);
}

// A signal sent to a thread that ends before it can take it is reported on the main thread.
TEST_F(CrashTest, SignalForAThreadThatEndsIsReported) {
  const CrashRun run = SignalIdleProgram(
      dir_, [](pid_t pid, pid_t, pid_t worker) { ::syscall(SYS_tgkill, pid, worker, SIGSEGV); },
      "endingworker");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.reports.size(), 1u);
}

// A signal sent to the process is reported with the main thread's registers and stack,
// whichever thread the kernel gives it to: here the main thread holds it off for a moment, or
// for good, so it comes to the worker, which is not held for it.
TEST_F(CrashTest, SignalSentToTheProcessIsReportedOnTheMainThread) {
  for (const char* mode : {"blockfirst", "blockalways"}) {
    SCOPED_TRACE(mode);
    const CrashRun run = SignalIdleProgram(
        dir_, [](pid_t pid, pid_t, pid_t) { ::kill(pid, SIGSEGV); }, mode);
    ASSERT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 1u);
    const std::string& report = run.reports[0];
    const std::string stack = report.substr(0, report.find("Modules Information"));
    EXPECT_TRUE(
        std::regex_search(stack, std::regex("\\|crash_program\\.cpp *\\|[^|]*\\|main +\\|")))
        << stack;
    EXPECT_EQ(stack.find("WaitInWorker"), std::string::npos) << stack;
  }
}

// Faults while the program's code runs inside the loader, which holds the lock of its module
// list: a fault there, and a signal sent to a thread that waits there, are reported.
TEST_F(CrashTest, FaultInsideALoaderCallbackIsReported) {
  const CrashRun fault = Crash("loadercallback");
  EXPECT_EQ(fault.status, 1);
  ASSERT_EQ(fault.reports.size(), 1u);
  EXPECT_NE(fault.reports[0].find("WriteNull"), std::string::npos) << fault.reports[0];
  EXPECT_NE(fault.reports[0].find("libc.so"), std::string::npos) << fault.reports[0];
  // Sent once the worker waits in its poll (system call 7): a sent signal is reported where the
  // snapshot of its thread finds it, and the worker says READY just before it waits.
  const CrashRun sent = SignalIdleProgram(
      dir_,
      [](pid_t pid, pid_t, pid_t worker) {
        const std::string calls =
            "/proc/" + std::to_string(pid) + "/task/" + std::to_string(worker) + "/syscall";
        for (int i = 0; i < 10000; ++i) {
          std::string number;
          std::ifstream(calls) >> number;
          if (number == "7") break;
          std::this_thread::sleep_for(1ms);
        }
        ::syscall(SYS_tgkill, pid, worker, SIGSEGV);
      },
      "loaderworker");
  EXPECT_EQ(sent.status, 1);
  ASSERT_EQ(sent.reports.size(), 1u);
  EXPECT_NE(sent.reports[0].find("WaitInWorker"), std::string::npos) << sent.reports[0];
}

// One fault on the main thread and one on another thread at the same time: both reported,
// then the program ends.
TEST_F(CrashTest, FaultsOfTwoThreadsAtOnceAreBothReported) {
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const CrashRun run = SignalIdleProgram(dir_, [](pid_t pid, pid_t main_thread, pid_t worker) {
      ::syscall(SYS_tgkill, pid, main_thread, SIGSEGV);
      ::syscall(SYS_tgkill, pid, worker, SIGBUS);
    });
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.reports.size(), 2u);
    std::vector<std::string> types = {Field(run.reports[0], "2.4"), Field(run.reports[1], "2.4")};
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<std::string>{"EAccessViolation", "EBusError"}));
  }
}

// Four different fault signals sent to the process at once, as soon as it runs: each one is
// its own report, and the program ends after the last.
TEST_F(CrashTest, FourFaultSignalsSentAtOnceGiveFourReports) {
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const CrashRun run = SignalIdleProgram(dir_, [](pid_t pid, pid_t, pid_t) {
      for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGABRT}) ::kill(pid, signal);
    });
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> types;
    for (const std::string& report : run.reports) types.push_back(Field(report, "2.4"));
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<std::string>{"EAbortSignal", "EAccessViolation", "EBusError",
                                               "EMathError"}));
  }
  // One to each of the program's threads, the logger's own (which takes them while it waits)
  // included; the thread sanitizer's own thread blocks every signal for good.
#if defined(__SANITIZE_THREAD__)
  constexpr std::size_t unreachable = 1;
#else
  constexpr std::size_t unreachable = 0;
#endif
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    std::size_t sent = 0;
    const CrashRun run = SignalIdleProgram(dir_, [&sent](pid_t pid, pid_t, pid_t) {
      const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
      for (const auto& task : std::filesystem::directory_iterator(tasks))
        if (::syscall(SYS_tgkill, pid, std::atoi(task.path().filename().c_str()), SIGBUS) == 0)
          ++sent;
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(sent, 3 + unreachable);
    EXPECT_EQ(run.reports.size(), sent - unreachable);
    // Each thread where the signal found it: the logger's own in its wait, not in the report.
    for (const std::string& report : run.reports)
      EXPECT_EQ(report.find("|NotifySignal("), std::string::npos) << report;
  }
}

// The program's own code faults before main, while the logger still reads its data.
TEST_F(CrashTest, FaultWhileTheLoggerStartsIsReported) {
  const std::string copy = dir_ + "/early";
  ASSERT_EQ(std::system(("cp " + ShellQuote(CRASH_PROGRAM) + " " + ShellQuote(copy)).c_str()), 0);
  const test::ShellResult result = test::RunShellCommand(
      "cd " + ShellQuote(dir_) +
      " && QV_CRASH_AT_START=1 QUORVEL_DISPLAY=headless ASAN_OPTIONS=detect_leaks=0 ./early "
      "idle . 2>/dev/null; echo \"STATUS=$?\"");
  EXPECT_NE(result.output.find("STATUS=1\n"), std::string::npos) << result.output;
  TLogFile log(dir_ + "/early.olf");
  log.Load();
  ASSERT_EQ(log.Reports().size(), 1u);
  EXPECT_EQ(Field(log.Reports()[0], "2.4"), "EAccessViolation");
}

// The same fault in two runs is one report, though each run loads the program elsewhere.
TEST_F(CrashTest, DuplicateOfAnEarlierRunIsNotSavedAgain) {
  ASSERT_EQ(Crash("dupe").reports.size(), 1u);
  const CrashRun again = Crash("dupe");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.reports.size(), 1u);
  // Another fault is saved.
  EXPECT_EQ(Crash("worker").reports.size(), 2u);
}

// Each thread's signal stack goes with the thread, and the one it had before is put back for
// its maker to free: 4000 short threads leave the address space about where it was (the
// stacks left behind were a gigabyte, under the address sanitizer a fifth of one).
TEST_F(CrashTest, ShortThreadsLeaveNoSignalStacksBehind) {
  const CrashRun run = Crash("threads");
  EXPECT_EQ(run.status, 0);
  const std::size_t at = run.stdout_text.find("GROWTH=");
  ASSERT_NE(at, std::string::npos) << run.stdout_text;
  EXPECT_LT(std::atol(run.stdout_text.c_str() + at + 7), 32L << 10) << "kB";
}

// Programs failing at the same time keep every report in their shared log.
TEST_F(CrashTest, ParallelCrashesKeepEveryReport) {
  std::string command;
  for (int i = 0; i < 10; ++i) {
    command += "ASAN_OPTIONS=detect_leaks=0 " + ShellQuote(CRASH_PROGRAM) + " throw " +
               ShellQuote(dir_) + " >/dev/null 2>&1 & ";
  }
  command += "wait";
  test::RunShellCommand(command);
  TLogFile log(dir_ + "/crashlog_crash_program.olf");
  log.Load();
  EXPECT_TRUE(log.Intact());
  EXPECT_EQ(log.Reports().size(), 10u);
}

// A log whose first report starts at byte 1 cannot be read whole: it is kept as it was
// beside the new log.
TEST_F(CrashTest, UnreadableLogIsKeptBesideTheNewOne) {
  ASSERT_EQ(Crash("throw").reports.size(), 1u);
  const std::string file = dir_ + "/crashlog_crash_program.olf";
  ASSERT_EQ(Crash("worker").reports.size(), 2u);
  const std::string old = "\n" + test::ReadFile(file);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << old;
  const CrashRun run = Crash("null");
  EXPECT_EQ(run.status, 1);
  // What could be read (the report after the first) stays in the log with the new one.
  ASSERT_EQ(run.reports.size(), 2u);
  EXPECT_EQ(Field(run.reports[0], "2.5"), "Worker failed.");
  EXPECT_EQ(Field(run.reports[1], "2.4"), "EAccessViolation");
  EXPECT_EQ(test::ReadFile(file + ".unread"), old);
}

// With the whole log switched on the mail carries every stored report.
TEST_F(CrashTest, WholeLogIsMailed) {
  test::Aiosmtpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  ASSERT_EQ(Crash("throw").reports.size(), 1u);
  const CrashRun run = Crash("whole", std::to_string(server.Port()));
  ASSERT_EQ(run.reports.size(), 2u);
  const std::vector<std::filesystem::path> mail = server.Messages();
  ASSERT_EQ(mail.size(), 1u);
  const test::ParsedMail parsed = test::ParseMail(mail[0], {"Subject"});
  ASSERT_EQ(parsed.error, "");
  std::string attached;
  for (const test::MailPart& part : parsed.parts)
    if (part.fileName == "crashlog_crash_program.olf") attached = part.payload;
  EXPECT_EQ(attached, run.reports[0] + "\r\n" + run.reports[1] + "\r\n\r\n");
}

// On an X display: the report names the main form as the foreground window, and the trace
// that "-debug" asks for shows the logger's routines with their addresses in hexadecimal.
TEST_F(CrashTest, QuorvelOnAnXDisplayNamesItsFormAndTracesItsRoutines) {
  XvfbServer server("800x600x24");
  ASSERT_FALSE(server.Display().empty());
  const pid_t pid = StartQuorvelCopy(
      dir_ + "/run", "XDG_CONFIG_HOME=" + ShellQuote(dir_) + " DISPLAY=" + server.Display(),
      "-debug");
  ASSERT_GT(pid, 0);
  using Clock = std::chrono::steady_clock;
  const XTopLevel main = WaitForViewableXWindow(server.Display(), "Quorvel", Clock::now() + 120s);
  ASSERT_NE(main.window, 0u);
  // Shown comes a moment before activated.
  std::this_thread::sleep_for(1s);
  ::kill(pid, SIGSEGV);
  const XTopLevel dialog = WaitForViewableXWindow(server.Display(), "Error.", Clock::now() + 60s);
  ASSERT_NE(dialog.window, 0u);
  EXPECT_TRUE(SendXKey(server.Display(), dialog.window, 0xFF0D /* Return */));
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  TLogFile log(dir_ + "/quorvel.olf");
  log.Load();
  ASSERT_EQ(log.Reports().size(), 1u);
  const std::string& report = log.Reports()[0];
  EXPECT_EQ(Field(report, "3.1"), "TForm") << report;
  EXPECT_EQ(Field(report, "3.2"), "Quorvel");
  EXPECT_EQ(Field(report, "1.3"), QV_VERSION);
  // The module list gives the program's version too.
  const std::string modules = report.substr(report.find("Modules Information"));
  EXPECT_TRUE(std::regex_search(
      modules,
      std::regex("\\|quorvel +\\|[^|]*\\|" +
                 std::regex_replace(std::string(QV_VERSION), std::regex("\\."), "\\.") + " *\\|")))
      << modules;
  std::ifstream in(dir_ + "/quorvel.log");
  const std::string trace((std::istreambuf_iterator<char>(in)), {});
  for (const char* routine :
       {"  InstallOstrelLog(", "  GoNotify('EAccessViolation', $", "  InternalExceptNotify(",
        "  GetModuleEntryOf($", "  BuildCallStack($", "  ResolveAddress($", "  GatherSystemFacts(",
        "  BuildReport(", "  TLogFile.Save(", "  LoadDebugInformation(",
        "  PublishExceptionFacts($", "  HookImport(", "TLogFile.Save="}) {
    EXPECT_NE(trace.find(routine), std::string::npos) << routine;
  }
  EXPECT_TRUE(std::regex_search(trace, std::regex("\\(\\$[0-9A-F]{16}[,)]")));
}

// An unattended run ("-auto") that faults while it starts, before it has read its command
// line, on an X display: the report takes the dialog's default answer at once (a line on
// stderr) and the program ends, with nobody to close a dialog.
TEST_F(CrashTest, UnattendedRunFaultingAtStartWaitsForNobody) {
  XvfbServer server("800x600x24");
  ASSERT_FALSE(server.Display().empty());
  const pid_t pid = StartQuorvelCopy(
      dir_ + "/run",
      "DISPLAY=" + server.Display() + " QUORVEL_DISPLAY=x11 XDG_CONFIG_HOME=" + ShellQuote(dir_) +
          " LD_PRELOAD=" + ShellQuote(FAULT_AT_START),
      "-format=flac -AUTO");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(EndedWith(pid), 1) << Output();
  EXPECT_NE(Output().find("Error.: "), std::string::npos) << Output();
  TLogFile log(dir_ + "/quorvel.olf");
  log.Load();
  ASSERT_EQ(log.Reports().size(), 1u) << Output();
  EXPECT_EQ(Field(log.Reports()[0], "2.4"), "EAccessViolation");
}

// "quorvel.olf" beside the program taken by a link, a folder or a pipe: the report goes to the
// state folder, what the name holds stays as it was, and stderr says where the report went.
TEST_F(CrashTest, ReportBesideTheProgramTakenByANonFileGoesToTheStateFolder) {
  const std::string name = dir_ + "/quorvel.olf", target = dir_ + "/target",
                    state = dir_ + "/state/quorvel/quorvel.olf";
  for (const std::string kind : {"link", "folder", "pipe"}) {
    SCOPED_TRACE(kind);
    std::filesystem::remove_all(name);
    std::filesystem::remove_all(dir_ + "/state");
    std::ofstream(target) << "not a log";
    if (kind == "link") std::filesystem::create_symlink(target, name);
    if (kind == "folder") std::filesystem::create_directory(name);
    if (kind == "pipe") {
      ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    }
    const std::string runtime = dir_ + "/run-" + kind;
    const pid_t pid = StartQuorvelCopy(
        runtime, "QUORVEL_DISPLAY=headless XDG_STATE_HOME=" + ShellQuote(dir_ + "/state"), "");
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
      std::error_code error;
      started = !std::filesystem::is_empty(runtime + "/quorvel", error) && !error;
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(started);
    ::kill(pid, SIGSEGV);
    EXPECT_EQ(EndedWith(pid), 1) << Output();
    TLogFile log(state);
    log.Load();
    ASSERT_EQ(log.Reports().size(), 1u) << Output();
    EXPECT_EQ(Field(log.Reports()[0], "2.4"), "EAccessViolation");
    EXPECT_NE(Output().find("\"" + state + "\""), std::string::npos) << Output();
    std::ifstream in(target);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "not a log");
    EXPECT_EQ(std::filesystem::symlink_status(name).type(),
              kind == "link"     ? std::filesystem::file_type::symlink
              : kind == "folder" ? std::filesystem::file_type::directory
                                 : std::filesystem::file_type::fifo);
  }
}

}  // namespace
}  // namespace qv
