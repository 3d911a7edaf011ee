// The "SMTP" progress window on a thread of its own: it shows the sender's texts and
// positions and ends on Close, while the sending thread only posts to it; a window thread
// that hangs, or no display, leaves the send without a window instead of holding it up.
#include "crashlog/send_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <thread>

#include "crashlog/screenshot.h"
#include "crashlog/trace_log.h"
#include "platform/classlib/commctrl.h"
#include "platform/classlib/dialogs.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/system_metrics.h"
#include "platform/ui/window_system.h"
#include "platform/ui/x11_backend.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Asked of the window's own thread, as another program's thread would.
std::string TextOf(HWND hwnd) {
  char buffer[256] = {};
  SendMessage(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

template <typename F>
bool Until(F done) {
  const auto deadline = Clock::now() + 30s;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Drives the window as the sender does and checks each step shows before the next.
void CheckWindow(TSMTPThread& progress) {
  ASSERT_TRUE(progress.Shown());
  const HWND dialog = progress.Window();
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(TextOf(dialog), "SMTP.");
  const HWND status = progress.Control(IDC_SMTP_STATUS);
  const HWND bar = progress.Control(IDC_SMTP_PROGRESS);
  ASSERT_NE(status, 0u);
  ASSERT_NE(bar, 0u);
  const std::vector<std::pair<std::string, int>> steps = {
      {"a@x 1/2: Connecting with SMTP server...", -1},
      {"Sending message...", 0},
      {"", 40},
      {"", 100},
      {"b@y 2/2: Socket timeout.", -1}};
  for (const auto& [text, percent] : steps) {
    if (!text.empty()) progress.Status(text);
    if (percent >= 0) progress.Position(percent);
    if (!text.empty()) {
      EXPECT_TRUE(Until([&] { return TextOf(status) == text; })) << text;
    }
    if (percent >= 0) {
      EXPECT_TRUE(Until([&] { return SendMessage(bar, PBM_GETPOS, 0, 0) == percent; })) << percent;
    }
  }
  progress.Close();
  ASSERT_TRUE(progress.WaitEnded(30s));
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_FALSE(IsWindow(status));
  EXPECT_EQ(progress.Window(), 0u);
  progress.Status("after the end");  // dropped, not queued for a window that is gone
}

TEST(SendProgressTest, HeadlessWindowShowsTheStepsInOrderAndEndsOnClose) {
  auto progress = TSMTPThread::Start("SMTP.", [] { return std::make_unique<HeadlessBackend>(); });
  CheckWindow(*progress);
}

// An SMTP warning also goes to a message box while the window is open, and only then.
TEST(SendProgressTest, SMTPWarningsShowInABoxWhileTheWindowIsOpen) {
  SetMessageBoxesUnattended(true);  // the box prints "caption: text" and answers at once
  auto progress = TSMTPThread::Start("SMTP.", [] { return std::make_unique<HeadlessBackend>(); });
  ASSERT_TRUE(progress->Shown());
  ::testing::internal::CaptureStderr();
  Warning(eeEmailSMTPError, "Relay access denied.");
  Warning(eeEmailMAPIError, "Not an SMTP warning.");
  progress->Close();
  EXPECT_TRUE(progress->WaitEnded(30s));
  Warning(eeEmailSMTPError, "After the window.");
  const std::string shown = ::testing::internal::GetCapturedStderr();
  SetMessageBoxesUnattended(false);
  EXPECT_NE(shown.find("Error.: Relay access denied."), std::string::npos) << shown;
  EXPECT_EQ(shown.find("Not an SMTP warning."), std::string::npos);
  EXPECT_EQ(shown.find("After the window."), std::string::npos);
}

TEST(SendProgressTest, X11WindowOnItsOwnConnection) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty());
  const std::string display = server.Display();
  auto progress = TSMTPThread::Start(
      "SMTP.", [display] { return X11Backend::Open(display.c_str()); }, 30s);
  ASSERT_TRUE(progress->Shown());
  EXPECT_NE(WaitForViewableXWindow(display, "SMTP.", Clock::now() + 30s).window, 0u);
  CheckWindow(*progress);
}

// The window wears the logger's look: its small caption bar painted in the fixed colours (the
// active gradient's outer band at the bar's top), or the system's with that look off.
TEST(SendProgressTest, X11WindowPaintsTheLoggersCaptionBar) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty());
  const std::string display = server.Display();
  const COLORREF outerBand = RGB(125, 149, 186);  // RGB(130, 155, 194) x 0.96
  for (const bool custom : {true, false}) {
    SCOPED_TRACE(custom);
    auto progress = TSMTPThread::Start(
        "SMTP.", [display] { return X11Backend::Open(display.c_str()); }, 30s, custom);
    ASSERT_TRUE(progress->Shown());
    progress->Status("bugs@quorvel.example 1/1: Connecting with SMTP server...");
    progress->Position(40);
    const XTopLevel top = WaitForViewableXWindow(display, "SMTP.", Clock::now() + 30s);
    ASSERT_NE(top.window, 0u);
    const Point bar{GetSystemMetrics(SM_CXFRAME) + 2, GetSystemMetrics(SM_CYFRAME)};
    Bitmap shot;
    // Painted: neither the bar nor the middle shows the unpainted window's black.
    EXPECT_TRUE(Until([&] {
      shot = GrabXWindow(display, top.window, top.width, top.height);
      const COLORREF at = shot.Pixel(bar.X, bar.Y);
      return (custom ? at == outerBand : at != RGB(0, 0, 0)) &&
             shot.Pixel(top.width / 2, top.height - 8) != RGB(0, 0, 0);
    }));
    EXPECT_EQ(shot.Pixel(bar.X, bar.Y) == outerBand, custom);
    // QV_KEEP_DIALOG_SHOTS=<folder> keeps the pictures to look at.
    if (const char* keep = std::getenv("QV_KEEP_DIALOG_SHOTS"))
      WritePalettePNG(std::string(keep) + (custom ? "/smtp.png" : "/smtp_system.png"), shot);
    progress->Close();
    ASSERT_TRUE(progress->WaitEnded(30s));
  }
}

TEST(SendProgressTest, AHungWindowThreadOrNoDisplayLeavesTheSendWithoutAWindow) {
  // A window thread that hangs before its window takes the focus: the sender gives up
  // after the wait and its calls return while that thread is still stuck.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> madeBackend{false};
  auto hung = TSMTPThread::Start(
      "SMTP.",
      [released, &madeBackend] {
        released.wait();
        madeBackend = true;
        return std::make_unique<HeadlessBackend>();
      },
      50ms);
  EXPECT_FALSE(hung->Shown());
  hung->Status("Connecting with SMTP server...");
  hung->Position(50);
  hung->Close();
  EXPECT_FALSE(madeBackend);
  release.set_value();
  ASSERT_TRUE(hung->WaitEnded(30s));
  EXPECT_TRUE(madeBackend);

  auto none = TSMTPThread::Start("SMTP.", [] { return std::unique_ptr<DisplayBackend>(); });
  EXPECT_FALSE(none->Shown());
  EXPECT_TRUE(none->WaitEnded(30s));
}

}  // namespace
}  // namespace qv::test
