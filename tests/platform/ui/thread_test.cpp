// Windows belong to the thread that makes them: a second thread runs a window system of its
// own (headless, or its own X connection) whose windows paint and answer input while the
// main thread is blocked, and other threads reach them with SendMessage/PostMessage.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/ui/x11_backend.h"
#include "tests/platform/ui/ui_test_util.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr TColor kRed = 0x0000FF;

// What a worker thread's window saw, handed to the blocked main thread under a lock.
struct WorkerReport {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  HWND top = 0;
  COLORREF presented = 0;
  COLORREF grabbed = 0;
  bool sawClick = false, sawChar = false, seesMainWindow = true;

  void Finish() {
    const std::lock_guard lock(mutex);
    done = true;
    changed.notify_all();
  }
  // The main thread blocks here, as a frozen GUI thread would.
  bool WaitDone() {
    std::unique_lock lock(mutex);
    return changed.wait_until(lock, Clock::now() + 60s, [&] { return done; });
  }
};

thread_local std::vector<UINT> workerMessages;

// A window class of the worker thread: paints red and records input.
void RegisterWorkerClass() {
  WNDCLASS cls;
  cls.lpszClassName = "Worker";
  cls.hbrBackground = clNone;
  cls.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    workerMessages.push_back(m);
    if (m == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, ps);
      Rect r;
      if (dc && GetClientRect(h, r)) dc->FillRect(r, Brush{BrushStyle::bsSolid, kRed});
      EndPaint(h, ps);
      return 0;
    }
    return DefWindowProcA(h, m, w, l);
  };
  ASSERT_TRUE(RegisterClass(cls));
}

bool Saw(UINT message) {
  return std::find(workerMessages.begin(), workerMessages.end(), message) != workerMessages.end();
}

using ThreadTest = UiTest;

TEST_F(ThreadTest, ASecondThreadsWindowPaintsAndAnswersWhileTheMainThreadIsBlocked) {
  const HWND mainTop = Make(0, {0, 0, 40, 40}, 0xC0C0C0, WS_VISIBLE);  // not painted yet
  WorkerReport report;
  std::atomic<bool> closeSeen{false};
  std::thread worker([&] {
    auto backend = std::make_unique<HeadlessBackend>();
    HeadlessBackend* screen = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    RegisterWorkerClass();
    const HWND top =
        CreateWindowEx(0, "Worker", "worker", WS_POPUP | WS_VISIBLE, 100, 100, 60, 40, 0);
    ProcessMessages();
    screen->InjectClick({110, 110});
    screen->InjectKey('A', true, "a");
    PumpUntil([] { return Saw(WM_LBUTTONUP) && Saw(WM_CHAR); }, Clock::now() + 20s);
    {
      const std::lock_guard lock(report.mutex);
      report.top = top;
      report.presented = screen->Presented(top) ? screen->Presented(top)->Pixel(5, 5) : 0;
      report.sawClick = Saw(WM_LBUTTONDOWN);
      report.sawChar = Saw(WM_CHAR);
      // The main thread's window is not this thread's to touch.
      report.seesMainWindow = IsWindowVisible(mainTop) || GetWindow(mainTop, GW_CHILD) != 0;
    }
    report.Finish();
    // Serves the main thread's SendMessage, then the posted close ends it.
    PumpUntil([&] { return !IsWindow(top); }, Clock::now() + 20s);
    closeSeen = Saw(WM_CLOSE);
    StopWindowSystem();
  });
  ASSERT_TRUE(report.WaitDone());
  EXPECT_EQ(headless->PresentCount(mainTop), 0) << "the worker painted the main thread's window";
  {
    const std::lock_guard lock(report.mutex);
    EXPECT_EQ(report.presented, ColorToRGB(kRed));
    EXPECT_TRUE(report.sawClick);
    EXPECT_TRUE(report.sawChar);
    EXPECT_FALSE(report.seesMainWindow);
  }
  // Across threads: the worker's loop answers and dispatches on its own thread.
  char text[16] = {};
  EXPECT_EQ(SendMessage(report.top, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 6);
  EXPECT_STREQ(text, "worker");
  EXPECT_FALSE(IsUiWindow(report.top));
  PostMessage(report.top, WM_CLOSE, 0, 0);
  worker.join();
  EXPECT_TRUE(closeSeen);
  ProcessMessages();
  EXPECT_GT(headless->PresentCount(mainTop), 0);
}

// The headless screen shows the shown windows of every thread's back end; the clipboard is
// the process's.
TEST_F(ThreadTest, TheHeadlessScreenComposesEveryThreadsWindows) {
  Make(0, {10, 10, 50, 50}, 0x00FF00, WS_VISIBLE);
  Pump();
  Bitmap screen;
  std::thread worker([&] {
    StartWindowSystem(std::make_unique<HeadlessBackend>());
    RegisterWorkerClass();
    CreateWindowEx(0, "Worker", "", WS_POPUP | WS_VISIBLE, 30, 30, 40, 40, 0);
    ProcessMessages();
    SetClipboardText("report");
    screen = CaptureScreen();
    StopWindowSystem();
  });
  worker.join();
  ASSERT_EQ(screen.Width(), 1024);
  ASSERT_EQ(screen.Height(), 768);
  EXPECT_EQ(screen.Pixel(15, 15), ColorToRGB(0x00FF00));
  EXPECT_EQ(screen.Pixel(60, 60), ColorToRGB(kRed));
  EXPECT_EQ(screen.Pixel(5, 5), RGB(0, 0, 0));
  EXPECT_EQ(GetClipboardText(), "report");
  // The worker's window went with its window system.
  EXPECT_EQ(CaptureScreen().Pixel(60, 60), RGB(0, 0, 0));
}

// Another thread finds this thread's top-level windows and asks one with a send that gives
// up while this thread is blocked, as a watchdog does.
TEST_F(ThreadTest, AnotherThreadListsTopLevelsAndSendsWithATimeOut) {
  const HWND shown = Make(0, {0, 0, 40, 40}, 0xC0C0C0, WS_VISIBLE);
  const HWND tool = Make(0, {0, 0, 20, 20}, 0xC0C0C0, 0, WS_EX_TOOLWINDOW);
  const HWND child = Make(shown, {0, 0, 10, 10}, 0xC0C0C0, WS_VISIBLE);
  std::vector<HWND> tops;
  TOPLEVELINFO shownInfo, toolInfo, childInfo;
  bool childListed = true, blockedAnswer = true, answer = false;
  std::atomic<bool> done{false};
  WorkerReport blocked;
  std::thread worker([&] {
    EnumWindows([&](HWND h) { return tops.push_back(h), true; });
    GetTopLevelInfo(shown, shownInfo);
    GetTopLevelInfo(tool, toolInfo);
    childListed = GetTopLevelInfo(child, childInfo);
    blockedAnswer = SendMessageTimeout(shown, WM_NULL, 0, 0, SMTO_BLOCK, 50ms, nullptr);
    blocked.Finish();
    answer = SendMessageTimeout(shown, WM_NULL, 0, 0, SMTO_BLOCK, 30s, nullptr);
    done = true;
    PostMessage(shown, WM_NULL, 0, 0);
  });
  ASSERT_TRUE(blocked.WaitDone());
  PumpUntil([&] { return done.load(); }, Clock::now() + 30s);
  worker.join();
  const auto at = [&](HWND h) { return std::find(tops.begin(), tops.end(), h) - tops.begin(); };
  EXPECT_LT(at(shown), at(tool));
  EXPECT_LT(at(tool), std::ssize(tops));
  EXPECT_EQ(at(child), std::ssize(tops));
  EXPECT_FALSE(childListed);
  EXPECT_TRUE(shownInfo.visible);
  EXPECT_FALSE(toolInfo.visible);
  EXPECT_EQ(toolInfo.exStyle, WS_EX_TOOLWINDOW);
  EXPECT_FALSE(blockedAnswer);
  EXPECT_TRUE(answer);
  ShowWindow(shown, SW_HIDE);
  DestroyWindow(tool);
  EXPECT_TRUE(GetTopLevelInfo(shown, shownInfo));
  EXPECT_FALSE(shownInfo.visible);
  EXPECT_FALSE(GetTopLevelInfo(tool, toolInfo));
}

// Another thread reads the foreground window and the focused control as this thread last
// left them, as the exception logger does for a report.
TEST_F(ThreadTest, AnotherThreadSeesTheForegroundWindowAndTheFocus) {
  const auto read = [] {
    std::optional<FOREGROUNDINFO> seen;
    std::thread([&] {
      FOREGROUNDINFO info;
      if (GetForegroundInfo(info)) seen = info;
    }).join();
    return seen;
  };
  const HWND top = Make(0, {0, 0, 80, 40}, 0xC0C0C0, WS_VISIBLE | WS_CAPTION);
  SetWindowText(top, "Rip settings");
  const HWND edit = Make(top, {0, 0, 40, 20}, 0xC0C0C0, WS_VISIBLE | 0x20 /* password */);
  SetWindowText(edit, "hunter2");
  SetActiveWindow(top);
  SetFocus(edit);
  std::optional<FOREGROUNDINFO> seen = read();
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->formClass, kClass);
  EXPECT_EQ(seen->formText, "Rip settings");
  EXPECT_EQ(seen->controlClass, kClass);
  EXPECT_EQ(seen->controlText, "hunter2");
  EXPECT_EQ(seen->controlStyle & 0x20, 0x20u);
  // A text changed without a change of focus shows once the thread has gone idle.
  SetWindowText(edit, "swordfish");
  Pump();
  seen = read();
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->controlText, "swordfish");
  DestroyWindow(top);
  Pump();
  EXPECT_FALSE(read().has_value());
}

// On a real X server: the worker's own connection maps its window and the server shows its
// pixels, and a click the server delivers reaches it, while the main thread waits.
TEST_F(ThreadTest, ASecondThreadsXWindowMapsWhileTheMainThreadIsBlocked) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  StopWindowSystem();
  auto mainX = X11Backend::Open(server.Display().c_str());
  ASSERT_NE(mainX, nullptr);
  ASSERT_TRUE(StartWindowSystem(std::move(mainX)));
  WNDCLASS cls;  // the recording class again, on the main thread's X window system
  cls.lpszClassName = kClass;
  cls.hbrBackground = clNone;
  cls.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) { return current->Proc(h, m, w, l); };
  ASSERT_TRUE(RegisterClass(cls));
  Make(0, {0, 0, 80, 80}, 0xC0C0C0, WS_VISIBLE);
  WorkerReport report;
  std::thread worker([&] {
    auto backend = X11Backend::Open(server.Display().c_str());
    ASSERT_NE(backend, nullptr);
    X11Backend* x11 = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    RegisterWorkerClass();
    const HWND top =
        CreateWindowEx(0, "Worker", "worker x", WS_POPUP | WS_VISIBLE, 200, 150, 60, 40, 0);
    PumpUntil([&] { return x11->Mapped(top); }, Clock::now() + 20s);
    x11->Sync();
    ProcessMessages();
    x11->Sync();
    const Bitmap shown = GrabXWindow(server.Display(), x11->XWindow(top), 60, 40);
    SendXClick(server.Display(), x11->XWindow(top), 10, 10, 210, 160);
    PumpUntil([] { return Saw(WM_LBUTTONUP); }, Clock::now() + 20s);
    {
      const std::lock_guard lock(report.mutex);
      report.grabbed = shown.Empty() ? 0 : shown.Pixel(30, 20);
      report.presented = SnapshotWindow(top).Pixel(30, 20);
      report.sawClick = Saw(WM_LBUTTONDOWN);
    }
    StopWindowSystem();
    report.Finish();
  });
  const bool finished = report.WaitDone();
  worker.join();
  StopWindowSystem();  // before the server goes
  ASSERT_TRUE(finished);
  const std::lock_guard lock(report.mutex);
  EXPECT_EQ(report.grabbed, ColorToRGB(kRed));
  EXPECT_EQ(report.presented, ColorToRGB(kRed));
  EXPECT_TRUE(report.sawClick);
}

}  // namespace
}  // namespace qv::test
