#include "net/wsocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <random>

#include "net/wsockbuf.h"
#include "platform/msg/pump.h"
#include "tests/net/loopback_transfer.h"
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

TEST(TBufferTest, WritePeekRemoveAndReuse) {
  TBuffer b(0);
  EXPECT_EQ(b.BufSize(), 1514);
  TBuffer small(4);
  EXPECT_EQ(small.Write("abcdef", 6), 4);
  EXPECT_EQ(small.Write("x", 1), 0);
  int len = 0;
  const auto* p = small.Peek(len);
  ASSERT_EQ(len, 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "abcd");
  EXPECT_EQ(small.Remove(3), 3);
  EXPECT_EQ(small.Remove(5), 1);
  EXPECT_EQ(small.WrCount(), 0) << "an emptied block starts over";
  EXPECT_EQ(small.Peek(len), nullptr);
  EXPECT_EQ(small.Write("zz", 2), 2);
  small.SetBufSize(8);
  p = small.Peek(len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), std::size_t(len)), "zz");
}

TEST(WSocketTest, ResolversAndDottedQuads) {
  ResolverScope dns;
  const std::pair<std::string, bool> dotted[] = {{"10.0.0.1", true},        {" 127.0.0.1 ", true},
                                                 {"255.255.255.255", true}, {"256.0.0.1", false},
                                                 {"1.2.3", false},          {".1.2.3", false},
                                                 {"1..2.3", false},         {"1.2.3.4.", false},
                                                 {"localhost", false},      {"", false}};
  for (const auto& [text, ok] : dotted) {
    SCOPED_TRACE(text);
    EXPECT_EQ(WSocketIsDottedIP(text), ok);
  }
  // Leading zeros are decimal, not octal.
  EXPECT_EQ(WSocketResolveHost("010.0.0.1").s_addr, inet_addr("10.0.0.1"));
  EXPECT_EQ(WSocketResolveHost("peer.test").s_addr, htonl(INADDR_LOOPBACK));
  try {
    WSocketResolveHost("nowhere.test");
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(),
                 "WSocketResolveHost: Cannot convert host address 'nowhere.test', Error #11001");
  }
  EXPECT_THROW(WSocketResolveHost(""), ESocketException);
  EXPECT_EQ(WSocketResolvePort(" 8080x", "tcp"), 8080);
  EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
  EXPECT_THROW(WSocketResolvePort("99999", "tcp"), ESocketException) << "no silent wrap to 34463";
  EXPECT_THROW(WSocketResolvePort("", "tcp"), ESocketException);
  EXPECT_EQ(WSocketResolveProto("UDP"), 17);
  EXPECT_EQ(WSocketResolveProto("raw"), 255);
  EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
  EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
}

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

TEST(WSocketTest, SendBeforeConnectedIsRefused) {
  ScriptedPeer peer({ScriptedPeer::ReadBytes(1)});
  TWSocket s;
  Log log;
  log.Wire(s);
  Dial(s, peer.Port());
  // Before the connection is made nothing can be queued.
  s.OnError = [](TCustomWSocket*) {};
  EXPECT_EQ(s.Send("x", 1), -1);
  EXPECT_EQ(s.LastError(), 10057);
  EXPECT_EQ(s.BufferCount(), 0u);
}

TEST(WSocketTest, RefusedConnectionReportsOnlyThroughSessionConnected) {
  const test::ClosedPort closed;
  TWSocket s;
  Log log;
  log.Wire(s);
  Dial(s, closed.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected != -1; }));
  EXPECT_EQ(log.connected, 10061);
  ProcessMessages();
  EXPECT_EQ(log.closedCount, 0);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketTest, ListeningSocketAccepts) {
  TWSocket server;
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  std::unique_ptr<TWSocket> accepted;
  Log serverSide;
  server.OnSessionAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
    accepted = std::make_unique<TWSocket>();
    serverSide.Wire(*accepted);
    accepted->Dup(sender->Accept());
  };
  server.Listen();
  ASSERT_EQ(server.State(), wsListening);
  const std::string port = server.GetXPort();
  TWSocket client;
  Log clientSide;
  clientSide.Wire(client);
  client.SetAddr("127.0.0.1");
  client.SetPort(port);
  client.Connect();
  ASSERT_TRUE(WaitFor([&] { return clientSide.connected == 0 && accepted; }));
  EXPECT_EQ(accepted->State(), wsConnected);
  client.SendStr("to server");
  ASSERT_TRUE(WaitFor([&] { return serverSide.data == "to server"; }));
  accepted->SendStr("to client");
  ASSERT_TRUE(WaitFor([&] { return clientSide.data == "to client"; }));
  client.Close();
  ASSERT_TRUE(WaitFor([&] { return serverSide.closedCount == 1; }));
  EXPECT_EQ(serverSide.closed, 0);
  server.Close();
}

TEST(WSocketTest, DnsLookupsThroughTheResolver) {
  ResolverScope dns;
  TWSocket s;
  std::vector<int> done;
  s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
  s.DnsLookup("10.0.0.1");
  EXPECT_TRUE(done.empty()) << "the answer is posted, never given inside DnsLookup";
  ASSERT_TRUE(WaitFor([&] { return done.size() == 1; }));
  EXPECT_EQ(done[0], 0);
  EXPECT_EQ(s.DnsResult(), "10.0.0.1");
  s.DnsLookup("peer.test");
  ASSERT_TRUE(WaitFor([&] { return done.size() == 2; }));
  EXPECT_EQ(done[1], 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  s.DnsLookup("nowhere.test");
  ASSERT_TRUE(WaitFor([&] { return done.size() == 3; }));
  EXPECT_EQ(done[2], 11001);
  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(WaitFor([&] { return done.size() == 4; }));
  EXPECT_EQ(s.DnsResult(), "localhost");
  // Cancelling reports 10004 at once; the late answer is dropped.
  s.DnsLookup("peer.test");
  s.CancelDnsLookup();
  ASSERT_EQ(done.size(), 5u);
  EXPECT_EQ(done[4], 10004);
  s.DnsLookup("10.0.0.2");
  ASSERT_TRUE(WaitFor([&] { return done.size() == 6; }));
  ProcessMessages();
  EXPECT_EQ(done.size(), 6u);
  EXPECT_EQ(s.DnsResult(), "10.0.0.2");
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

TEST(WSocketTest, LibraryUnloadsWithTheLastSocket) {
  {
    TWSocket a;
    a.DnsLookup("10.0.0.1");
    EXPECT_TRUE(WSocketLoaded());
    { TWSocket b; }
    EXPECT_TRUE(WSocketLoaded());
  }
  EXPECT_FALSE(WSocketLoaded());
  TWSocket c;
  EXPECT_FALSE(WSocketLoaded()) << "loaded again only on first use";
  c.SetReqVerHigh(2);
  c.DnsLookup("10.0.0.1");
  EXPECT_TRUE(WSocketLoaded());
  EXPECT_THROW(c.SetReqVerHigh(1), ESocketException);
  c.SetReqVerHigh(2);
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
  std::thread worker([&] {
    // The worker's own queue carries the socket's notifications; the synchronous waits
    // serve that queue.
    TWSocket s;
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

TEST(WSocketTest, InProcessTransferBothEndsOnOneThread) {
  test::LoopbackTransfer t;
  ASSERT_TRUE(WaitFor([&] { return t.Ready(); }));
  const std::string block(8 << 20, 'x');
  for (int round = 0; round < 2; ++round) {
    t.received = 0;
    t.client.Send(block.data(), int(block.size()));
    ASSERT_TRUE(WaitFor([&] { return t.received == block.size(); })) << t.received;
  }
}

TEST(WSocketTest, WaitForCloseDeliversTheRestFirst) {
  ScriptedPeer peer({ScriptedPeer::SendBytes("goodbye"), ScriptedPeer::CloseNow()});
  TWSocket s;
  Log log;
  log.Wire(s);
  Dial(s, peer.Port());
  ASSERT_TRUE(WaitFor([&] { return log.connected == 0; }));
  s.WaitForClose();
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(log.data, "goodbye");
  EXPECT_EQ(log.closedCount, 1);
}

TEST(WSocketTest, HandlerThatReadsNothingDoesNotSpin) {
  ScriptedPeer peer({ScriptedPeer::SendBytes("unread"), ScriptedPeer::ReadUntil("end")});
  TWSocket s;
  int calls = 0;
  bool connected = false;
  s.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t) { connected = true; };
  s.OnDataAvailable = [&](TCustomWSocket*, std::uint16_t) { ++calls; };
  Dial(s, peer.Port());
  ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
  ProcessMessages();
  // The bytes stay in the socket for a later read; nothing calls the handler in a loop.
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(s.ReceiveStr(), "unread");
  s.SendStr("end");
  s.Close();
}

}  // namespace
}  // namespace qv
