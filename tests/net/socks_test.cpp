#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>

#include "net/wsocket.h"
#include "platform/msg/pump.h"
#include "tests/net/scripted_peer.h"
#include "tests/net/wait_for.h"
#include "tests/peers/peers.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::WaitFor;

struct SocksRun {
  int connected = -1;
  int socksConnected = -1;
  int socksError = 0;
  std::string socksMsg;
  int closedCount = 0;
  std::string data;
  std::vector<std::string> order;
  std::vector<TSocksAuthState> auth;
};

void Wire(TWSocket& s, SocksRun& r) {
  s.OnSessionConnected = [&r](TCustomWSocket*, std::uint16_t e) {
    r.connected = e;
    r.order.push_back("connected");
  };
  s.OnSocksConnected = [&r](TCustomWSocket*, std::uint16_t e) { r.socksConnected = e; };
  s.OnSocksError = [&r](TCustomWSocket*, int e, const std::string& m) {
    r.socksError = e;
    r.socksMsg = m;
  };
  s.OnSocksAuthState = [&r](TCustomWSocket*, TSocksAuthState a) { r.auth.push_back(a); };
  s.OnSessionClosed = [&r](TCustomWSocket*, std::uint16_t) { ++r.closedCount; };
  s.OnDataAvailable = [&r](TCustomWSocket* sender, std::uint16_t) {
    const std::string got = sender->ReceiveStr();
    if (!got.empty()) r.order.push_back("data");
    r.data += got;
  };
}

// Wires `s` to `r` and connects it to <host>:<port> through the scripted SOCKS
// server; false when neither a connect result nor a close came.
bool ConnectThrough(TWSocket& s, SocksRun& r, const ScriptedPeer& peer, const std::string& port,
                    const std::string& host = "peer.test") {
  Wire(s, r);
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(peer.Port()));
  s.SetAddr(host);
  s.SetPort(port);
  s.Connect();
  return WaitFor([&] { return r.connected != -1 || r.closedCount > 0; });
}

// A GET of /five.txt from lighttpd through the SOCKS server; returns what came back.
SocksRun GetThroughSocks(int socksPort, const std::string& level, const std::string& host,
                         int webPort, const std::string& user = {}, const std::string& pass = {}) {
  TWSocket s;
  SocksRun r;
  Wire(s, r);
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(socksPort));
  s.SetSocksLevel(level);
  if (!user.empty()) {
    s.SocksAuthentication = socksAuthenticateUsercode;
    s.SocksUsercode = user;
    s.SocksPassword = pass;
  }
  s.SetAddr(host);
  s.SetPort(std::to_string(webPort));
  s.Connect();
  EXPECT_TRUE(WaitFor([&] { return r.connected != -1; }));
  if (r.connected == 0) {
    s.SendStr("GET /five.txt HTTP/1.0\r\nHost: " + host + "\r\n\r\n");
    EXPECT_TRUE(WaitFor([&] { return r.closedCount > 0; }));
  }
  ProcessMessages();
  return r;
}

TEST(SocksTest, RealServers) {
  test::Lighttpd web;
  test::Danted dante;
  test::Microsocks micro(false), microAuth(true);
  test::TwistdSocks twisted;
  for (const test::Peer* p :
       std::initializer_list<const test::Peer*>{&web, &dante, &micro, &microAuth, &twisted}) {
    ASSERT_TRUE(p->Ok()) << p->Error();
  }
  struct Case {
    const char* name;
    int port;
    std::string level, host, user, pass;
  };
  // twisted fails a 4A request for a dotted name, so that one names "localhost"; the
  // name is resolved by the SOCKS server, never here.
  const Case cases[] = {
      {"dante 5", dante.Port(), "5", "127.0.0.1", "", ""},
      {"dante 4", dante.Port(), "4", "127.0.0.1", "", ""},
      {"microsocks 5", micro.Port(), "5", "127.0.0.1", "", ""},
      {"microsocks 5 user/password", microAuth.Port(), "5", "127.0.0.1", "alice", "s3cret"},
      {"twistd 4A", twisted.Port(), "4A", "localhost", "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SocksRun r = GetThroughSocks(c.port, c.level, c.host, web.Port(), c.user, c.pass);
    EXPECT_EQ(r.socksConnected, 0);
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.socksError, 0) << r.socksMsg;
    EXPECT_EQ(r.data.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(r.data.substr(r.data.size() - 5), "abcde");
    if (!c.user.empty()) {
      EXPECT_EQ(r.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthSuccess}));
    }
  }
}

TEST(SocksTest, RealServersRefuse) {
  test::Danted dante;
  test::Microsocks micro(false), microAuth(true);
  ASSERT_TRUE(dante.Ok() && micro.Ok() && microAuth.Ok());
  const test::ClosedPort closed;
  struct Case {
    const char* name;
    int port;
    std::string level, user, pass;
    int error;
    std::string msg;
  };
  const Case cases[] = {
      {"v4 closed port", dante.Port(), "4", "", "", 20016, "request rejected or failed"},
      {"v5 closed port", dante.Port(), "5", "", "", 20008, "connection refused"},
      {"v5 closed port, microsocks", micro.Port(), "5", "", "", 20008, "connection refused"},
      {"no credentials offered", microAuth.Port(), "5", "", "", 20003,
       "authentification method not acceptable"},
      {"wrong password", microAuth.Port(), "5", "alice", "wrong", 20015,
       "socks authentication failed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SocksRun r = GetThroughSocks(c.port, c.level, "127.0.0.1", closed.Port(), c.user, c.pass);
    EXPECT_EQ(r.socksError, c.error);
    EXPECT_EQ(r.socksMsg, c.msg);
    EXPECT_EQ(r.connected, c.error) << "the failure is reported by OnSessionConnected";
    EXPECT_EQ(r.closedCount, 1) << "and the close that follows by OnSessionClosed";
    if (c.error == 20015) {
      EXPECT_EQ(r.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthFailure}));
    }
  }
}

TEST(SocksTest, ServerClosingMidHandshakeIsAnError) {
  using P = ScriptedPeer;
  const std::string ok5("\x05\x00", 2);
  struct Case {
    const char* name;
    std::string level;
    bool auth;
    std::vector<P::Step> script;
  };
  // SOCKS 4 asks for 127.0.0.1:80 (9 bytes); SOCKS 5 for "peer.test":80 (16 bytes) after
  // its 3-byte greeting; the credentials "u"/"p" take 5 bytes.
  const Case cases[] = {
      {"v4 before the reply", "4", false, {P::ReadBytes(9), P::CloseNow()}},
      {"v4 inside the reply",
       "4",
       false,
       {P::ReadBytes(9), P::SendBytes(std::string("\x00\x5a\x00", 3)), P::CloseNow()}},
      {"v5 before the method reply", "5", false, {P::ReadBytes(3), P::CloseNow()}},
      {"v5 inside the method reply",
       "5",
       false,
       {P::ReadBytes(3), P::SendBytes("\x05"), P::CloseNow()}},
      {"v5 during authentication",
       "5",
       true,
       {P::ReadBytes(3), P::SendBytes(std::string("\x05\x02", 2)), P::ReadBytes(5), P::CloseNow()}},
      {"v5 inside the connect reply",
       "5",
       false,
       {P::ReadBytes(3), P::SendBytes(ok5), P::ReadBytes(16),
        P::SendBytes(std::string("\x05\x00\x00", 3)), P::CloseNow()}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.script);
    TWSocket s;
    SocksRun r;
    s.SetSocksLevel(c.level);
    if (c.auth) {
      s.SocksAuthentication = socksAuthenticateUsercode;
      s.SocksUsercode = "u";
      s.SocksPassword = "p";
    }
    ASSERT_TRUE(ConnectThrough(s, r, peer, "80", c.level == "5" ? "peer.test" : "127.0.0.1"));
    EXPECT_EQ(r.socksConnected, 0);
    EXPECT_EQ(r.connected, 10054) << "the session never opened";
    EXPECT_EQ(r.socksError, 10054);
    EXPECT_EQ(r.socksMsg, "connection closed by the socks server");
    ProcessMessages();
    EXPECT_EQ(r.closedCount, 1);
    EXPECT_EQ(s.State(), wsClosed);
    if (c.auth) {
      EXPECT_EQ(r.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthFailure}));
    }
  }
}

// The SOCKS port has no default: without one the connect fails before anything is sent.
TEST(SocksTest, EmptyServerPortIsRefused) {
  TWSocket s;
  SocksRun r;
  Wire(s, r);
  s.SetSocksServer("127.0.0.1");
  s.SetAddr("127.0.0.1");
  s.SetPort("80");
  try {
    s.Connect();
    ADD_FAILURE() << "connected without a SOCKS port";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "WSocketResolvePort: Invalid Port.");
  }
  ProcessMessages();
  EXPECT_EQ(r.connected, -1);
  EXPECT_EQ(r.socksError, 0);
}

// Through SOCKS, the connection ends the SOCKS settings with it; the credentials stay.
TEST(SocksTest, ServerPortAndLevelResetAtClose) {
  test::Lighttpd web;
  test::Danted dante;
  ASSERT_TRUE(web.Ok() && dante.Ok()) << web.Error() << dante.Error();
  TWSocket s;
  SocksRun r;
  Wire(s, r);
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(dante.Port()));
  s.SetSocksLevel("4");
  s.SocksUsercode = "u";
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(web.Port()));
  s.Connect();
  ASSERT_TRUE(WaitFor([&] { return r.connected != -1; }));
  ASSERT_EQ(r.connected, 0);
  EXPECT_EQ(s.SocksServer(), "127.0.0.1") << "kept while the connection lasts";
  s.Close();
  EXPECT_EQ(s.SocksServer(), "");
  EXPECT_EQ(s.SocksPort(), "");
  EXPECT_EQ(s.SocksLevel(), "5");
  EXPECT_EQ(s.SocksUsercode, "u");
}

}  // namespace
}  // namespace qv
