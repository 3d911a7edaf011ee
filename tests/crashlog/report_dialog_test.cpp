// The exception dialog and the screenshot: the layout rules without a display, then a
// crash program's dialog driven on a real X server as a user would, and the PNG checked by
// pngcheck and Python's PIL.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "crashlog/report_dialog.h"
#include "crashlog/report_layout.h"
#include "crashlog/screenshot.h"
#include "crashlog/trace_log.h"
#include "platform/base/inifile.h"
#include "platform/classlib/dlgtemplate.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/png_codec.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/x11_backend.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
// Fills the X server's root window with the colours `colour` gives, as another client would;
// the picture stays while the connection returned lives (the server resets after its last
// client).
std::shared_ptr<void> PaintXRoot(const std::string& display, int width, int height,
                const std::function<COLORREF(int x, int y)>& colour);
}

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const TDialogMetrics kMetrics{4, 4, 15, 1024, 768};

TEST(ReportLayoutTest, CompactViewFollowsTheMessageLines) {
  struct Case {
    std::vector<Size> lines;
    Rect window, message;
  } cases[] = {
      // Short lines: the least width; the message height is the sum of the lines.
      {{{50, 13}, {120, 13}}, Bounds(387, 329, 250, 109), Bounds(48, 8, 184, 26)},
      {{{300, 13}, {200, 13}}, Bounds(321, 329, 382, 109), Bounds(48, 8, 316, 26)},
      // Wider than 640: cut to 640, each wrapped line adds its extra rows.
      {{{1000, 13}, {1800, 13}, {300, 13}}, Bounds(192, 303, 640, 161), Bounds(48, 8, 574, 91)},
  };
  for (const Case& c : cases) {
    const TCompactLayout l = CompactLayout(c.lines, kMetrics);
    EXPECT_EQ(l.window, c.window) << c.lines[0].cx;
    EXPECT_EQ(l.message, c.message) << c.lines[0].cx;
  }
}

TEST(ReportLayoutTest, ControlsFollowTheClientSize) {
  struct Case {
    int w, h, boxes;
    TDialogControlsLayout want;
  } cases[] = {
      {466, 252, 20,
       {Bounds(4, 52, 458, 142), Bounds(48, 8, 410, 42), Bounds(195, 200, 75, 25),
        Bounds(386, 200, 75, 25), Bounds(5, 200, 75, 25), Bounds(4, 234, 229, 13),
        Bounds(233, 234, 229, 13), Bounds(23, 250, 443, 13)}},
      {700, 400, 34,
       {Bounds(4, 52, 692, 276), Bounds(48, 8, 644, 42), Bounds(312, 334, 75, 25),
        Bounds(620, 334, 75, 25), Bounds(5, 334, 75, 25), Bounds(4, 368, 346, 13),
        Bounds(350, 368, 346, 13), Bounds(23, 384, 677, 13)}},
  };
  for (const Case& c : cases) {
    const TDialogControlsLayout l = ControlsLayout(c.w, c.h, c.boxes);
    const Rect got[] = {l.tab, l.message, l.ok, l.details, l.terminate, l.send, l.copy, l.screenshot};
    const Rect want[] = {c.want.tab,       c.want.message, c.want.ok,   c.want.details,
                         c.want.terminate, c.want.send,    c.want.copy, c.want.screenshot};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], want[i]) << c.w << " control " << i;
  }
  EXPECT_EQ(CheckBoxAreaHeight(true, true), 34);
  EXPECT_EQ(CheckBoxAreaHeight(true, false), 20);
}

TEST(ReportLayoutTest, TerminateButtonFromTheErrorAfterTheLimit) {
  struct Case {
    bool limit;
    int after, error;
    bool shown;
  } cases[] = {{true, 3, 1, false}, {true, 3, 3, false}, {true, 3, 4, true},
               {false, 3, 10, false}, {true, 0, 1, true}};
  for (const Case& c : cases) {
    TOstrelModuleOptions o;
    o.SetTerminateButtonLimit(c.limit);
    o.SetTerminateButtonErrors(c.after);
    EXPECT_EQ(TerminateButtonShown(o, c.error), c.shown) << c.after << "/" << c.error;
  }
}

TEST(ReportLayoutTest, SavedLayoutDefaultsAndClamping) {
  TempDir dir;
  const std::string file = (dir.Path() / "OstrelLog.ini").string();
  struct Case {
    std::string ini;
    int left, top, width, height, state;
  } cases[] = {
      {"", 192, 174, 640, 385, 1},  // centred with the boxes' 34 pixels
      {"Left=900\nTop=700\nWidth=500\nHeight=300\nWindowsState=3", 524, 434, 500, 300, 3},
      {"Left=-50\nTop=-20\nWidth=300\nHeight=200\nWindowsState=4", 0, 0, 300, 200, 1},
      {"Width=-3\nHeight=0\nWindowsState=6", 192, 174, 640, 385, 6},
      {"Width=5000\nHeight=5000\nLeft=10", 0, 0, 1024, 734, 1},
  };
  for (const Case& c : cases) {
    std::ofstream(file) << "[Coordinates]\n" << c.ini << "\nCol2=77\nColMod5=-4\n";
    const TSavedLayout l = LoadLayout(file, kMetrics, 34);
    EXPECT_EQ((std::array{l.left, l.top, l.width, l.height, l.state}),
              (std::array{c.left, c.top, c.width, c.height, c.state}))
        << c.ini;
    EXPECT_EQ(l.stackColumns, (std::array{80, 102, 77, 118, 137, 48}));
    EXPECT_EQ(l.moduleColumns, (std::array{80, 100, 130, 65, 65, 0}));
  }
  TSavedLayout saved;
  saved.left = 7, saved.top = 9, saved.width = 600, saved.height = 355;
  saved.stackColumns[0] = 99;
  SaveLayout(file, saved);
  const TSavedLayout back = LoadLayout(file, kMetrics, 34);
  EXPECT_EQ((std::array{back.left, back.top, back.width, back.height, back.stackColumns[0]}),
            (std::array{7, 9, 600, 355, 99}));
}

TEST(ReportRowsTest, ListRowsAndTheMailSlotMessage) {
  auto module = [](std::string path, std::string version, uint32_t size, uint8_t kind) {
    auto m = std::make_shared<TOstrelModuleEntry>();
    m->handle = 0x7F0000001000, m->path = path, m->version = version;
    m->file_size = size, m->kind = kind;
    return m;
  };
  const auto program = module("/opt/q/quorvel", "", 1536, mkProgram);
  const auto lib = module("/usr/lib/libstdc++.so.6.0.30", "6.0.30", 2560, mkLibrary);
  const auto rows = ModuleRows({program, lib, module("/libz.so.1", "1", 0, mkLibrary)});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].cells, (std::vector<std::string>{"00007F0000001000", "quorvel", "", "",
                                                     "2 Kb", "/opt/q"}));
  EXPECT_EQ(rows[0].image, 2);
  EXPECT_EQ(rows[1].cells[3], "6.0.x");
  EXPECT_EQ(rows[1].cells[4], "2 Kb");  // 2.5 rounds to even
  EXPECT_EQ(rows[2].cells[5], "/");

  TOstrelStackList stack(4);
  stack[0] = {skLine, program, 0x10, "main.cpp", "TMain", "Run", 42};
  stack[1] = {skQualified, program, 0x20, "main", "TMain", "Go", 0};  // own module: left out
  stack[2] = {skExport, lib, 0x30, "", "", "__cxa_throw", 0};
  stack[3] = {skModule, lib, 0x40, "", "", "", 0};  // nothing known: left out
  const auto calls = CallStackRows(stack, program->handle);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].cells, (std::vector<std::string>{"0000000000000010", "quorvel", "main.cpp",
                                                      "TMain", "Run", "42"}));
  EXPECT_EQ((std::array{calls[0].image, calls[1].image}), (std::array{3, 0}));
  EXPECT_EQ(calls[1].cells[5], "");

  const std::vector<uint8_t> message = MailSlotMessage(std::string(3000, 'u'), 0x01020304);
  ASSERT_EQ(message.size(), 2052u);
  EXPECT_EQ(message[2046], 'u');
  EXPECT_EQ(message[2047], 0);
  EXPECT_EQ((std::array{message[2048], message[2051]}), (std::array<uint8_t, 2>{4, 1}));
}

TEST(ReportDialogTest, WithoutADisplayNoDialogNoFileAndOneErrorLine) {
  SetTraceSwitches("DEBUG");
  TOstrelModuleOptions options;
  TReportDialogInput input;
  input.options = &options;
  input.message = "Disc tray jammed.";
  ClearLastWarning();
  const TReportDialogResult r = ShowReportDialog(input, [] { return nullptr; });
  EXPECT_FALSE(r.painted);
  EXPECT_EQ(LastWarningCode(), eeShowError);
  EXPECT_EQ(LastWarningMessage(), "Cannot show the DialogBox window.");

  TempDir dir;
  const std::string file = (dir.Path() / "Screenshot.png").string();
  const std::string before = TraceLines();
  EXPECT_FALSE(WriteScreenshotPNG(file, [] { return nullptr; }));
  EXPECT_FALSE(std::filesystem::exists(file));
  const std::string added = TraceLines().substr(before.size());
  std::size_t errors = 0;
  for (std::size_t at = added.find("[ERROR]"); at != std::string::npos;
       at = added.find("[ERROR]", at + 1))
    ++errors;
  EXPECT_EQ(errors, 1u) << added;
  EXPECT_NE(added.find("Section: WriteScreenshotPNG"), std::string::npos);
}

TEST(ScreenshotTest, NoisyScreenAsAPalettePNG) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty());
  std::mt19937 noise(7);
  std::vector<COLORREF> colours(640 * 480);
  for (COLORREF& c : colours) c = noise() & 0xFFFFFF;
  const auto painted =
      PaintXRoot(server.Display(), 640, 480, [&](int x, int y) { return colours[y * 640 + x]; });
  ASSERT_NE(painted, nullptr);
  TempDir dir;
  const std::string file = (dir.Path() / "Screenshot.png").string();
  const std::string display = server.Display();
  ASSERT_TRUE(WriteScreenshotPNG(file, [display] { return X11Backend::Open(display.c_str()); }));
  const ShellResult check = RunShellCommand("pngcheck -v " + ShellQuote(file) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("640 x 480 image, 8-bit palette"), std::string::npos) << check.output;
  EXPECT_NE(check.output.find("PLTE at offset 0x00025, length 768: 256 palette entries"),
            std::string::npos) << check.output;
  std::size_t idats = 0;
  for (std::size_t at = check.output.find("chunk IDAT"); at != std::string::npos;
       at = check.output.find("chunk IDAT", at + 1))
    ++idats;
  EXPECT_GE(idats, 2u);
  // Python reads it back: mode, size and sampled colours against what was painted.
  std::ofstream samples(dir.Path() / "samples");
  for (int i = 0; i < 2000; ++i) {
    const int x = int(noise() % 640), y = int(noise() % 480);
    const COLORREF c = colours[y * 640 + x];
    samples << x << ' ' << y << ' ' << int(GetRValue(c)) << ' ' << int(GetGValue(c)) << ' '
            << int(GetBValue(c)) << '\n';
  }
  samples.close();
  const std::string script =
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "print(im.mode, im.size, len(im.getpalette()) // 3)\nrgb = im.convert('RGB')\nworst = 0\n"
      "for line in open(sys.argv[2]):\n  x, y, *want = map(int, line.split())\n"
      "  got = rgb.getpixel((x, y))\n  worst = max([worst] + [abs(a - b) for a, b in zip(got, want)])\n"
      "print('worst', worst)\n";
  std::ofstream(dir.Path() / "check.py") << script;
  const ShellResult pil = RunShellCommand("/usr/bin/python3 " + ShellQuote((dir.Path() / "check.py").string()) +
                                          " " + ShellQuote(file) + " " +
                                          ShellQuote((dir.Path() / "samples").string()) + " 2>&1");
  EXPECT_NE(pil.output.find("P (640, 480) 256"), std::string::npos) << pil.output;
  const std::size_t at = pil.output.find("worst ");
  ASSERT_NE(at, std::string::npos) << pil.output;
  const int worst = std::atoi(pil.output.c_str() + at + 6);
  EXPECT_LE(worst, kScreenshotColourBound);
  EXPECT_GT(worst, 0);  // noise really went through the palette
}

}  // namespace
}  // namespace qv::test

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qv::test {
std::shared_ptr<void> PaintXRoot(const std::string& display, int width, int height,
                                 const std::function<COLORREF(int x, int y)>& colour) {
  Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return nullptr;
  const int screen = DefaultScreen(dpy);
  XImage* image = XCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, 0,
                               static_cast<char*>(std::malloc(std::size_t(width) * height * 4)),
                               unsigned(width), unsigned(height), 32, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const COLORREF c = colour(x, y);
      XPutPixel(image, x, y, (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    }
  XPutImage(dpy, RootWindow(dpy, screen), DefaultGC(dpy, screen), image, 0, 0, 0, 0,
            unsigned(width), unsigned(height));
  XSync(dpy, False);
  XDestroyImage(image);
  return std::shared_ptr<void>(dpy, [](void* d) { XCloseDisplay(static_cast<Display*>(d)); });
}
}  // namespace qv::test
