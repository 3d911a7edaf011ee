// The X11 back end against a real X server: Xvfb, started on a display number it picks
// itself (-displayfd) and stopped by its process id. The same window drawn headless and on
// the server must give the same bytes; regions cut the X window's shape; a click sent to
// the X window reaches the child under it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

#include "platform/ui/x11_backend.h"
#include "tests/platform/ui/ui_test_util.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

constexpr TColor kGrey = 0xC0C0C0, kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;

class X11Test : public UiTest {
 protected:
  static void SetUpTestSuite() { server = new XvfbServer(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { ASSERT_FALSE(server->Display().empty()) << "Xvfb did not start"; }
  void TearDown() override { StopWindowSystem(); }

  void UseHeadless() {
    StopWindowSystem();
    auto backend = std::make_unique<HeadlessBackend>();
    headless = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    Register();
  }
  void UseX11() {
    StopWindowSystem();
    auto backend = X11Backend::Open(server->Display().c_str());
    ASSERT_NE(backend, nullptr);
    x11 = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    Register();
  }
  void Register() {
    current = this;
    WNDCLASS cls;
    cls.lpszClassName = kClass;
    cls.hbrBackground = clNone;
    cls.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) { return current->Proc(h, m, w, l); };
    RegisterClass(cls);
  }

  LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_PAINT && h == label) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, ps);
      Rect r;
      if (GetClientRect(h, r)) {
        dc->FillRect(r, Brush{BrushStyle::bsSolid, kGreen});
        dc->SetBkMode(TRANSPARENT);
        dc->DrawText("Quorvel 0.8", r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        dc->MoveTo(0, 0);
        dc->LineTo(r.Right, r.Bottom);
      }
      EndPaint(h, ps);
      log.push_back({h, m, w, l});
      return 0;
    }
    return UiTest::Proc(h, m, w, l);
  }

  // The same window both ways: a framed top-level, two overlapping children, a grandchild
  // and a child with a client edge and text.
  void BuildScene() {
    top = Make(0, {40, 30, 260, 190}, kGrey, WS_BORDER | WS_CAPTION | WS_SYSMENU, 0, "ui x11 test");
    red = Make(top, {10, 10, 110, 80}, kRed, WS_VISIBLE);
    Make(red, {5, 5, 25, 25}, kBlue, WS_VISIBLE);
    label = Make(top, {60, 50, 200, 120}, kGreen, WS_VISIBLE, WS_EX_CLIENTEDGE);
    ShowWindow(top, SW_SHOW);
  }

  // Waits for the server to map the window and for the exposures that follow.
  void WaitUntilShown() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    ASSERT_EQ(PumpUntil([&] { return x11->Mapped(top); }, deadline), PumpResult::Done);
    x11->Sync();
    ProcessMessages();
    x11->Sync();
  }

  Bitmap Grab(unsigned long window, int width, int height) {
    return GrabXWindow(server->Display(), window, width, height);
  }

  static inline XvfbServer* server = nullptr;
  X11Backend* x11 = nullptr;
  HWND top = 0, red = 0, label = 0;
};

TEST_F(X11Test, TheServerShowsExactlyTheHeadlessPixels) {
  UseHeadless();
  BuildScene();
  ProcessMessages();
  const Bitmap expected = SnapshotWindow(top);
  ASSERT_EQ(expected.Width(), 220);
  ASSERT_EQ(*headless->Presented(top), expected);

  UseX11();
  BuildScene();
  WaitUntilShown();
  const unsigned long xid = x11->XWindow(top);
  ASSERT_NE(xid, 0u);
  const Bitmap shown = Grab(xid, 220, 160);
  ASSERT_FALSE(shown.Empty());
  EXPECT_TRUE(shown == expected) << "the X server shows other pixels than the headless render";
  EXPECT_EQ(shown.Pixel(100, 40), ColorToRGB(kRed));

  // A later change reaches the server as well.
  SetWindowLong(red, GWL_USERDATA, kBlue);
  InvalidateRect(red, nullptr, true);
  ProcessMessages();
  x11->Sync();
  const Bitmap after = Grab(xid, 220, 160);
  Point p{100, 40};
  EXPECT_EQ(after.Pixel(p.X, p.Y), ColorToRGB(kBlue));
  EXPECT_EQ(after, SnapshotWindow(top));

  EXPECT_TRUE(x11->RaiseWindowByTitle("ui x11 test"));
  EXPECT_FALSE(x11->RaiseWindowByTitle("no window has this title"));
  const auto monitors = x11->Monitors();
  ASSERT_FALSE(monitors.empty());
  EXPECT_EQ(monitors.front().Bounds, Rect(0, 0, 640, 480));
}

// A work area that no screen has (its sums would overflow) is left out, not taken in part.
TEST_F(X11Test, AWorkAreaNoScreenHasIsIgnored) {
  UseX11();
  ASSERT_TRUE(SetRootCardinals(server->Display(), "_NET_WORKAREA", {0, 20, 640, 440}));
  auto monitors = x11->Monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors.front().WorkArea, Rect(0, 20, 640, 460));
  for (const std::vector<long>& area : std::vector<std::vector<long>>{
           {2147483647, 0, 10, 10}, {0, 0, 2147483647, 2147483647}, {-100, -100, 0, 50}}) {
    ASSERT_TRUE(SetRootCardinals(server->Display(), "_NET_WORKAREA", area));
    monitors = x11->Monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors.front().WorkArea, Rect(0, 0, 640, 480)) << area[0] << " " << area[2];
  }
  ASSERT_TRUE(SetRootCardinals(server->Display(), "_NET_WORKAREA", {0, 0, 640, 480}));
}

TEST_F(X11Test, AWindowRegionCutsTheShape) {
  UseX11();
  BuildScene();
  WaitUntilShown();
  const Region shape = CreateRoundRectRgn(0, 0, 220, 160, 40, 40);
  ASSERT_TRUE(SetWindowRgn(top, shape, true));
  ProcessMessages();
  x11->Sync();
  auto rects = XShapeRectangles(server->Display(), x11->XWindow(top));
  ASSERT_TRUE(rects.has_value());
  Region got;
  for (const Rect& r : *rects) got = got.Union(Region(r));
  EXPECT_EQ(got, shape);
  EXPECT_FALSE(got.Contains({0, 0}));
  EXPECT_TRUE(got.Contains({110, 80}));

  SetWindowRgn(top, std::nullopt, true);
  x11->Sync();
  rects = XShapeRectangles(server->Display(), x11->XWindow(top));
  ASSERT_TRUE(rects.has_value());
  ASSERT_EQ(rects->size(), 1u);
  EXPECT_EQ(rects->front(), Rect(0, 0, 220, 160));
}

TEST_F(X11Test, ASyntheticClickReachesTheChildUnderIt) {
  UseX11();
  BuildScene();
  WaitUntilShown();
  log.clear();
  const unsigned long xid = x11->XWindow(top);
  // (100, 80) in the window: inside the label child (which lies above the red one).
  ASSERT_TRUE(SendXClick(server->Display(), xid, 100, 80, 140, 110));
  ASSERT_TRUE(SendXKey(server->Display(), xid, 'a'));  // the keysym of "a" is its code
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  ASSERT_EQ(PumpUntil([&] { return !Of({WM_CHAR}).empty(); }, deadline), PumpResult::Done);
  const auto clicks = Of({WM_LBUTTONDOWN, WM_LBUTTONUP});
  ASSERT_EQ(clicks.size(), 2u);
  for (const auto& c : clicks) EXPECT_EQ(c.hwnd, label);
  // In the label's client coordinates: inside its edge, inside the top's frame and caption.
  Point client{140, 110};
  ScreenToClient(label, client);
  EXPECT_EQ(LParamPoint(clicks[0].lParam), client);
  const auto keys = Of({WM_KEYDOWN, WM_CHAR});
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].wParam, WPARAM{'A'});
  EXPECT_EQ(keys[1].wParam, WPARAM{'a'});
}

// The screen capture is the root window's image: our window's pixels where it lies. Text a
// thread put on the clipboard stays readable by another client after that thread and its
// window system are gone.
TEST_F(X11Test, TheScreenCaptureAndTheClipboardReachOtherClients) {
  UseX11();
  BuildScene();
  WaitUntilShown();
  const Bitmap screen = CaptureScreen();
  ASSERT_EQ(screen.Width(), 640);
  ASSERT_EQ(screen.Height(), 480);
  const Bitmap window = SnapshotWindow(top);
  int differing = 0;
  for (int y = 0; y < window.Height(); ++y) {
    for (int x = 0; x < window.Width(); ++x)
      differing += screen.Pixel(40 + x, 30 + y) != window.Pixel(x, y);
  }
  EXPECT_EQ(differing, 0);

  const std::string text = "Error.\r\nMessage: caf\xC3\xA9 \xE2\x82\xAC";
  bool taken = false;
  std::thread worker([&] {
    StartWindowSystem(X11Backend::Open(server->Display().c_str()));
    taken = SetClipboardText(text);
    StopWindowSystem();
  });
  worker.join();
  EXPECT_TRUE(taken);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  EXPECT_EQ(ReadXClipboard(server->Display(), "UTF8_STRING", deadline), text);
  EXPECT_EQ(ReadXClipboard(server->Display(), "STRING", deadline), "Error.\r\nMessage: caf\xE9 ?");
  EXPECT_EQ(ReadXClipboard(server->Display(), "TARGETS", deadline)->size(), 4 * sizeof(long));
  EXPECT_EQ(ReadXClipboard(server->Display(), "image/png", deadline), std::nullopt);
  EXPECT_EQ(GetClipboardText(), text);
}

// A signal handled by the program (the freeze watchdog's snapshot, say) reaching the
// clipboard's serving thread does not end the serving.
TEST_F(X11Test, TheClipboardOutlivesSignals) {
  UseX11();
  ASSERT_TRUE(SetClipboardText("still here"));
  struct sigaction action {};
  action.sa_handler = [](int) {};
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  for (int round = 0; round < 3; ++round) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      const pid_t tid = pid_t(std::atoi(task.path().filename().c_str()));
      if (tid != 0) ::syscall(SYS_tgkill, ::getpid(), tid, SIGUSR2);
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    EXPECT_EQ(ReadXClipboard(server->Display(), "UTF8_STRING", deadline), "still here") << round;
  }
  ::sigaction(SIGUSR2, &previous, nullptr);
}

// On a palette visual the pixels are colormap indexes: the capture reads their colours.
TEST(X11PaletteTest, TheScreenCaptureOfAPaletteVisualHasItsColours) {
  XvfbServer palette("320x200x8");
  ASSERT_FALSE(palette.Display().empty()) << "Xvfb did not start at depth 8";
  Display* dpy = XOpenDisplay(palette.Display().c_str());
  ASSERT_NE(dpy, nullptr);
  const int screen = DefaultScreen(dpy);
  ASSERT_EQ(DefaultVisual(dpy, screen)->c_class, PseudoColor);
  // Colours allocated and painted by another client, which stays connected meanwhile.
  XColor red{}, teal{};
  red.red = 0xFFFF;
  teal.green = teal.blue = 0x8080;
  ASSERT_TRUE(XAllocColor(dpy, DefaultColormap(dpy, screen), &red));
  ASSERT_TRUE(XAllocColor(dpy, DefaultColormap(dpy, screen), &teal));
  const GC gc = DefaultGC(dpy, screen);
  XSetForeground(dpy, gc, red.pixel);
  XFillRectangle(dpy, RootWindow(dpy, screen), gc, 0, 0, 160, 200);
  XSetForeground(dpy, gc, teal.pixel);
  XFillRectangle(dpy, RootWindow(dpy, screen), gc, 160, 0, 160, 200);
  XSync(dpy, False);
  const std::unique_ptr<DisplayBackend> backend = X11Backend::Open(palette.Display().c_str());
  ASSERT_NE(backend, nullptr);
  const Bitmap shot = backend->CaptureScreen();
  ASSERT_EQ(shot.Width(), 320);
  EXPECT_EQ(shot.Pixel(10, 10), RGB(255, 0, 0));
  EXPECT_EQ(shot.Pixel(300, 190), RGB(std::uint8_t(teal.red >> 8), std::uint8_t(teal.green >> 8),
                                      std::uint8_t(teal.blue >> 8)));
  XCloseDisplay(dpy);
}

}  // namespace
}  // namespace qv::test
