// The main window on a real X server (Xvfb on a display it picks itself, stopped by its
// process id): it shows exactly the pixels of the headless window, and an unattended rip
// runs through the real window.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "platform/gfx/png_codec.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/x11_backend.h"
#include "tests/app/form_test_util.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
namespace {

constexpr unsigned long kEscapeKeysym = 0xFF1B;

class X11FormTest : public FormTest {
 protected:
  static void SetUpTestSuite() { server = new XvfbServer("1024x768x24"); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  static inline XvfbServer* server = nullptr;
};

TEST_F(X11FormTest, TheServerShowsTheHeadlessWindow) {
  ASSERT_FALSE(server->Display().empty()) << "Xvfb did not start";
  const Rect screen{0, 0, 1024, 768};
  ASSERT_TRUE(StartWindowSystem(
      std::make_unique<HeadlessBackend>(std::vector<Monitor>{{screen, screen, true}})));
  Open({});
  ProcessMessages();
  const Bitmap expected = SnapshotWindow(form_->Handle());
  ASSERT_EQ(expected.Width(), 1024);
  ASSERT_EQ(expected.Height(), 768);
  Close();

  auto backend = X11Backend::Open(server->Display().c_str());
  ASSERT_NE(backend, nullptr);
  X11Backend* x11 = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  Open({});
  EXPECT_EQ(form_->BoundsRect(), screen);
  const HWND top = form_->Handle();
  ASSERT_TRUE(Pump([&] { return x11->Mapped(top); }));
  x11->Sync();
  ProcessMessages();
  x11->Sync();
  const unsigned long xid = x11->XWindow(top);
  const Bitmap shown = GrabXWindow(server->Display(), xid, 1024, 768);
  ASSERT_FALSE(shown.Empty());
  // Kept in the build tree to be looked at.
  const std::vector<std::uint8_t> png = SavePng(shown);
  std::ofstream(std::string(QV_BINARY_DIR) + "/test_unit1_x11.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  EXPECT_TRUE(shown == expected) << "the X server shows other pixels than the headless window";
  // The Escape key pressed on the X window closes it.
  ASSERT_TRUE(SendXKey(server->Display(), xid, kEscapeKeysym));
  EXPECT_EQ(
      PumpUntil([] { return false; }, std::chrono::steady_clock::now() + std::chrono::seconds(30)),
      PumpResult::Quit);
  EXPECT_TRUE(form_->FAbort);
}

// The program on the X server: its window fills the screen and the Escape key ends it with
// status 0.
TEST_F(X11FormTest, TheProgramsWindowClosesOnEscape) {
  ASSERT_FALSE(server->Display().empty()) << "Xvfb did not start";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("DISPLAY", server->Display().c_str(), 1);
    ::setenv("QUORVEL_DISPLAY", "x11", 1);
    const std::string program = std::string(QV_BINARY_DIR) + "/bin/quorvel";
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const XTopLevel window = WaitForViewableXWindow(
      server->Display(), "Quorvel", std::chrono::steady_clock::now() + std::chrono::seconds(60));
  ASSERT_NE(window.window, 0u);
  EXPECT_EQ(window.width, 1024);
  EXPECT_EQ(window.height, 768);
  EXPECT_TRUE(SendXKey(server->Display(), window.window, kEscapeKeysym));
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The program itself on the X server: an unattended rip through the real window.
TEST_F(X11FormTest, AutoRipRunsWithTheRealWindow) {
  ASSERT_FALSE(server->Display().empty()) << "Xvfb did not start";
  const auto r = RunCommand("DISPLAY=" + server->Display() + " QUORVEL_DISPLAY=x11 timeout 120 " +
                            Quote(std::string(QV_BINARY_DIR) + "/bin/quorvel") +
                            " -auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"Unknown Artist/Unknown Album/01 - Track 1.flac",
                                      "Unknown Artist/Unknown Album/02 - Track 2.flac"}));
  EXPECT_EQ(r.output.find("headless"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace qv::test
