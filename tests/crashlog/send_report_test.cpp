// Sending a report, checked by what arrives: aiosmtpd stores the messages and Python's
// email package takes them apart; the mail-client way runs recording stand-ins for
// sendmail and xdg-email.
#include "crashlog/send_report.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crashlog/module_options.h"
#include "crashlog/trace_log.h"
#include "platform/base/text.h"
#include "tests/crashlog/dns_fixture.h"
#include "tests/fixtures/loopback.h"
#include "tests/peers/smtp_peer.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::Aiosmtpd;
using test::ParseMail;
using test::ReadFile;

// A report with what breaks naive mail code: a line that is a lone ".", a line starting
// with a dot, bare LF line ends, "&" and "%", and UTF-8.
const std::string kReport =
    "OstrelLog 4.5.4\r\n\r\n1.1 Start Date : Sun, 6 Dec 2026\r\n.\r\n.hidden\n"
    "2.5 Message    : Access violation at \"a&b%20c\" in Grüße\r\n";
const std::string kMessage = "The program failed.\r\n.\r\nRegards & thanks";

std::string Lf(std::string s) {
  return StringReplace(s, "\r\n", "\n", rfReplaceAll);
}

class SendReportTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) / ("send-report-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    // The attachment folder is made here, so the test sees it go.
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    screenshot_ = (dir_ / "Screenshot.png").string();
    const std::string make_png =
        "/usr/bin/python3 -c \"from PIL import Image; "
        "Image.new('RGB', (4, 3), (200, 30, 30)).save('" +
        screenshot_ + "')\"";
    ASSERT_EQ(std::system(make_png.c_str()), 0);
    options_.SetEMailFrom("logger@quorvel.test");
    options_.SetSMTPHost("127.0.0.1");
    options_.SetEMailAddresses("a@x, b@y");
    options_.SetEMailSubject("Crash report");
    options_.SetEMailMessage(kMessage);
    options_.SetSendWay(swSMTPClient);
    ClearLastWarning();
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    ::unsetenv("QUORVEL_DISPLAY");
    ::unsetenv("QUORVEL_REGISTRY");
    ::unsetenv("QV_MAIL_DIR");
    SetMailPrograms({});
    SetMXLookupSettings({});
    fs::remove_all(dir_);
  }
  TReportToSend Report() const {
    TReportToSend r;
    r.Report = kReport;
    r.LogFileName = "/opt/quorvel/quorvel.olf";
    r.ScreenshotFile = screenshot_;
    return r;
  }
  // The peers make their folders in TMPDIR too; only the logger's must be gone.
  bool TempFolderEmpty() const {
    for (const auto& e : fs::directory_iterator(dir_ / "tmp")) {
      if (e.path().filename().string().starts_with("ostrellog-")) return false;
    }
    return true;
  }
  // A stand-in program that records its arguments (one a line) and its input.
  std::string Recorder(const std::string& name, int exit_code) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << path << ".args'\ncat > '"
                        << path << ".in'\nexit " << exit_code << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  fs::path dir_;
  std::string screenshot_;
  TOstrelModuleOptions options_;
};

class RecordingProgress : public TSendProgress {
 public:
  void Status(const std::string& text) override { statuses.push_back(text); }
  void Position(int percent) override {
    last = percent;
    positions.emplace_back(statuses.empty() ? "" : statuses.back(), percent);
  }
  void Close() override { ++closed; }
  std::vector<std::string> statuses;
  // Each position with the status shown at the time.
  std::vector<std::pair<std::string, int>> positions;
  int last = -1;
  int closed = 0;
};

TEST_F(SendReportTest, SMTPServesEachRecipientWithReportAndScreenshotAttached) {
  Aiosmtpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  options_.SetSMTPPort(uint16_t(server.Port()));
  RecordingProgress progress;
  TReportToSend report = Report();
  report.Progress = &progress;
  std::vector<int> notified;
  report.OnActionNotify = [&](int code, bool&) { notified.push_back(code); };
  ASSERT_TRUE(SendReport(options_, report)) << LastWarningMessage();
  EXPECT_EQ(notified, (std::vector<int>{4, 5}));
  EXPECT_TRUE(TempFolderEmpty());

  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string png = ReadFile(screenshot_);
  for (size_t i = 0; i < 2; ++i) {
    const std::string to = i == 0 ? "a@x" : "b@y";
    SCOPED_TRACE(to);
    const auto mail = ParseMail(messages[i], {"X-Envelope-To", "To", "Subject", "X-Library"});
    ASSERT_EQ(mail.error, "");
    EXPECT_EQ(mail.headers,
              (std::vector<std::string>{"X-Envelope-To: " + to, "To: <" + to + ">",
                                        "Subject: Crash report", "X-Library: OstrelLog 4.5.4"}));
    ASSERT_EQ(mail.parts.size(), 3u);
    EXPECT_EQ(mail.parts[0].contentType, "text/plain");
    // The lone "." line arrived: dot-stuffing kept the data going.
    EXPECT_EQ(Lf(mail.parts[0].payload), Lf(kMessage));
    EXPECT_EQ(mail.parts[1].fileName, "quorvel.olf");
    EXPECT_EQ(mail.parts[1].payload, kReport);
    EXPECT_EQ(mail.parts[2].contentType, "image/png");
    EXPECT_EQ(mail.parts[2].fileName, "Screenshot.png");
    EXPECT_EQ(mail.parts[2].payload, png);
  }
  ASSERT_GE(progress.statuses.size(), 6u);
  EXPECT_EQ(progress.statuses[0], "a@x 1/2: Connecting with SMTP server...");
  EXPECT_EQ(progress.statuses[1], "Connected with SMTP server.");
  EXPECT_EQ(progress.statuses[2], "Sending message...");
  EXPECT_EQ(progress.statuses[3], "b@y 2/2: Connecting with SMTP server...");
  EXPECT_EQ(progress.statuses.back(), "Sending message...");
  EXPECT_EQ(progress.last, 100);
  EXPECT_EQ(progress.closed, 1);
  // The bar moves only while the message goes out; the commands before it leave it empty.
  for (const auto& [status, percent] : progress.positions) {
    if (!status.ends_with("Sending message...")) {
      EXPECT_EQ(percent, 0) << status;
    }
  }
}

TEST_F(SendReportTest, AuthLoginRetryAndReportInTheBody) {
  Aiosmtpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  options_.SetSMTPPort(uint16_t(server.Port()));
  options_.SetSMTPUserID("dave");
  options_.SetSMTPPassword("wrong");
  options_.SetAppendLogInBody(true);
  TReportToSend report = Report();
  report.ScreenshotFile = (dir_ / "missing.png").string();
  int asked = 0;
  report.OnActionError = [&](int code, bool& retry) {
    EXPECT_EQ(code, 5);
    retry = ++asked < 2;
  };
  EXPECT_FALSE(SendReport(options_, report));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(server.AuthLog().size(), 4u) << "two tries for each of two recipients";
  EXPECT_EQ(LastWarningCode(), eeEmailSMTPError);
  EXPECT_EQ(LastWarningMessage().substr(0, 3), "535");
  // Cleared at notification 4, nothing is sent.
  report.OnActionNotify = [](int code, bool& execute) { execute = code != 4; };
  EXPECT_FALSE(SendReport(options_, report));
  EXPECT_EQ(server.AuthLog().size(), 4u);
  EXPECT_TRUE(TempFolderEmpty());

  options_.SetSMTPPassword("pw3");
  options_.SetEMailAddresses("a@x");
  ASSERT_TRUE(SendReport(options_, Report())) << LastWarningMessage();
  EXPECT_EQ(server.AuthLog().back(), "LOGIN dave ok");
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto mail = ParseMail(messages[0], {"X-Auth"});
  ASSERT_EQ(mail.error, "");
  EXPECT_EQ(mail.headers, (std::vector<std::string>{"X-Auth: b'dave'"}));
  ASSERT_EQ(mail.parts.size(), 2u) << "the screenshot, no log attachment";
  EXPECT_EQ(mail.parts[0].charset, "utf-8");
  EXPECT_EQ(Lf(mail.parts[0].payload), Lf(kMessage + "\r\n\r\n\r\n" + kReport));
}

TEST_F(SendReportTest, DirectSendGoesToTheMailExchanger) {
  Aiosmtpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  test::DnsFixture dns({"x.test", "10", "localhost", "x.test", "20", "backup.invalid"});
  ASSERT_TRUE(dns.Ok()) << dns.Error();
  SetMXLookupSettings(dns.Settings());
  options_.SetSendWay(swSMTPServer);
  options_.SetSMTPHost("unused.invalid");
  // No progress seam: the "SMTP" window runs beside the send, on the headless back end.
  ::setenv("QUORVEL_DISPLAY", "headless", 1);
  options_.SetSMTPPort(uint16_t(server.Port()));
  options_.SetEMailAddresses("c@x.test; d@nowhere.test");
  EXPECT_TRUE(SendReport(options_, Report()));
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto mail = ParseMail(messages[0], {"X-Envelope-To"});
  EXPECT_EQ(mail.headers, (std::vector<std::string>{"X-Envelope-To: c@x.test"}));
  EXPECT_EQ(LastWarningMessage(), "Cannot resolve the \"nowhere.test\" MX record.");
}

TEST_F(SendReportTest, MailClientWayThenMailToLink) {
  TReportToSend report = Report();
  report.ReproduceSteps = "Clicked Rip.";
  struct Case {
    const char* what;
    int sendmail_exit;
    bool sendmail_exists;
    bool link_expected;
    const char* warning;
  };
  const Case cases[] = {
      {"sendmail delivers", 0, true, false, ""},
      {"sendmail fails", 1, true, true, "Cannot send the MAPI message."},
      {"no sendmail", 0, false, true, "Cannot open the MAPI dll."},
  };
  options_.SetSendWay(swEMailClient);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearLastWarning();
    const std::string sendmail = Recorder("sendmail", c.sendmail_exit);
    const std::string xdg = Recorder("xdg-email", 0);
    fs::remove(sendmail + ".in");
    fs::remove(xdg + ".args");
    SetMailPrograms({c.sendmail_exists ? sendmail : sendmail + ".absent", xdg, "/nonexistent"});
    EXPECT_TRUE(SendReport(options_, report));
    EXPECT_EQ(LastWarningMessage(), c.warning);
    EXPECT_TRUE(TempFolderEmpty());
    if (c.sendmail_exists) {
      EXPECT_EQ(ReadFile(sendmail + ".args"), "-t\n-i\n");
      const std::string eml = (dir_ / "sendmail.eml").string();
      fs::copy_file(sendmail + ".in", eml, fs::copy_options::overwrite_existing);
      const auto mail = ParseMail(eml, {"To", "From"});
      ASSERT_EQ(mail.error, "");
      EXPECT_EQ(mail.headers,
                (std::vector<std::string>{"To: <a@x>, <b@y>", "From: <logger@quorvel.test>"}));
      ASSERT_EQ(mail.parts.size(), 3u);
      EXPECT_EQ(mail.parts[1].payload, kReport);
      EXPECT_EQ(ReadFile(sendmail + ".in").find('\r'), std::string::npos)
          << "sendmail reads Unix line ends";
    }
    if (!c.link_expected) {
      EXPECT_FALSE(fs::exists(xdg + ".args"));
      continue;
    }
    // One argument, every special character of the report encoded, "&" gone from the
    // configured message only.
    EXPECT_EQ(ReadFile(xdg + ".args"),
              "mailto:a@x,b@y?Subject=Crash%20report&Body="
              "The%20program%20failed.%0D%0A.%0D%0ARegards%20%20thanks%0D%0A%0D%0A%0D%0A"
              "OstrelLog%204.5.4%0D%0A%0D%0A1.1%20Start%20Date%20%3A%20Sun%2C%206%20Dec%202026"
              "%0D%0A.%0D%0A.hidden%0D%0A2.5%20Message%20%20%20%20%3A%20Access%20violation%20at"
              "%20%22a%26b%2520c%22%20in%20Gr%C3%BC%C3%9Fe%0D%0A%0D%0A%0D%0A%0D%0A"
              "Clicked%20Rip.\n");
  }

  // Without xdg-email the link goes to xdg-open; without either, nothing is sent.
  const std::string open = Recorder("xdg-open", 0);
  SetMailPrograms({"/nonexistent/sendmail", "/nonexistent/xdg-email", open});
  EXPECT_TRUE(SendReport(options_, report));
  EXPECT_EQ(ReadFile(open + ".args").rfind("mailto:a@x,b@y?Subject=Crash%20report&Body=", 0), 0u);
  SetMailPrograms({"/nonexistent/sendmail", "/nonexistent/xdg-email", "/nonexistent/xdg-open"});
  EXPECT_FALSE(SendReport(options_, report));
  EXPECT_EQ(LastWarningCode(), eeEmailShellError);
}

TEST_F(SendReportTest, RegisteredMailToCommandTakesTheLinkAsOneArgument) {
  ::setenv("QUORVEL_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
  ::setenv("QV_MAIL_DIR", dir_.c_str(), 1);
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, "\\mailto\\shell\\open\\command", ""), "");
  const std::string handler = Recorder("mail handler", 0);
  {
    TRegistry registry;
    registry.SetRootKey(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(registry.OpenKey("\\mailto\\shell\\open\\command", true));
    registry.WriteString("", "\"%QV_MAIL_DIR%/mail handler\" -compose \"%1\" %UNSET_QV_NAME%");
    registry.WriteInteger("Flags", 0x00434241);
  }
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", "Flags"), "ABC");
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, "\\mailto\\shell\\open\\command", "None"), "");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "\\mailto\\shell\\open\\command", ""), "");

  const std::string xdg = Recorder("xdg-email", 0);
  SetMailPrograms({"/nonexistent/sendmail", xdg, "/nonexistent/xdg-open"});
  EXPECT_TRUE(SendByShell("a@x", "Crash; $(touch pwned) report", "Line 1\r\n`x` & y"));
  EXPECT_EQ(ReadFile(handler + ".args"),
            "-compose\n"
            "mailto:a@x?Subject=Crash%3B%20%24%28touch%20pwned%29%20report&Body=Line%201%0D%0A%60x%"
            "60%20%26%20y\n"
            "%UNSET_QV_NAME%\n");
  EXPECT_FALSE(fs::exists(xdg + ".args")) << "the registered command comes first";
  EXPECT_FALSE(fs::exists(dir_ / "pwned"));
}

// A mail server on 127.0.0.1 that takes one message and never answers QUIT; it notes
// whether the client closed the connection within `wait_for_close` after it.
class SilentQuitServer {
 public:
  explicit SilentQuitServer(std::chrono::seconds wait_for_close) {
    int port = 0;
    listener_ = test::ListenOnLoopback(0, 1, port);
    port_ = uint16_t(port);
    thread_ = std::thread([this, wait_for_close] { Serve(wait_for_close); });
  }
  ~SilentQuitServer() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  [[nodiscard]] uint16_t Port() const { return port_; }
  // Waits for the conversation to end; then what the server saw.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool got_message = false, got_quit = false, closed_after_quit = false;

 private:
  void Serve(std::chrono::seconds wait_for_close) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 30000) != 1) return;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    auto say = [fd](const std::string& line) {
      return ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
    };
    std::string in;
    bool data = false;
    say("220 silent\r\n");
    for (;;) {
      pollfd q{fd, POLLIN, 0};
      const int wait = got_quit ? int(wait_for_close.count() * 1000) : 30000;
      if (::poll(&q, 1, wait) != 1) break;
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed_after_quit = got_quit && n == 0;
        break;
      }
      in.append(buffer, size_t(n));
      for (size_t end; !data && (end = in.find("\r\n")) != std::string::npos;) {
        const std::string line = in.substr(0, end);
        in.erase(0, end + 2);
        if (line == "QUIT") {
          got_quit = true;  // and no answer
        } else if (line == "DATA") {
          data = true;
          say("354 go on\r\n");
        } else {
          say("250 ok\r\n");
        }
      }
      if (data && in.find("\r\n.\r\n") != std::string::npos) {
        got_message = true;
        data = false;
        in.erase(0, in.find("\r\n.\r\n") + 5);
        say("250 queued\r\n");
      }
    }
    ::close(fd);
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST_F(SendReportTest, AServerThatNeverAnswersQuitDoesNotHoldTheSender) {
  // Far below the conversation's own time-out, far above the wait for the QUIT answer.
  SilentQuitServer server(std::chrono::seconds(15));
  ASSERT_NE(server.Port(), 0);
  EXPECT_TRUE(SendBySMTP(false, "logger@quorvel.test", "127.0.0.1", {}, "body", "Crash report",
                         "a@x", "", "", server.Port()));
  server.Join();
  EXPECT_TRUE(server.got_message);
  EXPECT_TRUE(server.got_quit);
  EXPECT_TRUE(server.closed_after_quit) << "the sender still waited for the QUIT answer";
  EXPECT_EQ(LastWarningCode(), 0);
}

TEST(MailMessageTest, HeadersDateAndTransparency) {
  // Zones with minutes keep them, and the offset in force at that moment is used.
  const std::time_t when = 1780000000;  // 2026-05-28 20:26:40 UTC
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  ::setenv("TZ", "IST-5:30", 1);
  ::tzset();
  EXPECT_EQ(RFC822Date(when), "Fri, 29 May 2026 01:56:40 +0530");
  ::setenv("TZ", "NST3:30NDT,M3.2.0,M11.1.0", 1);
  ::tzset();
  EXPECT_EQ(RFC822Date(when), "Thu, 28 May 2026 17:56:40 -0230");
  old_tz != nullptr ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();

  const std::string m =
      BuildMailMessage("f@x", "<t@y>\r\nBcc: evil@z", "Grüße\r\nX: y", "body", {}, when);
  EXPECT_NE(m.find("\r\nTo: <t@y>Bcc: evil@z\r\n"), std::string::npos) << "no header injection";
  EXPECT_NE(m.find("\r\nSubject: =?UTF-8?B?R3LDvMOfZVg6IHk=?=\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\nFrom: <f@x>\r\n"), std::string::npos) << m;
  EXPECT_EQ(BuildMailMessage("", "<t@y>", "s", "body", {}, when).find("From:"), std::string::npos);

  EXPECT_EQ(SMTPData(".\r\n..a\nb\r.c"), "..\r\n...a\r\nb\r\n..c\r\n.\r\n");
  EXPECT_EQ(SplitRecipients(" a@x ,, ;b@y;"), (std::vector<std::string>{"a@x", "b@y"}));
  EXPECT_EQ(MailBase64Encode("pw3"), "cHcz");
  EXPECT_EQ(MailBase64Encode("ab"), "YWI=");
}

}  // namespace
}  // namespace qv
