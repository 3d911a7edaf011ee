#include "net/wsocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "net/wsockbuf.h"
#include "platform/msg/pump.h"
#include "tests/net/scripted_peer.h"
#include "tests/net/wait_for.h"
#include "tests/peers/peers.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::WaitFor;

// Answers "peer.test" and "localhost" without leaving the machine; nothing else exists.
class ResolverScope {
 public:
  ResolverScope() {
    SetHostResolver([](const std::string& name, std::vector<in_addr>& out) {
      if (name != "peer.test" && name != "localhost") return WSAHOST_NOT_FOUND;
      out.push_back(in_addr{htonl(INADDR_LOOPBACK)});
      return 0;
    });
    SetAddrResolver([](const in_addr& a, std::string& name) {
      if (a.s_addr != htonl(INADDR_LOOPBACK)) return WSAHOST_NOT_FOUND;
      name = "localhost";
      return 0;
    });
  }
  ~ResolverScope() {
    SetHostResolver({});
    SetAddrResolver({});
  }
};

// Connects `s` to a loopback port.
template <class Socket>
void Dial(Socket& s, int port) {
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
}

// Everything one connection reports, in order.
struct Log {
  std::vector<std::string> events;
  std::string data;
  int connected = -1;
  int closed = -1;
  int closedCount = 0;
  void Wire(TCustomWSocket& s) {
    s.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
      connected = e;
      events.push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
      closed = e;
      ++closedCount;
      events.push_back("closed " + std::to_string(e));
    };
    s.OnDataAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
      data += sender->ReceiveStr();
    };
  }
};

TEST(WSocketTest, EchoConnectSendReceiveClose) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  TWSocket s;
  Log log;
  log.Wire(s);
  std::vector<std::pair<TSocketState, TSocketState>> states;
  s.OnChangeState = [&](TCustomWSocket*, TSocketState a, TSocketState b) {
    states.push_back({a, b});
  };
  Dial(s, echo.Port());
  EXPECT_EQ(s.State(), wsConnecting);
  EXPECT_EQ(log.connected, -1) << "the connection is reported from the message loop";
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  EXPECT_EQ(s.SendStr("hello echo"), 10);
  ASSERT_TRUE(WaitFor([&] { return log.data == "hello echo"; }));
  EXPECT_THROW(s.SetPort("1"), ESocketException);
  try {
    s.SetPort("1");
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Port if not closed");
  }
  s.SetPort(std::to_string(echo.Port()));  // the same value is accepted
  s.Close();
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(log.closedCount, 1);
  ProcessMessages();
  EXPECT_EQ(log.closedCount, 1) << "exactly one OnSessionClosed";
  ASSERT_GE(states.size(), 4u);
  EXPECT_EQ(states[0].second, wsOpened);
  EXPECT_EQ(states[1].second, wsConnecting);
  EXPECT_EQ(states[2].second, wsConnected);
  EXPECT_EQ(states.back().second, wsClosed);
  // Address and port must be given again after a close.
  try {
    s.Connect();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Port Specified");
  }
}

TEST(WSocketTest, LargeTransferDrainsTheSendQueue) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  std::mt19937 rng(7);
  std::string payload(1 << 20, '\0');
  for (auto& c : payload) c = char(rng());
  TWSocket s;
  Log log;
  log.Wire(s);
  int dataSent = 0;
  std::int64_t bytesSent = 0;
  s.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { ++dataSent; };
  s.OnSendData = [&](TCustomWSocket*, int n) { bytesSent += n; };
  Dial(s, echo.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  dataSent = 0;
  ASSERT_EQ(s.Send(payload.data(), int(payload.size())), int(payload.size()));
  EXPECT_EQ(dataSent, 0) << "OnDataSent never fires inside Send";
  ASSERT_TRUE(WaitFor([&] { return log.data.size() >= payload.size(); }));
  EXPECT_TRUE(log.data == payload);
  EXPECT_EQ(bytesSent, std::int64_t(payload.size()));
  ASSERT_TRUE(WaitFor([&] { return s.AllSent() && dataSent > 0; }));
  EXPECT_EQ(s.BufferCount(), 1u) << "drained blocks are dropped, the last is kept for reuse";
  s.Close();
}

TEST(WSocketTest, RefusedConnectionReportsTheFailureThenTheClose) {
  const test::ClosedPort closed;
  TWSocket s;
  Log log;
  log.Wire(s);
  Dial(s, closed.Port());
  ASSERT_TRUE(WaitFor([&] { return log.closedCount > 0; }));
  ProcessMessages();
  EXPECT_EQ(log.events, (std::vector<std::string>{"connected 10061", "closed 0"}));
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketTest, OnErrorInsteadOfRaising) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok());
  TWSocket s;
  int errors = 0;
  s.OnError = [&](TCustomWSocket*) { ++errors; };
  Log log;
  log.Wire(s);
  Dial(s, echo.Port());
  s.Connect();  // "Connect: Socket already in use"
  EXPECT_EQ(errors, 1);
  s.SetSocksLevel("4a");
  EXPECT_EQ(errors, 2);
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  s.Close();
}

TEST(WSocketTest, FlushPauseResumeAndRelease) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  struct Probe : TWSocket {
    bool* destroyed = nullptr;
    ~Probe() override { *destroyed = true; }
  };
  bool destroyed = false;
  auto* s = new Probe;  // given to Release below
  s->destroyed = &destroyed;
  Log log;
  log.Wire(*s);
  Dial(*s, echo.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  const std::string big(300000, 'f');
  s->SendStr(big);
  s->Flush();
  EXPECT_TRUE(s->AllSent());
  ASSERT_TRUE(WaitFor([&] { return log.data.size() == big.size(); }));
  // Paused, nothing is delivered; resumed, the waiting bytes arrive.
  s->Pause();
  s->SendStr("late");
  ProcessMessages();
  const std::size_t before = log.data.size();
  s->Resume();
  ASSERT_TRUE(WaitFor([&] { return log.data.size() == before + 4; }));
  s->Release();
  EXPECT_FALSE(destroyed) << "destroyed from the message loop, not inside Release";
  ASSERT_TRUE(WaitFor([&] { return destroyed; }));
}

TEST(WSocketTest, SocketOnAWorkerThread) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  std::string got;
  int waitConnect = -1, waitEcho = -1;
  std::uint32_t socketThread = 0, workerThread = 0;
  std::thread worker([&] {
    // The worker's own queue carries the socket's notifications; the synchronous waits
    // serve that queue.
    TWSocket s;
    socketThread = s.ThreadId();
    workerThread = std::uint32_t(::gettid());
    s.MultiThreaded = true;
    s.Timeout = 20000;
    bool connected = false, echoed = false;
    s.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t e) { connected = e == 0; };
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
      got += sender->ReceiveStr();
      echoed = got == "from a thread";
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(echo.Port()));
    waitConnect = s.Synchronize([&] { s.Connect(); }, connected);
    waitEcho = s.Synchronize([&] { s.SendStr("from a thread"); }, echoed);
    s.Close();
  });
  worker.join();
  EXPECT_EQ(waitConnect, 0);
  EXPECT_EQ(waitEcho, 0);
  EXPECT_EQ(got, "from a thread");
  EXPECT_EQ(socketThread, workerThread) << "the creating thread owns the socket";
  const TWSocket here;
  EXPECT_EQ(here.ThreadId(), std::uint32_t(::gettid()));
  EXPECT_NE(here.ThreadId(), socketThread);
}

// SOCKS server and port changes reach a derived socket through the SOCKS layer too.
TEST(WSocketTest, DerivedSocketOverridesTheSocksSetters) {
  class Recording : public TWSocket {
   public:
    void SetSocksServer(const std::string& Value) override {
      seen.push_back("server " + Value);
      TWSocket::SetSocksServer(Value);
    }
    void SetSocksPort(const std::string& Value) override {
      seen.push_back("port " + Value);
      TWSocket::SetSocksPort(Value);
    }
    std::vector<std::string> seen;
  };
  Recording s;
  TCustomSocksWSocket& base = s;
  base.SetSocksServer("127.0.0.1");
  base.SetSocksPort("1080");
  EXPECT_EQ(s.seen, (std::vector<std::string>{"server 127.0.0.1", "port 1080"}));
  EXPECT_EQ(s.SocksServer(), "127.0.0.1");
  EXPECT_EQ(s.SocksPort(), "1080");
}

// A derived socket sees every protocol change, also one made through the base class.
TEST(WSocketTest, DerivedSocketOverridesSetProto) {
  class UdpOnly : public TWSocket {
   public:
    void SetProto(const std::string& Value) override {
      seen.push_back(Value);
      TWSocket::SetProto("udp");
    }
    std::vector<std::string> seen;
  };
  UdpOnly s;
  TCustomWSocket& base = s;
  base.SetProto("tcp");
  EXPECT_EQ(s.seen, std::vector<std::string>{"tcp"});
  EXPECT_EQ(s.Proto(), "udp");
}

TEST(WSocketTest, UdpEcho) {
  const int port = test::FreePort();
  test::PeerProcess socat;
  ASSERT_TRUE(
      socat.Start({"/usr/bin/socat",
                   "UDP-RECVFROM:" + std::to_string(port) + ",bind=127.0.0.1,fork", "EXEC:cat"},
                  "/dev/null"));
  TWSocket s;
  std::string got;
  s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) { got += sender->ReceiveStr(); };
  int connected = -1;
  s.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t e) { connected = e; };
  s.SetProto("udp");
  Dial(s, port);
  EXPECT_EQ(connected, 0) << "a datagram socket is connected at once";
  // socat may not listen yet: send until an answer comes.
  ASSERT_TRUE(WaitFor([&] {
    if (got.empty()) s.SendStr("dgram");
    return !got.empty();
  }));
  EXPECT_EQ(got.substr(0, 5), "dgram");
  s.Close();
}

TEST(WSocketTest, DnsLookupOfADottedAddressAnswersBeforeReturning) {
  TWSocket s;
  int done = -1;
  s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done = e; };
  s.DnsLookup("10.0.0.1");
  EXPECT_EQ(done, 0) << "no resolver is asked, so nothing is left to wait for";
  EXPECT_EQ(s.DnsResult(), "10.0.0.1");
  EXPECT_EQ(s.DnsResultList(), (std::vector<std::string>{"10.0.0.1"}));
}

// Once the library is started its version is fixed; the refusal is a socket error with
// its own code, not whatever an earlier call left behind.
TEST(WSocketTest, RequestedVersionIsFixedOnceLoaded) {
  TWSocket s;
  s.DnsLookup("10.0.0.1");  // starts the library
  const std::uint8_t low = s.ReqVerLow(), high = s.ReqVerHigh();
  for (const bool setLow : {true, false}) {
    SCOPED_TRACE(setLow ? "low" : "high");
    WSASetLastError(WSAECONNRESET);
    const std::string name = setLow ? "SetReqVerLow" : "SetReqVerHigh";
    try {
      if (setLow) {
        s.SetReqVerLow(std::uint8_t(low + 1));
      } else {
        s.SetReqVerHigh(std::uint8_t(high + 1));
      }
      ADD_FAILURE() << "no error";
    } catch (const ESocketException& e) {
      EXPECT_EQ(std::string(e.what()), "Error 10022 in function " + name +
                                           ": WinSock version can't be changed now\r\n"
                                           "Invalid argument");
    }
    EXPECT_EQ(s.LastError(), WSAEINVAL);
  }
  EXPECT_EQ(s.ReqVerLow(), low);
  EXPECT_EQ(s.ReqVerHigh(), high);
}

// The message that carries a look-up's answer.
constexpr UINT kDnsAnswer = WM_USER + 2;

// A look-up whose answer is already queued cannot be cancelled any more: the failed
// cancel is reported, once, and the late answer is dropped.
TEST(WSocketTest, CancelOfAnAnsweredLookupIsReported) {
  ResolverScope dns;
  for (const bool withHandler : {true, false}) {
    SCOPED_TRACE(withHandler ? "OnError" : "exception");
    TWSocket s;
    std::vector<int> done;
    int errors = 0;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
    if (withHandler) s.OnError = [&](TCustomWSocket*) { ++errors; };
    s.DnsLookup("peer.test");
    ASSERT_TRUE(test::WaitUntilQueued(kDnsAnswer));
    if (withHandler) {
      s.CancelDnsLookup();
      EXPECT_EQ(errors, 1);
      EXPECT_EQ(done, std::vector<int>{WSAEINTR});
    } else {
      try {
        s.CancelDnsLookup();
        ADD_FAILURE() << "no error";
      } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error 10022 in function WSACancelAsyncRequest\r\nInvalid argument");
      }
      EXPECT_TRUE(done.empty());
    }
    EXPECT_EQ(s.LastError(), WSAEINVAL);
    s.CancelDnsLookup();  // nothing left to cancel
    ProcessMessages();
    EXPECT_EQ(errors, withHandler ? 1 : 0);
    EXPECT_LE(done.size(), 1u) << "the queued answer is dropped";
    EXPECT_EQ(s.DnsResult(), "");
  }
}

// An abort closes the connection even when the look-up it cancels has already been
// answered; the failed cancel is raised after the close.
TEST(WSocketTest, AbortClosesDespiteAFailedLookupCancel) {
  ResolverScope dns;
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  TWSocket s;
  Log log;
  log.Wire(s);
  Dial(s, echo.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  s.DnsLookup("peer.test");
  ASSERT_TRUE(test::WaitUntilQueued(kDnsAnswer));
  EXPECT_THROW(s.Abort(), ESocketException);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(log.closedCount, 1);
}

TEST(WSocketTest, ConnectSetsTheDefaultLinger) {
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  TWSocket s;
  EXPECT_EQ(s.LingerOnOff, wsLingerOn);
  EXPECT_EQ(s.LingerTimeout, 0);
  Log log;
  log.Wire(s);
  Dial(s, echo.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  linger l{-1, -1};
  socklen_t len = sizeof l;
  ASSERT_EQ(getsockopt(SocketFd(s.HSocket()), SOL_SOCKET, SO_LINGER, &l, &len), 0);
  EXPECT_NE(l.l_onoff, 0);
  EXPECT_EQ(l.l_linger, 0);
  s.Close();
}

// Exposes the protected formatter.
class FmtSocket : public TWSocket {
 public:
  using TWSocket::RaiseExceptionFmt;
};

TEST(WSocketTest, RaiseExceptionFmtFormatsThenRaises) {
  FmtSocket s;
  try {
    s.RaiseExceptionFmt("%s: can't start DNS lookup, error #%d (100%%)", {"h.test", 11002});
    ADD_FAILURE() << "raises without an OnError handler";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "h.test: can't start DNS lookup, error #11002 (100%)");
  }
  std::string seen;
  s.OnError = [&](TCustomWSocket*) { seen = "error"; };
  EXPECT_NO_THROW(s.RaiseExceptionFmt("%d", {1}));
  EXPECT_EQ(seen, "error");

  // A local port that is taken: the bind failure comes formatted.
  test::SocatEcho echo;
  ASSERT_TRUE(echo.Ok()) << echo.Error();
  TWSocket b;
  b.SetLocalAddr("127.0.0.1");
  b.SetLocalPort(std::to_string(echo.Port()));
  try {
    Dial(b, echo.Port());
    ADD_FAILURE() << "the port is in use";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "winsock.bind failed, error #10048");
  }
}

TEST(WSocketTest, TwoWordValues) {
  TWSocket s;
  struct Case {
    TWSocketValue a, b;
    bool nonZeroA, same;
  };
  const Case cases[] = {{{0, 0}, {0, 0}, false, true},
                        {{1, 0}, {1, 0}, true, true},
                        {{0, 1}, {0, 0}, true, false},
                        {{5, 7}, {5, 8}, true, false},
                        {{5, 7}, {6, 7}, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.a.Lo) + "," + std::to_string(c.a.Hi));
    EXPECT_EQ(s.IsNonZero(c.a), c.nonZeroA);
    EXPECT_EQ(s.SameValue(c.a, c.b, true), c.same);
    EXPECT_EQ(s.SameValue(c.a, c.b, false), !c.same);
    TWSocketValue v = c.a;
    s.ClearValue(v);
    EXPECT_FALSE(s.IsNonZero(v));
  }
}

}  // namespace
}  // namespace qv
