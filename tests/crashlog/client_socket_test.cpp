// The logger's socket client against aiosmtpd and silent loopback listeners, and the MX
// lookup against a dnslib server on the loopback; crafted answers for the parser.
#include "crashlog/client_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
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

  // Neither a name that does not resolve nor 0.0.0.0 reaches the server on this machine
  // (a connection would be greeted). A 64-byte label cannot be put into a DNS query, so
  // nothing leaves the machine either.
  test::ClosedPort closed;
  const std::pair<std::string, int> targets[] = {{std::string(64, 'a') + ".invalid", server.Port()},
                                                 {"0.0.0.0", server.Port()},
                                                 {"127.0.0.1", closed.Port()}};
  for (const auto& [host, port] : targets) {
    SCOPED_TRACE(host);
    TOstrelClientSMTP socket(host, 2000, uint16_t(port));
    EXPECT_EQ(ErrorOf(socket, [&] { socket.Connect(); }).rfind("Connection error: \"", 0), 0u);
  }
}

TEST(TOstrelClientSocketTest, SilentPeerTimesOut) {
  // The DNS fixture's TCP port takes connections and never says a word.
  DnsFixture silent({});
  ASSERT_TRUE(silent.Ok()) << silent.Error();
  TOstrelClientSMTP smtp("127.0.0.1", 300, uint16_t(silent.Port()));
  EXPECT_EQ(ErrorOf(smtp, [&] { smtp.Connect(); }), "Socket timeout.");

  TOstrelClientSocket quiet("127.0.0.1", 300, true, uint16_t(silent.Port()));
  quiet.Silent = true;
  quiet.Connect();
  EXPECT_THROW((void)quiet.ReceiveWithTimeout(), EAbort);
}

// A loopback server that greets with `head`, then repeats `body` until `limit` bytes went
// out (or the client left), then holds the connection open without a word.
class FloodServer {
 public:
  FloodServer(std::string head, std::string body, size_t limit) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listen_, 1) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, head = std::move(head), body = std::move(body), limit] {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      std::string chunk;
      while (chunk.size() < 65536) chunk += body;
      size_t sent = 0;
      for (std::string_view left = head; !left.empty();) {
        const ssize_t n = ::send(fd, left.data(), left.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        left.remove_prefix(size_t(n));
        sent += size_t(n);
      }
      while (sent < limit) {
        const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
        chunk = chunk.substr(size_t(n) % body.size()) + chunk.substr(0, size_t(n) % body.size());
      }
      // Held open until the client closes it (or the test ends).
      char byte;
      while (::recv(fd, &byte, 1, 0) > 0) {
      }
      ::close(fd);
    });
  }
  ~FloodServer() {
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    if (thread_.joinable()) thread_.join();
  }
  [[nodiscard]] uint16_t Port() const { return port_; }

 private:
  int listen_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Servers that never end a reply: the client gives up on the reply's size, not on memory,
// and keeps little of what it was sent.
TEST(TOstrelClientSocketTest, EndlessRepliesAreCutOff) {
  const struct {
    const char* name;
    std::string head, body;
  } cases[] = {
      {"greeting without a line end", "220 ", "x"},
      {"greeting with endless continuation lines", "", "220-more\r\n"},
      {"one endless line after a whole greeting", "220 hi\r\n", "y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FloodServer server(c.head, c.body, size_t(64) << 20);
    ASSERT_NE(server.Port(), 0);
    TOstrelClientSMTP smtp("127.0.0.1", 5000, server.Port());
    std::string error = ErrorOf(smtp, [&] {
      smtp.Connect();
      smtp.SendCommand("HELO quorvel.test", {250});
    });
    EXPECT_EQ(error, "The server's reply is too long.");
    EXPECT_LT(smtp.LastReply.size() + smtp.Reply().size(), size_t(1) << 20);
    EXPECT_FALSE(smtp.Connected());
  }
}

TEST(MXRecordTest, LowestPreferenceFromTheFixture) {
  DnsFixture dns({"example.test", "20", "mx20.example.test", "example.test", "10",
                  "mx10.example.test", "solo.test", "5", "mail.solo.test"});
  ASSERT_TRUE(dns.Ok()) << dns.Error();
  SetMXLookupSettings(dns.Settings());
  EXPECT_EQ(ResolveMXRecord("someone@example.test"), "mx10.example.test");
  EXPECT_EQ(ResolveMXRecord("solo.test"), "mail.solo.test");  // no "@": the whole is the domain
  EXPECT_THROW((void)ResolveMXRecord("x@nowhere.test"), EOstrelSocketError);
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
  // Neither a pipe without a writer nor an endless line holds up the send that asks.
  const std::string pipe = path + ".fifo";
  ::unlink(pipe.c_str());
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_TRUE(DnsServersFromFile(pipe).empty());
  ::unlink(pipe.c_str());
  std::ofstream(path) << "nameserver 192.0.2.7\n" << std::string(2 << 20, 'x');
  EXPECT_TRUE(DnsServersFromFile(path).empty());
}

std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (const char c : text) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(MXRecordTest, AnswerParserIsBoundedAndChecksWhatItReads) {
  // Header (id 1234) with N answers, and the question "ex.test" MX at offset 12.
  const auto header = [](char answers, const char* flags = "8180", const char* id = "1234") {
    return std::string(id) + flags + "0001 000" + answers +
           "00000000 0265780474657374 00 000f0001 ";
  };
  const std::string mx10 = "c00c000f00010000003c0007 000a 026d78 c00c ";  // 10 mx.ex.test
  const std::string mx20 = "c00c000f00010000003c0007 0014 026162 c00c ";  // 20 ab.ex.test
  const struct {
    const char* what;
    std::string hex;
    const char* expected;
  } cases[] = {
      {"lowest preference", header('2') + mx20 + mx10, "mx.ex.test"},
      {"first of equals", header('2') + mx10 + "c00c000f00010000003c0007 000a 026162 c00c",
       "mx.ex.test"},
      {"uncompressed owner",
       header('1') + "0265780474657374 00 000f00010000003c0007 000a 026d78 c00c", "mx.ex.test"},
      {"CNAME first", header('2') + "c00c000500010000003c0002 c00c " + mx10, "mx.ex.test"},
      {"CNAME only", header('1') + "c00c000500010000003c0007 000a 026d78 c00c", ""},
      // The first exchange (at offset 39) points at itself.
      {"self-pointing exchange", header('2') + "c00c000f00010000003c0004 0001 c027 " + mx10,
       "mx.ex.test"},
      {"owner pointers chasing each other", header('1') + "c01b c019 000f0001", ""},
      {"pointer past the end", header('1') + "c00c000f00010000003c0007 000a 026d78 c0ff", ""},
      {"truncated record", header('1') + "c00c000f00010000003c0007 000a 026d", ""},
      {"cut inside the second owner", header('2') + mx10 + "c0", "mx.ex.test"},
      {"more answers counted than present", header('9') + mx10, "mx.ex.test"},
      {"another query's id", header('1', "8180", "4141") + mx10, ""},
      {"a query, not an answer", header('1', "0100") + mx10, ""},
      {"server error", header('1', "8183") + mx10, ""},
      {"header only", "1234 8180 0001", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // An exact-size buffer, so that AddressSanitizer sees any read past the datagram.
    const std::vector<uint8_t> exact = Hex(c.hex);
    EXPECT_EQ(ParseMXAnswer(exact, 0x1234), c.expected);
  }
  EXPECT_EQ(BuildMXQuery(std::string(64, 'a') + ".test", 1), "") << "a label has at most 63 bytes";
}

}  // namespace
}  // namespace qv
