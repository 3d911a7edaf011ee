#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "net/wsocket.h"
#include "platform/msg/pump.h"
#include "tests/net/scripted_peer.h"
#include "tests/net/wait_for.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::WaitFor;

struct Lines {
  std::vector<std::string> lines;
  std::vector<std::string> order;
  int connected = -1;
  bool closed = false;
};

void Connect(TWSocket& s, Lines& out, int port) {
  s.OnSessionConnected = [&out](TCustomWSocket*, std::uint16_t e) { out.connected = e; };
  s.OnSessionClosed = [&out](TCustomWSocket*, std::uint16_t) {
    out.closed = true;
    out.order.push_back("closed");
  };
  if (!s.OnDataAvailable) {
    s.OnDataAvailable = [&out](TCustomWSocket* sender, std::uint16_t) {
      out.lines.push_back(sender->ReceiveStr());
      out.order.push_back("line");
    };
  }
  s.SetLineMode(true);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
}

TEST(LineModeTest, LineEndSplitAcrossReceives) {
  ScriptedPeer peer({ScriptedPeer::SendBytes("abc\r"), ScriptedPeer::ReadBytes(1),
                     ScriptedPeer::SendBytes("\ndef\r\n"), ScriptedPeer::ReadUntil("end")});
  TWSocket s;
  Lines got;
  Connect(s, got, peer.Port());
  // Only once "abc\r" sits in the buffer does the peer send the rest.
  ASSERT_TRUE(WaitFor([&] { return s.BufferedBytes() == 4; }));
  EXPECT_TRUE(got.lines.empty());
  s.SendStr("k");
  ASSERT_TRUE(WaitFor([&] { return got.lines.size() == 2; }));
  EXPECT_EQ(got.lines, (std::vector<std::string>{"abc\r\n", "def\r\n"}));
  EXPECT_EQ(s.SendLine("end"), 5);
  EXPECT_EQ(s.SendLine(""), 0);
  ASSERT_TRUE(WaitFor([&] { return got.closed; }));
}

// A derived socket that counts its sends and receives sees the ones the line layer makes
// on its behalf, and what it changes reaches the wire.
TEST(LineModeTest, DerivedSendAndReceiveAreReachedThroughTheLineLayer) {
  class Counting : public TWSocket {
   public:
    int Send(const void* Data, int Len) override {
      ++sends;
      return TWSocket::Send(Data, Len);
    }
    int SendStr(const std::string& Str) override {
      ++sends;
      return TWSocket::SendStr(Str == "\r\n" ? std::string("!\r\n") : Str);
    }
    int Receive(void* Buffer, int Size) override {
      ++receives;
      return TWSocket::Receive(Buffer, Size);
    }
    int sends = 0;
    int receives = 0;
  };
  ScriptedPeer peer({ScriptedPeer::SendBytes("abc\r\n"), ScriptedPeer::ReadUntil("end!\r\n")});
  Counting s;
  Lines got;
  Connect(s, got, peer.Port());
  ASSERT_TRUE(WaitFor([&] { return got.lines.size() == 1; }));
  EXPECT_EQ(got.lines[0], "abc\r\n");
  EXPECT_GE(s.receives, 1) << "ReceiveStr reads through the derived Receive";
  s.SendLine("end");
  EXPECT_GE(s.sends, 2) << "SendLine sends the text and the line end through the derived calls";
  ASSERT_TRUE(WaitFor([&] { return got.closed; })) << "the peer saw the changed line end";
}

TEST(LineModeTest, LineLimitBoundsTheBuffer) {
  ScriptedPeer peer({ScriptedPeer::SendBytes(std::string(70000, 'x') + "\r\nok\r\n"),
                     ScriptedPeer::ReadUntil("end")});
  TWSocket s;
  Lines got;
  std::vector<int> exceeded;
  std::size_t largest = 0;
  s.OnLineLimitExceeded = [&](TCustomWSocket*, int n, bool& clear) {
    exceeded.push_back(n);
    EXPECT_TRUE(clear) << "data is discarded unless the handler says otherwise";
  };
  s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
    largest = std::max(largest, static_cast<TWSocket*>(sender)->BufferedBytes());
    got.lines.push_back(sender->ReceiveStr());
  };
  Connect(s, got, peer.Port());
  ASSERT_TRUE(WaitFor([&] { return !got.lines.empty() && got.lines.back() == "ok\r\n"; }));
  ASSERT_FALSE(exceeded.empty());
  EXPECT_EQ(exceeded[0], 65537);
  EXPECT_LE(largest, 65537u);
  EXPECT_EQ(got.lines.size(), 2u) << "the tail of the long line, then ok";
  s.SendLine("end");
  s.Close();
}

// A cleared over-long line drops only its own tail: a line end ends it, and a later session
// on the same socket starts clean; each delivers its last unterminated line at close.
TEST(LineModeTest, ClearedOverlongLineDropsOnlyItsOwnTail) {
  TWSocket s;
  s.LineLimit = 1000;
  int exceeded = 0;
  s.OnLineLimitExceeded = [&](TCustomWSocket*, int, bool&) { ++exceeded; };
  const struct {
    std::string sent;
    std::vector<std::string> lines;
  } sessions[] = {
      {std::string(1500, 'x'), {}},  // cut, and its tail goes with it
      {"hello\r\nlast-no-end", {"hello\r\n", "last-no-end"}},
      {std::string(1500, 'x') + "\r\nnext\r\nlast",
       {std::string(499, 'x') + "\r\n", "next\r\n", "last"}},
  };
  for (const auto& session : sessions) {
    SCOPED_TRACE(session.sent.substr(0, 20));
    ScriptedPeer peer({ScriptedPeer::SendBytes(session.sent), ScriptedPeer::CloseNow()});
    Lines got;
    s.OnDataAvailable = nullptr;  // Connect's handler, for this session's lines
    Connect(s, got, peer.Port());
    ASSERT_TRUE(WaitFor([&] { return got.closed; }));
    EXPECT_EQ(got.lines, session.lines);
  }
  EXPECT_EQ(exceeded, 2);
}

TEST(LineModeTest, KeptOverlongDataStopsReading) {
  ScriptedPeer peer(
      {ScriptedPeer::SendBytes(std::string(200000, 'y')), ScriptedPeer::ReadUntil("end")});
  TWSocket s;
  Lines got;
  int exceeded = 0;
  s.LineLimit = 1000;
  s.OnLineLimitExceeded = [&](TCustomWSocket*, int, bool& clear) {
    ++exceeded;
    clear = false;
  };
  Connect(s, got, peer.Port());
  ASSERT_TRUE(WaitFor([&] { return exceeded > 0; }));
  ProcessMessages();
  EXPECT_EQ(exceeded, 1);
  EXPECT_EQ(s.BufferedBytes(), 1001u) << "kept, but never more than the limit plus one byte";
  s.SetLineMode(false);
  std::string raw;
  s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) { raw += sender->ReceiveStr(); };
  ASSERT_TRUE(WaitFor([&] { return raw.size() == 200000; })) << raw.size();
  s.SendStr("end");
  s.Close();
}

}  // namespace
}  // namespace qv
