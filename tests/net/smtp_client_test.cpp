// The mail client against aiosmtpd (a real SMTP server) and, for replies no sane
// server sends, against a scripted peer.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "net/smtpprot.h"
#include "platform/msg/pump.h"
#include "platform/sock/async_dns.h"
#include "tests/net/scripted_peer.h"
#include "tests/net/wait_for.h"
#include "tests/peers/smtp_peer.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::Aiosmtpd;
using test::ScriptedPeer;
using test::WaitFor;

// Drives one client and records its completions. Every request is started through
// `Run`, which also checks that the completion never comes from inside the call.
class Driver {
 public:
  explicit Driver(TCustomSmtpClient& c) : cli(c) {
    cli.Host = "127.0.0.1";
    cli.SignOn = "quorvel test";
    cli.OnRequestDone = [this](TCustomSmtpClient*, TSmtpRequest rq, std::uint16_t e) {
      EXPECT_FALSE(inCall) << "OnRequestDone called from inside the request";
      done.push_back({rq, e});
    };
    cli.OnCommand = [this](TCustomSmtpClient*, const std::string& cmd) { commands.push_back(cmd); };
  }

  // Starts a request and pumps until it completes; the error code, or -1 on time-out.
  int Run(const std::function<void()>& start, TSmtpRequest expected) {
    const std::size_t before = done.size();
    inCall = true;
    start();
    inCall = false;
    EXPECT_EQ(done.size(), before) << "completion must be posted";
    const bool finished = PumpUntil([&] { return done.size() > before; },
                                    std::chrono::steady_clock::now() + 30s) == PumpResult::Done;
    if (!finished) return -1;
    EXPECT_EQ(done.size(), before + 1);
    EXPECT_EQ(done.back().first, expected);
    // A second completion for the same request would show up here.
    ProcessMessages();
    EXPECT_EQ(done.size(), before + 1) << "one completion per request";
    return done.back().second;
  }
  int Open() {
    return Run([this] { cli.Open(); }, smtpOpen);
  }
  int Quit() {
    return Run([this] { cli.Quit(); }, smtpQuit);
  }
  [[nodiscard]] bool Sent(const std::string& prefix) const {
    for (const auto& c : commands) {
      if (c.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  TCustomSmtpClient& cli;
  bool inCall = false;
  std::vector<std::pair<TSmtpRequest, std::uint16_t>> done;
  std::vector<std::string> commands;
};

void Use(TCustomSmtpClient& cli, const test::Peer& peer) {
  ASSERT_TRUE(peer.Ok()) << peer.Error();
  cli.Port = std::to_string(peer.Port());
}

// Use, logging in with `type` as `user`.
void Use(TCustomSmtpClient& cli, const test::Peer& peer, TSmtpAuthType type,
         const std::string& user, const std::string& password) {
  Use(cli, peer);
  cli.AuthType = type;
  cli.Username = user;
  cli.Password = password;
}

TEST(SmtpClientTest, EachAuthenticationMethodIsAccepted) {
  Aiosmtpd server;
  const struct {
    TSmtpAuthType type;
    const char* mech;
    const char* user;
    std::string password;
  } cases[] = {
      {smtpAuthPlain, "PLAIN", "dave", "pw3"},
      {smtpAuthLogin, "LOGIN", "dave", "pw3"},
      {smtpAuthCramMD5, "CRAM-MD5", "dave", "pw3"},
      {smtpAuthCramSha1, "CRAM-SHA1", "dave", "pw3"},
      // Keys longer than a block are hashed first.
      {smtpAuthCramMD5, "CRAM-MD5", "long", std::string(70, 'L')},
      {smtpAuthCramSha1, "CRAM-SHA1", "long", std::string(70, 'L')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mech) + " " + c.user);
    TSmtpCli cli;
    Driver d(cli);
    Use(cli, server, c.type, c.user, c.password);
    // The envelope sender is no authentication identity.
    cli.FromName = "Some One <one@example.test>";
    EXPECT_EQ(d.Open(), 0) << cli.ErrorMessage();
    EXPECT_TRUE(cli.ESmtp());
    ASSERT_FALSE(server.AuthLog().empty());
    EXPECT_EQ(server.AuthLog().back(), std::string(c.mech) + " " + c.user + " ok");
    EXPECT_EQ(cli.State(), smtpReady);
    EXPECT_EQ(d.Quit(), 0);
    EXPECT_FALSE(cli.Connected());
  }
}

TEST(SmtpClientTest, AutomaticChoiceTakesTheStrongestOffered) {
  const struct {
    const char* offered;
    const char* chosen;
  } cases[] = {
      {"", "CRAM-SHA1"},
      {"LOGIN,PLAIN", "LOGIN"},
      {"LOGIN,CRAM-MD5", "CRAM-MD5"},
      {"PLAIN", "PLAIN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offered);
    Aiosmtpd server(Aiosmtpd::Options{false, c.offered});
    TSmtpCli cli;
    Driver d(cli);
    Use(cli, server, smtpAuthAutoSelect, "dave", "pw3");
    EXPECT_EQ(d.Open(), 0) << cli.ErrorMessage();
    EXPECT_TRUE(d.Sent(std::string("AUTH ") + c.chosen));
    EXPECT_EQ(server.AuthLog(), std::vector<std::string>{std::string(c.chosen) + " dave ok"});
    EXPECT_GE(cli.AuthTypesSupported().IndexOf(c.chosen), 0);
    EXPECT_EQ(d.Quit(), 0);
  }
}

TEST(SmtpClientTest, WrongPasswordFailsWithTheServersCode) {
  Aiosmtpd server;
  for (const auto type :
       {smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5, smtpAuthCramSha1, smtpAuthAutoSelect}) {
    SCOPED_TRACE(int(type));
    TSmtpCli cli;
    Driver d(cli);
    Use(cli, server, type, "dave", "wrong");
    EXPECT_EQ(d.Open(), 535);
    EXPECT_EQ(cli.LastResponse().substr(0, 3), "535");
    EXPECT_TRUE(cli.Connected()) << "the session stays open for another try";
    EXPECT_EQ(d.Quit(), 0);
  }
}

TEST(SmtpClientTest, HeloWhenEhloIsRefused) {
  Aiosmtpd server(Aiosmtpd::Options{true, ""});
  {
    TSmtpCli cli;
    Driver d(cli);
    Use(cli, server, smtpAuthAutoSelect, "dave", "pw3");
    EXPECT_EQ(d.Open(), 0) << cli.ErrorMessage();
    EXPECT_EQ(d.commands, (std::vector<std::string>{"EHLO quorvel_test", "HELO quorvel_test"}));
    EXPECT_FALSE(cli.ESmtp());
    EXPECT_EQ(d.Quit(), 0);
  }
  {
    // Whatever mechanism was asked for: without ESMTP there is no AUTH to run.
    TSmtpCli cli;
    Driver d(cli);
    Use(cli, server);
    cli.AuthType = smtpAuthLogin;
    EXPECT_EQ(d.Open(), 0) << cli.ErrorMessage();
    EXPECT_TRUE(d.Sent("HELO"));
    EXPECT_FALSE(d.Sent("AUTH"));
    EXPECT_EQ(d.Quit(), 0);
  }
  EXPECT_TRUE(server.AuthLog().empty());
}

TEST(SmtpClientTest, RefusedConnectionCompletesOnceAndReportsTheClose) {
  const test::ClosedPort closed;
  for (const auto type : {smtpAuthNone, smtpAuthLogin}) {
    SCOPED_TRACE(int(type));
    TSmtpCli cli;
    Driver d(cli);
    cli.Port = std::to_string(closed.Port());
    cli.AuthType = type;
    std::vector<std::string> sessions;
    cli.OnSessionConnected = [&](TCustomSmtpClient*, std::uint16_t e) {
      sessions.push_back("connected " + std::to_string(e));
    };
    cli.OnSessionClosed = [&](TCustomSmtpClient*, std::uint16_t e) {
      sessions.push_back("closed " + std::to_string(e));
    };
    EXPECT_EQ(d.Open(), 10061);
    EXPECT_EQ(cli.ErrorMessage(), "500 Connection refused (Winsock error #10061)");
    EXPECT_EQ(sessions, (std::vector<std::string>{"connected 10061", "closed 0"}));
    EXPECT_FALSE(cli.Connected());
  }
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(gen() & 0xFF);
  return s;
}

TEST(SmtpClientTest, MessageWithDotLinesAndAttachmentsArrivesIntact) {
  Aiosmtpd server;
  const auto dir = server.Dir() / "files";
  std::filesystem::create_directories(dir);
  const struct {
    const char* name;
    std::string bytes;
    const char* type;
  } files[] = {
      {"disc.bin", RandomBytes(10007, 1), "application/octet-stream"},
      {"exact.txt", std::string(54 * 3, 'q'), "text/plain"},  // whole base64 lines only
      {"cover.jpg", RandomBytes(1, 2), "image/jpeg"},
      {"empty.bin", "", "application/octet-stream"},
  };
  TStrings names;
  for (const auto& f : files) {
    std::ofstream(dir / f.name, std::ios::binary) << f.bytes;
    names.Add((dir / f.name).string());
  }

  TSmtpCli cli;
  Driver d(cli);
  Use(cli, server);
  cli.FromName = "Ripper <rip@example.test>";
  TStrings rcpt;
  rcpt.Add("a@example.test");
  rcpt.Add("Bee <b@example.test>");
  cli.SetRcptName(rcpt);
  cli.HdrFrom = "rip@example.test";
  cli.HdrTo = "a@example.test; b@example.test";
  cli.HdrSubject = "Disc submission";
  TStrings text;
  for (const char* line : {"first", ".", "..two dots", "", ".", "last"}) text.Add(line);
  // A text line with its own line breaks must not end the message early.
  text.Add("tail\r\n.\r\nQUIT");
  cli.SetMailMessage(text);
  cli.SetEmailFiles(names);
  std::vector<std::string> headerSeen;
  cli.OnHeaderLine = [&](TCustomSmtpClient*, std::string& line, int) {
    headerSeen.push_back(line);
  };

  ASSERT_EQ(d.Open(), 0) << cli.ErrorMessage();
  ASSERT_EQ(d.Run([&] { cli.Mail(); }, smtpMail), 0) << cli.ErrorMessage();
  int rcpts = 0;
  for (const auto& c : d.commands) rcpts += c.rfind("RCPT TO:", 0) == 0;
  EXPECT_EQ(rcpts, 2);
  EXPECT_EQ(d.Quit(), 0);

  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto mail = test::ParseMail(messages[0], {"Subject", "To", "X-Envelope-To", "X-Mailer"});
  ASSERT_TRUE(mail.error.empty()) << mail.error;
  ASSERT_EQ(mail.parts.size(), 1 + std::size(files));
  std::string body = mail.parts[0].payload;
  std::erase(body, '\r');
  EXPECT_EQ(body, "first\n.\n..two dots\n\n.\nlast\ntail\n.\nQUIT\n");
  EXPECT_EQ(mail.parts[0].contentType, "text/plain");
  EXPECT_EQ(mail.parts[0].charset, "iso-8859-1");
  for (std::size_t i = 0; i < std::size(files); ++i) {
    SCOPED_TRACE(files[i].name);
    const auto& part = mail.parts[i + 1];
    EXPECT_EQ(part.fileName, files[i].name);
    EXPECT_EQ(part.contentType, files[i].type);
    EXPECT_TRUE(part.payload == files[i].bytes) << part.payload.size();
  }
  EXPECT_EQ(mail.headers, (std::vector<std::string>{
                              "Subject: Disc submission", "To: a@example.test, b@example.test",
                              "X-Envelope-To: a@example.test", "X-Envelope-To: b@example.test",
                              "X-Mailer: Sarnic SMTP Component V2.40"}));
  ASSERT_FALSE(headerSeen.empty());
  bool multipart = false;
  for (const auto& h : headerSeen)
    multipart = multipart || h.rfind("Content-Type: multipart/mixed;", 0) == 0;
  EXPECT_TRUE(multipart) << "the handler sees the replaced content type";
}

std::vector<std::string> HeaderLines(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (;;) {
    const auto end = message.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    lines.push_back(message.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

TEST(SmtpClientTest, GeneratedHeaderComesInItsOrder) {
  Aiosmtpd server;
  TCustomSmtpClient cli;
  Driver d(cli);
  Use(cli, server);
  cli.FromName = "rip";  // one word without "@": the null sender
  TStrings rcpt;
  rcpt.Add("a@example.test");
  cli.SetRcptName(rcpt);
  cli.HdrReplyTo = "r1@example.test, \"Doe; J\" <r2@example.test>";
  cli.HdrReturnPath = "bounce@example.test";
  cli.HdrFrom = "rip@example.test";
  cli.HdrTo = "a@example.test";
  cli.HdrCc = "c@example.test;d@example.test";
  cli.HdrSubject = "S";
  cli.HdrPriority = smtpPriorityHigh;
  cli.SetContentType(smtpHtml);
  cli.CharSet = "utf-8";
  cli.OnProcessHeader = [](TCustomSmtpClient*, TStrings& lines) { lines.Add("X-Disc: 1"); };
  const std::vector<std::string> text = {"<p>hi</p>", ".hidden"};
  cli.OnGetData = [&](TCustomSmtpClient*, int n, std::string& line, int, bool& more) {
    if (n > int(text.size())) {
      more = false;
      return;
    }
    line = text[std::size_t(n - 1)];
  };
  ASSERT_EQ(d.Open(), 0);
  ASSERT_EQ(d.Run([&] { cli.Mail(); }, smtpMail), 0) << cli.ErrorMessage();
  EXPECT_TRUE(d.Sent("MAIL FROM:<>"));
  EXPECT_EQ(d.Quit(), 0);
  ASSERT_EQ(server.Messages().size(), 1u);
  const std::string stored = test::ReadFile(server.Messages()[0]);
  auto lines = HeaderLines(stored);
  ASSERT_GE(lines.size(), 3u);
  lines.erase(lines.begin(), lines.begin() + 3);  // the server's own X-Envelope/X-Auth lines
  const std::vector<std::string> expected = {
      "Reply-To: r1@example.test,",
      "\t\"Doe; J\" <r2@example.test>",
      "Return-Path: bounce@example.test",
      "From: rip@example.test",
      "To: a@example.test",
      "Cc: c@example.test,",
      "\td@example.test",
      "Subject: S",
      "Sender: rip@example.test",
      "Mime-Version: 1.0",
      "Content-Type: text/html; charset=\"utf-8\"",
      "DATE",
      "X-Priority: 2",
      "Priority: urgent",
      "X-MSMail-Priority: High",
      "X-Mailer: Sarnic SMTP Component V2.40",
      "X-Disc: 1",
  };
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (expected[i] == "DATE") {
      EXPECT_EQ(lines[i].rfind("Date: ", 0), 0u);
      EXPECT_EQ(lines[i].substr(lines[i].size() - 4), " GMT");
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  EXPECT_NE(stored.find("\r\n\r\n<p>hi</p>\r\n.hidden\r\n"), std::string::npos);
}

TEST(SmtpClientTest, FailedRecipientStopsTheMail) {
  Aiosmtpd server;
  TCustomSmtpClient cli;
  Driver d(cli);
  Use(cli, server);
  cli.FromName = "rip@example.test";
  TStrings rcpt;
  rcpt.Add("a@example.test");
  rcpt.Add("Broken <@@>");
  rcpt.Add("c@example.test");
  cli.SetRcptName(rcpt);
  ASSERT_EQ(d.Open(), 0);
  const int error = d.Run([&] { cli.Mail(); }, smtpMail);
  EXPECT_EQ(cli.ErrorMessage().substr(0, 3), std::to_string(error));
  EXPECT_EQ(error, 553);
  EXPECT_TRUE(d.Sent("RCPT TO:<@@>"));
  EXPECT_FALSE(d.Sent("RCPT TO:<c@"));
  EXPECT_FALSE(d.Sent("DATA"));
  EXPECT_EQ(d.Run([&] { cli.Rset(); }, smtpRset), 0);
  EXPECT_EQ(d.Quit(), 0);
  EXPECT_TRUE(server.Messages().empty());
}

TEST(SmtpClientTest, AttachmentHooksSkipOrAbort) {
  Aiosmtpd server;
  const auto dir = server.Dir() / "files";
  std::filesystem::create_directories(dir);
  TStrings names;
  for (const char* n : {"one.txt", "two.txt", "three.txt"}) {
    std::ofstream(dir / n, std::ios::binary) << n;
    names.Add((dir / n).string());
  }
  const auto setUp = [&](TSmtpCli& cli) {
    Use(cli, server);
    cli.FromName = "rip@example.test";
    TStrings rcpt;
    rcpt.Add("a@example.test");
    cli.SetRcptName(rcpt);
    TStrings text;
    text.Add("body");
    cli.SetMailMessage(text);
    cli.SetEmailFiles(names);
  };
  {
    // Skipped before and after opening: only the middle file goes, and the
    // multipart message is still closed properly.
    TSmtpCli cli;
    Driver d(cli);
    setUp(cli);
    cli.OnBeforeFileOpen = [](TCustomSmtpClient*, int idx, const std::string&, int& action) {
      if (idx == 0) action = 1;
    };
    cli.OnAfterFileOpen = [](TCustomSmtpClient*, int idx, const std::string&,
                             const std::exception* e, int& action) {
      EXPECT_EQ(e, nullptr);
      if (idx == 2) action = 1;
    };
    cli.OnAttachHeader = [](TCustomSmtpClient*, int, const std::string&, TStrings& lines) {
      lines.Add("Content-Description: track list");
    };
    ASSERT_EQ(d.Open(), 0);
    ASSERT_EQ(d.Run([&] { cli.Mail(); }, smtpMail), 0) << cli.ErrorMessage();
    EXPECT_EQ(d.Quit(), 0);
    ASSERT_EQ(server.Messages().size(), 1u);
    const auto mail = test::ParseMail(server.Messages()[0], {});
    ASSERT_TRUE(mail.error.empty()) << mail.error;
    ASSERT_EQ(mail.parts.size(), 2u);
    EXPECT_EQ(mail.parts[1].fileName, "two.txt");
    EXPECT_EQ(mail.parts[1].payload, "two.txt");
    EXPECT_NE(test::ReadFile(server.Messages()[0]).find("Content-Description: track list"),
              std::string::npos);
    std::filesystem::remove(server.Messages()[0]);
  }
  {
    // A file that disappeared after it was chosen: the message is not sent without it.
    TSmtpCli cli;
    Driver d(cli);
    setUp(cli);
    std::filesystem::remove(dir / "three.txt");
    bool reported = false;
    cli.OnAfterFileOpen = [&](TCustomSmtpClient*, int idx, const std::string&,
                              const std::exception* e, int&) {
      if (idx == 2) reported = e != nullptr;
    };
    ASSERT_EQ(d.Open(), 0);
    EXPECT_EQ(d.Run([&] { cli.Mail(); }, smtpMail), 426);
    EXPECT_TRUE(reported);
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(cli.State(), smtpReady);
  }
  EXPECT_TRUE(server.Messages().empty());
}

TEST(SmtpClientTest, ValuesWithLineBreaksAreRefusedBeforeAnythingIsSent) {
  Aiosmtpd server;
  TSmtpCli cli;
  Driver d(cli);
  Use(cli, server);
  ASSERT_EQ(d.Open(), 0);
  TStrings rcpt;
  rcpt.Add("a@example.test");
  cli.SetRcptName(rcpt);
  const std::size_t sent = d.commands.size();
  cli.FromName = "x@example.test>\r\nRCPT TO:<victim@example.test";
  EXPECT_THROW(cli.MailFrom(), SmtpException);
  EXPECT_THROW(cli.Mail(), SmtpException);
  cli.FromName = "x@example.test";
  cli.HdrSubject = "hi\r\nBcc: victim@example.test";
  EXPECT_THROW(cli.Mail(), SmtpException);
  cli.HdrSubject = "hi";
  rcpt.Add("b@example.test>\nDATA");
  cli.SetRcptName(rcpt);
  EXPECT_THROW(cli.RcptTo(), SmtpException);
  EXPECT_EQ(d.commands.size(), sent);
  EXPECT_EQ(cli.State(), smtpReady);
  EXPECT_EQ(d.Quit(), 0);
  EXPECT_TRUE(server.Messages().empty());
}

// Scripted servers: replies a real server would not send.

TEST(SmtpClientTest, OverlongReplyLineEndsTheRequest) {
  ScriptedPeer peer(
      {ScriptedPeer::SendBytes(std::string(5000, 'x')), ScriptedPeer::ReadUntil("z")});
  TSmtpCli cli;
  Driver d(cli);
  cli.Port = std::to_string(peer.Port());
  EXPECT_EQ(d.Run([&] { cli.Connect(); }, smtpConnect), 500);
  EXPECT_EQ(cli.ErrorMessage(), "500 Reply line too long.");
  EXPECT_FALSE(cli.Connected());
}

TEST(SmtpClientTest, BareCodeLineInTheEhloReplyIsNoExtension) {
  ScriptedPeer peer({ScriptedPeer::SendBytes("220 hi\r\n"), ScriptedPeer::ReadUntil("EHLO"),
                     ScriptedPeer::SendBytes("250-hi\r\n250-AUTH PLAIN\r\n250  \r\n"),
                     ScriptedPeer::ReadUntil("QUIT"), ScriptedPeer::SendBytes("221 bye\r\n")});
  TSmtpCli cli;
  Driver d(cli);
  cli.Port = std::to_string(peer.Port());
  ASSERT_EQ(d.Run([&] { cli.Connect(); }, smtpConnect), 0) << cli.ErrorMessage();
  EXPECT_EQ(d.Run([&] { cli.Ehlo(); }, smtpEhlo), 0) << cli.ErrorMessage();
  EXPECT_TRUE(cli.ESmtp());
  EXPECT_EQ(cli.AuthTypesSupported().IndexOf("PLAIN"), 0);
  EXPECT_TRUE(cli.Connected());
  EXPECT_EQ(d.Quit(), 0);
}

// A line after the 221 that nobody waits for: the connection is dropped and the QUIT
// fails, without the error leaving the client.
TEST(SmtpClientTest, ReplyNobodyWaitsForFailsTheRequest) {
  ScriptedPeer peer({ScriptedPeer::SendBytes("220 hi\r\n"), ScriptedPeer::ReadUntil("QUIT"),
                     ScriptedPeer::SendBytes("221 bye\r\n250 stray\r\n"),
                     ScriptedPeer::ReadUntil("z")});
  TSmtpCli cli;
  Driver d(cli);
  cli.Port = std::to_string(peer.Port());
  ASSERT_EQ(d.Run([&] { cli.Connect(); }, smtpConnect), 0) << cli.ErrorMessage();
  EXPECT_EQ(d.Quit(), 500);
  EXPECT_EQ(cli.ErrorMessage(), "500 Program error: FNext is nil");
  EXPECT_FALSE(cli.Connected());
  EXPECT_EQ(cli.State(), smtpReady);
}

// An abort while the host's answer is already queued still ends the connect, once, and
// leaves the client ready.
TEST(SmtpClientTest, AbortAfterTheLookupWasAnswered) {
  SetHostResolver([](const std::string&, std::vector<in_addr>& out) {
    out.push_back(in_addr{htonl(INADDR_LOOPBACK)});
    return 0;
  });
  TSmtpCli cli;
  Driver d(cli);
  cli.Host = "peer.test";
  cli.Port = "25";
  cli.Connect();
  const bool queued = test::WaitUntilQueued(WM_USER + 2);
  SetHostResolver({});
  ASSERT_TRUE(queued);
  EXPECT_NO_THROW(cli.Abort());
  EXPECT_EQ(cli.State(), smtpReady);
  ASSERT_TRUE(WaitFor([&] { return !d.done.empty(); }));
  ProcessMessages();
  ASSERT_EQ(d.done.size(), 1u);
  EXPECT_EQ(d.done.back(), std::make_pair(smtpConnect, std::uint16_t(426)));
  EXPECT_FALSE(cli.Connected());
}

}  // namespace
}  // namespace qv
