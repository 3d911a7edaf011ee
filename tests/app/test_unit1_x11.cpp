// The main window on a real X server (Xvfb on a display it picks itself, stopped by its
// process id): it shows exactly the pixels of the headless window, and an unattended rip
// runs through the real window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/gfx/png_codec.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/x11_backend.h"
#include "tests/app/form_test_util.h"

// After everything else: Xlib's macros would break the other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace qv::test {
namespace {

class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, 2);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (number.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fds[0], POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
      char buffer[32];
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, size_t(n));
    }
    ::close(fds[0]);
    if (number.find('\n') != std::string::npos)
      display_ = ":" + number.substr(0, number.find('\n'));
  }
  ~Xvfb() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  [[nodiscard]] const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

Bitmap Grab(::Display* Peer, unsigned long Window, int Width, int Height) {
  XImage* image =
      XGetImage(Peer, Window, 0, 0, unsigned(Width), unsigned(Height), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  Bitmap out(Width, Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      std::uint8_t* dst = out.ScanLine(y) + 3 * x;
      dst[0] = std::uint8_t(p & 0xFF);
      dst[1] = std::uint8_t((p >> 8) & 0xFF);
      dst[2] = std::uint8_t((p >> 16) & 0xFF);
    }
  XDestroyImage(image);
  return out;
}

class X11FormTest : public FormTest {
 protected:
  static void SetUpTestSuite() { server = new Xvfb(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  static inline Xvfb* server = nullptr;
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
  ::Display* peer = XOpenDisplay(server->Display().c_str());
  ASSERT_NE(peer, nullptr);
  const unsigned long xid = x11->XWindow(top);
  const Bitmap shown = Grab(peer, xid, 1024, 768);
  ASSERT_FALSE(shown.Empty());
  if (!(shown == expected)) {
    const std::vector<std::uint8_t> png = SavePng(shown);
    std::ofstream(std::string(QV_BINARY_DIR) + "/test_unit1_x11.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  }
  EXPECT_TRUE(shown == expected) << "the X server shows other pixels than the headless window";
  // The Escape key pressed on the X window closes it.
  XKeyEvent key{};
  key.type = KeyPress;
  key.display = peer;
  key.window = xid;
  key.root = DefaultRootWindow(peer);
  key.keycode = XKeysymToKeycode(peer, XK_Escape);
  key.same_screen = True;
  XSendEvent(peer, xid, False, KeyPressMask, reinterpret_cast<XEvent*>(&key));
  XFlush(peer);
  EXPECT_EQ(
      PumpUntil([] { return false; }, std::chrono::steady_clock::now() + std::chrono::seconds(30)),
      PumpResult::Quit);
  EXPECT_TRUE(form_->FAbort);
  XCloseDisplay(peer);
}

// Finds the top-level window titled `Title` (the window manager-less server keeps them as
// children of the root); 0 when there is none.
unsigned long FindTitled(::Display* Peer, const char* Title) {
  ::Window root, parent, *children = nullptr;
  unsigned count = 0;
  unsigned long found = 0;
  if (XQueryTree(Peer, DefaultRootWindow(Peer), &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(Peer, children[i], &name) != 0 && name != nullptr) {
      if (std::string(name) == Title) found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
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
  ::Display* peer = XOpenDisplay(server->Display().c_str());
  ASSERT_NE(peer, nullptr);
  unsigned long xid = 0;
  XWindowAttributes attributes{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // Polls the server (another process) until the window is mapped.
  while (std::chrono::steady_clock::now() < deadline) {
    xid = FindTitled(peer, "Quorvel");
    if (xid != 0 && XGetWindowAttributes(peer, xid, &attributes) != 0 &&
        attributes.map_state == IsViewable)
      break;
    xid = 0;
    ::poll(nullptr, 0, 20);
  }
  ASSERT_NE(xid, 0u);
  EXPECT_EQ(attributes.width, 1024);
  EXPECT_EQ(attributes.height, 768);
  XKeyEvent key{};
  key.type = KeyPress;
  key.display = peer;
  key.window = xid;
  key.root = DefaultRootWindow(peer);
  key.keycode = XKeysymToKeycode(peer, XK_Escape);
  key.same_screen = True;
  XSendEvent(peer, xid, False, KeyPressMask, reinterpret_cast<XEvent*>(&key));
  XFlush(peer);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  XCloseDisplay(peer);
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
