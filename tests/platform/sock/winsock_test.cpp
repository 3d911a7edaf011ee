#include "platform/sock/winsock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <netdb.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/sock/async_dns.h"
#include "tests/net/scripted_peer.h"
#include "tests/peers/peers.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

struct Note {
  UINT message;
  WPARAM wParam;
  long event;
  int error;
};

// A hidden window that records every notification it receives.
class Recorder {
 public:
  Recorder() {
    hwnd_ = AllocateHWnd([this](HWND, UINT m, WPARAM w, LPARAM l) {
      notes.push_back({m, w, LOWORD(std::uintptr_t(l)), HIWORD(std::uintptr_t(l))});
      return LRESULT(0);
    });
  }
  ~Recorder() { DeallocateHWnd(hwnd_); }
  [[nodiscard]] HWND Hwnd() const { return hwnd_; }
  bool WaitFor(const std::function<bool()>& done) {
    return PumpUntil(done, std::chrono::steady_clock::now() + 20s) == PumpResult::Done;
  }
  int Count(long event) const {
    int n = 0;
    for (const auto& x : notes) n += x.message == WM_USER + 1 && x.event == event;
    return n;
  }
  std::vector<Note> notes;

 private:
  HWND hwnd_ = 0;
};

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

class WinsockTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(0x0101), 0); }
  void TearDown() override { WSACleanup(); }
};

TEST_F(WinsockTest, ConnectWriteReadAndCloseNotifications) {
  test::ScriptedPeer peer({test::ScriptedPeer::ReadBytes(4), test::ScriptedPeer::SendBytes("pong"),
                           test::ScriptedPeer::CloseNow()});
  Recorder rec;
  const SOCKET s = qv::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_EQ(WSAAsyncSelect(s, rec.Hwnd(), WM_USER + 1, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE),
            0);
  const sockaddr_in a = Loopback(peer.Port());
  const int rc = connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  EXPECT_TRUE(rc == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.Count(FD_WRITE) > 0; }));
  ASSERT_EQ(rec.notes.front().event, FD_CONNECT) << "FD_CONNECT first, then FD_WRITE";
  EXPECT_EQ(rec.notes.front().error, 0);
  EXPECT_EQ(rec.notes.front().wParam, WPARAM(static_cast<std::intptr_t>(s)));
  ASSERT_EQ(send(s, "ping", 4, 0), 4);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.Count(FD_READ) > 0; }));
  // FD_READ is not posted again until the data is read, however long we pump.
  ProcessMessages();
  EXPECT_EQ(rec.Count(FD_READ), 1);
  char buf[16];
  ASSERT_TRUE(rec.WaitFor([&] {
    unsigned long n = 0;
    ioctlsocket(s, FIONREAD_, &n);
    return n == 4;
  }));
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "pong");
  ASSERT_TRUE(rec.WaitFor([&] { return rec.Count(FD_CLOSE) > 0; }));
  EXPECT_EQ(rec.Count(FD_CLOSE), 1);
  EXPECT_EQ(rec.Count(FD_WRITE), 1) << "no FD_WRITE while merely writable";
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, ClosingPurgesQueuedNotificationsAndHandlesAreNotReused) {
  test::ScriptedPeer peer({test::ScriptedPeer::SendBytes("x"), test::ScriptedPeer::CloseNow()});
  Recorder rec;
  const SOCKET first = qv::socket(AF_INET, SOCK_STREAM, 0);
  WSAAsyncSelect(first, rec.Hwnd(), WM_USER + 1, FD_READ | FD_CONNECT | FD_CLOSE);
  const sockaddr_in a = Loopback(peer.Port());
  connect(first, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.Count(FD_CONNECT) > 0; }));
  // Wait until the byte is there, without taking the notification from the queue.
  ASSERT_TRUE(rec.WaitFor([&] {
    unsigned long n = 0;
    ioctlsocket(first, FIONREAD_, &n);
    if (n == 0) return false;
    MSG m;
    return PeekMessage(m, PM_NOREMOVE);
  }));
  closesocket(first);
  ProcessMessages();
  EXPECT_EQ(rec.Count(FD_READ), 0) << "the FD_READ queued before the close is dropped";
  // The descriptor number comes back at once; the handle does not.
  const SOCKET second = qv::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(second, first);
  closesocket(second);
}

TEST_F(WinsockTest, CancelledLookupIsNeverAnswered) {
  // The resolver holds its own state: a worker may enter it after the test is over.
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
  };
  auto gate = std::make_shared<Gate>();
  SetHostResolver([gate](const std::string& name, std::vector<in_addr>& out) {
    if (name == "slow.test") {
      std::unique_lock lock(gate->m);
      gate->cv.wait(lock, [&] { return gate->release; });
    }
    out.push_back(in_addr{htonl(INADDR_LOOPBACK)});
    return 0;
  });
  Recorder rec;
  auto slow = std::make_shared<HostEntry>();
  const WSAHANDLE h = WSAAsyncGetHostByName(rec.Hwnd(), WM_USER + 2, "slow.test", slow);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(WSACancelAsyncRequest(h), 0);
  EXPECT_EQ(WSACancelAsyncRequest(h), SOCKET_ERROR);
  {
    std::lock_guard lock(gate->m);
    gate->release = true;
  }
  gate->cv.notify_all();
  const WSAHANDLE h2 =
      WSAAsyncGetHostByName(rec.Hwnd(), WM_USER + 2, "fast.test", std::make_shared<HostEntry>());
  ASSERT_TRUE(rec.WaitFor([&] { return !rec.notes.empty(); }));
  ProcessMessages();
  ASSERT_EQ(rec.notes.size(), 1u);
  EXPECT_EQ(rec.notes[0].wParam, h2);
  EXPECT_TRUE(slow->Addresses.empty());
  SetHostResolver({});
}

}  // namespace
}  // namespace qv
