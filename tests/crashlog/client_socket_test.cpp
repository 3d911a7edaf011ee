// The logger's socket client against aiosmtpd and silent loopback listeners, and the MX
// lookup against a dnslib server on the loopback; crafted answers for the parser.
#include "crashlog/client_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crashlog/mx_record.h"
#include "crashlog/trace_log.h"
#include "tests/crashlog/dns_fixture.h"
#include "tests/peers/smtp_peer.h"

namespace qv {
namespace {

using test::Aiosmtpd;
using test::DnsFixture;

// A listener on 127.0.0.1 that never accepts: connections complete in its backlog and
// never hear a word.
class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  [[nodiscard]] uint16_t Port() const { return port_; }
  [[nodiscard]] bool HasPendingConnection() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

std::string ErrorOf(TOstrelClientSocket& socket, const std::function<void()>& action) {
  std::string seen_by_callback;
  socket.OnError = [&](const std::string& m) { seen_by_callback = m; };
  try {
    action();
  } catch (const EOstrelSocketError& e) {
    socket.OnError = nullptr;
    EXPECT_EQ(seen_by_callback, e.what()) << "the error callback sees every error";
    return e.what();
  }
  socket.OnError = nullptr;
  return "(no error)";
}

TEST(TOstrelClientSocketTest, TalksToAiosmtpd) {
  Aiosmtpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  TOstrelClientSMTP smtp("127.0.0.1", 10000, uint16_t(server.Port()));
  smtp.Connect();
  EXPECT_EQ(smtp.LastReply.rfind(
                "Connected to 127.0.0.1 port " + std::to_string(server.Port()) + "\r\n220 ", 0),
            0u)
      << smtp.LastReply;

  // EHLO has a multi-line answer: the whole of it is one reply, code 250.
  smtp.SendCommand("EHLO quorvel.test", {250});
  EXPECT_NE(smtp.Reply().find("250-"), std::string::npos) << smtp.Reply();
  EXPECT_NE(smtp.Reply().find("AUTH "), std::string::npos) << smtp.Reply();
  EXPECT_EQ(smtp.Reply().substr(smtp.Reply().rfind("\r\n", smtp.Reply().size() - 3) + 2, 4),
            "250 ");
  // The next command gets its own reply, not a leftover of the last one.
  smtp.SendCommand("NOOP", {250});
  EXPECT_EQ(smtp.Reply().substr(0, 4), "250 ");
  EXPECT_EQ(ErrorOf(smtp, [&] { smtp.SendCommand("MAIL FROM:<>", {354}); }).substr(0, 4), "250 ");
  EXPECT_EQ(ErrorOf(smtp, [&] { smtp.SendCommand("BOGUS", {250}); }).substr(0, 3), "500");

  // A peer that hangs up: a receive error, not a wait for the time-out.
  smtp.SendCommand("QUIT", {221});
  EXPECT_EQ(ErrorOf(smtp, [&] { (void)smtp.ReceiveWithTimeout(); }),
            "Error into \"recv\": \"Connection reset by peer\"");
  EXPECT_FALSE(smtp.Connected());
}

TEST(TOstrelClientSocketTest, SilentPeerTimesOut) {
  SilentListener silent;
  TOstrelClientSMTP smtp("127.0.0.1", 300, silent.Port());
  EXPECT_EQ(ErrorOf(smtp, [&] { smtp.Connect(); }), "Socket timeout.");

  TOstrelClientSocket quiet("127.0.0.1", 300, true, silent.Port());
  quiet.Silent = true;
  quiet.Connect();
  EXPECT_THROW((void)quiet.ReceiveWithTimeout(), EAbort);
}

TEST(TOstrelClientSocketTest, UnresolvableHostIsNeverTheLocalMachine) {
  SilentListener local;
  // A label of 64 bytes cannot be put into a DNS query, so nothing leaves the machine.
  const std::string unresolvable = std::string(64, 'a') + ".invalid";
  for (const std::string& host : {unresolvable, std::string("0.0.0.0")}) {
    SCOPED_TRACE(host);
    TOstrelClientSocket socket(host, 2000, true, local.Port());
    EXPECT_EQ(ErrorOf(socket, [&] { socket.Connect(); }).rfind("Connection error: \"", 0), 0u);
    EXPECT_FALSE(local.HasPendingConnection());
  }
  test::ClosedPort closed;
  TOstrelClientSocket refused("127.0.0.1", 2000, true, uint16_t(closed.Port()));
  EXPECT_EQ(ErrorOf(refused, [&] { refused.Connect(); }),
            "Connection error: \"Connection refused\"");
}

TEST(TOstrelClientSocketTest, SendStringReportsProgressPerPiece) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  TOstrelClientSocket socket("127.0.0.1", 10000, true, uint16_t(echo.Port()));
  std::vector<size_t> positions;
  socket.OnProgress = [&](size_t sent, size_t total) {
    EXPECT_EQ(total, 2500u);
    positions.push_back(sent);
  };
  socket.Connect();
  const std::string text(2500, 'x');
  EXPECT_EQ(socket.SendString(text), 2500);
  EXPECT_EQ(positions, (std::vector<size_t>{1024, 2048, 2500}));
  std::string back;
  while (back.size() < text.size()) back += socket.ReceiveWithTimeout();
  EXPECT_EQ(back, text);
}

TEST(MXRecordTest, LowestPreferenceFromTheFixture) {
  DnsFixture dns({"example.test", "20", "mx20.example.test", "example.test", "10",
                  "mx10.example.test", "solo.test", "5", "mail.solo.test"});
  ASSERT_TRUE(dns.Ok()) << dns.Error();
  SetMXLookupSettings(dns.Settings());
  EXPECT_EQ(ResolveMXRecord("someone@example.test"), "mx10.example.test");
  EXPECT_EQ(ResolveMXRecord("solo.test"), "mail.solo.test");  // no "@": the whole is the domain
  try {
    (void)ResolveMXRecord("x@nowhere.test");
    ADD_FAILURE() << "an unknown domain resolved";
  } catch (const EOstrelSocketError& e) {
    EXPECT_STREQ(e.what(), "Cannot resolve the \"nowhere.test\" MX record.");
  }
  EXPECT_EQ(test::ReadFile(dns.Log()), "example.test MX\nsolo.test MX\nnowhere.test MX\n");

  // Without configured servers the fallback is asked; switched off, nobody is.
  TMXLookupSettings settings = dns.Settings();
  const std::string empty = (dns.Dir() / "empty.conf").string();
  std::ofstream(empty) << "# nothing\n";
  settings.ResolvConf = empty;
  settings.FallbackServer = "127.0.0.1";
  SetMXLookupSettings(settings);
  EXPECT_EQ(ResolveMXRecord("a@solo.test"), "mail.solo.test");
  settings.FallbackServer.clear();
  SetMXLookupSettings(settings);
  EXPECT_THROW((void)ResolveMXRecord("a@solo.test"), EOstrelSocketError);
  EXPECT_EQ(test::ReadFile(dns.Log()),
            "example.test MX\nsolo.test MX\nnowhere.test MX\nsolo.test MX\n");
  SetMXLookupSettings({});
}

TEST(MXRecordTest, ResolverFileGivesIPv4ServersButNeverTheWildcard) {
  const std::string path = testing::TempDir() + "/resolv-test.conf";
  std::ofstream(path) << "# comment\nnameserver 0.0.0.0\nsearch example.test\n"
                         "nameserver 192.0.2.7\nnameserver ::1\nnameserver  198.51.100.1 \n"
                         "nameserver junk\noptions ndots:2\n";
  EXPECT_EQ(DnsServersFromFile(path), (std::vector<std::string>{"192.0.2.7", "198.51.100.1"}));
  EXPECT_TRUE(DnsServersFromFile(path + ".missing").empty());
}

// A DNS message built byte by byte.
struct Packet {
  std::vector<uint8_t> b;
  Packet& U16(uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
    return *this;
  }
  Packet& Name(const std::string& dotted) {
    size_t start = 0;
    while (start < dotted.size()) {
      size_t dot = dotted.find('.', start);
      if (dot == std::string::npos) dot = dotted.size();
      b.push_back(uint8_t(dot - start));
      b.insert(b.end(), dotted.begin() + long(start), dotted.begin() + long(dot));
      start = dot + 1;
    }
    b.push_back(0);
    return *this;
  }
  Packet& Bytes(std::initializer_list<uint8_t> bytes) {
    b.insert(b.end(), bytes);
    return *this;
  }
  // The header and the question for "ex.test" (the name sits at offset 12).
  static Packet Answer(uint16_t answers, uint16_t flags = 0x8180, uint16_t id = 0x1234) {
    Packet p;
    p.U16(id).U16(flags).U16(1).U16(answers).U16(0).U16(0).Name("ex.test").U16(15).U16(1);
    return p;
  }
  // An MX record owned by the question's name, exchange "<label>" + pointer to "ex.test".
  Packet& MX(uint16_t preference, const std::string& label, uint16_t type = 15) {
    U16(0xC00C).U16(type).U16(1).U16(0).U16(60).U16(uint16_t(2 + 1 + label.size() + 2));
    U16(preference).Bytes({uint8_t(label.size())});
    b.insert(b.end(), label.begin(), label.end());
    return U16(0xC00C);
  }
};

TEST(MXRecordTest, AnswerParserIsBoundedAndChecksWhatItReads) {
  struct Case {
    const char* what;
    Packet packet;
    std::string expected;
  };
  std::vector<Case> cases;
  cases.push_back({"compressed", Packet::Answer(2).MX(20, "mx20").MX(10, "mx10"), "mx10.ex.test"});
  cases.push_back(
      {"first of equals", Packet::Answer(2).MX(10, "one").MX(10, "two"), "one.ex.test"});
  {
    Packet p = Packet::Answer(1);
    p.Name("ex.test").U16(15).U16(1).U16(0).U16(60).U16(2 + 12).U16(7).Name("mx.ex.test");
    cases.push_back({"uncompressed owner", p, "mx.ex.test"});
  }
  {
    Packet p = Packet::Answer(2);
    p.U16(0xC00C).U16(5).U16(1).U16(0).U16(60).U16(2).U16(0xC00C);  // CNAME first
    p.MX(10, "mx");
    cases.push_back({"CNAME first", p, "mx.ex.test"});
  }
  cases.push_back({"CNAME only", Packet::Answer(1).MX(10, "cn", 5), ""});
  {
    // The exchange is a pointer to itself, then a record that is fine.
    Packet p = Packet::Answer(2);
    const auto self = uint16_t(p.b.size() + 14);
    p.U16(0xC00C).U16(15).U16(1).U16(0).U16(60).U16(4).U16(1).U16(0xC000 | self);
    p.MX(30, "ok");
    cases.push_back({"self-pointing exchange", p, "ok.ex.test"});
  }
  {
    Packet p = Packet::Answer(1);
    const auto here = uint16_t(p.b.size());
    p.U16(0xC000 | uint16_t(here + 2)).U16(0xC000 | here);  // two pointers chasing each other
    cases.push_back({"pointer loop in owner", p, ""});
  }
  {
    Packet p = Packet::Answer(1).MX(10, "mx");
    p.b[p.b.size() - 1] = 0xFF;  // exchange pointer beyond the datagram
    cases.push_back({"forward pointer", p, ""});
  }
  {
    Packet p = Packet::Answer(1).MX(10, "mx");
    p.b.resize(p.b.size() - 3);  // RDATA cut short
    cases.push_back({"truncated record", p, ""});
  }
  {
    Packet p = Packet::Answer(2).MX(10, "mx");
    p.Bytes({0xC0});  // second record cut inside its owner name
    cases.push_back({"truncated second record", p, "mx.ex.test"});
  }
  cases.push_back(
      {"more answers counted than present", Packet::Answer(9).MX(10, "mx"), "mx.ex.test"});
  cases.push_back({"wrong id", Packet::Answer(1, 0x8180, 0x4141).MX(10, "mx"), ""});
  cases.push_back({"a query, not an answer", Packet::Answer(1, 0x0100).MX(10, "mx"), ""});
  cases.push_back({"server error", Packet::Answer(1, 0x8183).MX(10, "mx"), ""});
  {
    Packet p;
    p.U16(0x1234).U16(0x8180).U16(1);
    cases.push_back({"header only", p, ""});
  }
  cases.push_back({"empty", Packet{}, ""});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An exact-size copy, so that AddressSanitizer sees any read past the datagram.
    const std::vector<uint8_t> exact(c.packet.b);
    EXPECT_EQ(ParseMXAnswer(exact, 0x1234), c.expected);
  }
}

TEST(MXRecordTest, QueryHasTheDomainAsLabels) {
  const std::string q = BuildMXQuery("ex..test.", 0xBEEF);
  EXPECT_EQ(q, std::string("\xBE\xEF\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
                           "\x02"
                           "ex\x04test\x00\x00\x0F\x00\x01",
                           12 + 9 + 4));
  EXPECT_EQ(BuildMXQuery(std::string(64, 'a') + ".test", 1), "");
  EXPECT_EQ(BuildMXQuery("", 1), "");
}

}  // namespace
}  // namespace qv
