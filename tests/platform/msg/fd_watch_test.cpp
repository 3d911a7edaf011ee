#include "platform/msg/fd_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::Generous;
using test::OnFreshThread;
using test::ScopedWindow;

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  [[nodiscard]] int Read() const { return fds_[0]; }
  void Write(char c) const { ASSERT_EQ(::write(fds_[1], &c, 1), 1); }
  int Take() const {
    char c = 0;
    return ::read(fds_[0], &c, 1) == 1 ? c : -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(FdWatchTest, BlockedGetMessageWakesForAReadableDescriptor) {
  OnFreshThread([] {
    Pipe pipe;
    ScopedWindow window(DefWindowProc);
    const HWND hwnd = window.Handle();
    std::thread::id callbackThread;
    const WatchId id = WatchFd(pipe.Read(), POLLIN, [&](int fd, short revents) {
      callbackThread = std::this_thread::get_id();
      EXPECT_NE(revents & POLLIN, 0);
      // The way a socket layer reports: read, then post to the owning window.
      PostMessage(hwnd, WM_USER + 1, WPARAM(fd), pipe.Take());
    });
    std::thread writer([&pipe] { pipe.Write('x'); });
    MSG msg;
    ASSERT_TRUE(GetMessage(msg));
    writer.join();
    EXPECT_EQ(callbackThread, std::this_thread::get_id());
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.wParam, WPARAM(pipe.Read()));
    EXPECT_EQ(msg.lParam, 'x');
    EXPECT_TRUE(UnwatchFd(id));
    EXPECT_FALSE(UnwatchFd(id));
  });
}

// An owner that closes a descriptor before removing its watch hears of it once, and the
// loop does not keep waking up for it.
TEST(FdWatchTest, ClosedDescriptorIsReportedOnceNotForever) {
  OnFreshThread([] {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[1]);
    std::vector<short> seen;
    const WatchId id =
        WatchFd(fds[0], POLLIN, [&](int, short revents) { seen.push_back(revents); });
    ::close(fds[0]);
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(PumpUntil([] { return false; }, std::chrono::steady_clock::now() + 20ms),
              PumpResult::TimedOut);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0] & POLLNVAL, 0);
    UnwatchFd(id);
  });
}

}  // namespace
}  // namespace qv
