// The exception dialog and the screenshot: the layout rules without a display, then a
// crash program's dialog driven on a real X server as a user would, and the PNG checked by
// pngcheck and Python's PIL.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "crashlog/log_report.h"
#include "crashlog/report_dialog.h"
#include "crashlog/report_layout.h"
#include "crashlog/screenshot.h"
#include "crashlog/send_report.h"
#include "crashlog/trace_log.h"
#include "platform/base/inifile.h"
#include "platform/classlib/dlgtemplate.h"
#include "platform/gfx/dc.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/x11_backend.h"
#include "tests/fixtures/locale_env.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv::test {
// Fills the X server's root window with 0xRRGGBB pixels, row by row, as another client would;
// the picture stays while the connection returned lives (the server resets after its last
// client).
std::shared_ptr<void> PaintXRoot(const std::string& display, int width, int height,
                                 const std::vector<uint32_t>& pixels);
// Maps a window of another client over `window` and takes it away again: what it covered
// is exposed.
bool CoverXWindow(const std::string& display, unsigned long window);
// A window of another client, mapped and given the keyboard focus; it lives as long as the
// connection returned. `window` receives its id.
std::shared_ptr<void> FocusedXWindow(const std::string& display, unsigned long& window);
// The window that has the display's keyboard focus (0: none or the root).
unsigned long XFocusWindow(const std::string& display);
}  // namespace qv::test

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const TDialogMetrics kMetrics{4, 4, 15, 1024, 768};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

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
    std::array<int, 3> size;   // client width, height and the check boxes' height
    std::array<Rect, 8> want;  // tab, message, OK, details, terminate, send, copy, screenshot
  } cases[] = {
      {{466, 252, 20},
       {Bounds(4, 52, 458, 142), Bounds(48, 8, 410, 42), Bounds(195, 200, 75, 25),
        Bounds(386, 200, 75, 25), Bounds(5, 200, 75, 25), Bounds(4, 234, 229, 13),
        Bounds(233, 234, 229, 13), Bounds(23, 250, 443, 13)}},
      {{700, 400, 34},
       {Bounds(4, 52, 692, 276), Bounds(48, 8, 644, 42), Bounds(312, 334, 75, 25),
        Bounds(620, 334, 75, 25), Bounds(5, 334, 75, 25), Bounds(4, 368, 346, 13),
        Bounds(350, 368, 346, 13), Bounds(23, 384, 677, 13)}},
  };
  for (const Case& c : cases) {
    const TDialogControlsLayout l = ControlsLayout(c.size[0], c.size[1], c.size[2]);
    EXPECT_EQ(
        (std::array{l.tab, l.message, l.ok, l.details, l.terminate, l.send, l.copy, l.screenshot}),
        c.want)
        << c.size[0];
  }
}

TEST(ReportLayoutTest, TerminateButtonFromTheErrorAfterTheLimit) {
  struct Case {
    bool limit;
    int after, error;
    bool shown;
  } cases[] = {{true, 3, 1, false},
               {true, 3, 3, false},
               {true, 3, 4, true},
               {false, 3, 10, false},
               {true, 0, 1, true}};
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
      // Placements no screen has still put the window on this one.
      {"Left=2147483647\nTop=2147483647", 384, 349, 640, 385, 1},
      {"Left=-2147483648\nTop=-2147483648\nWidth=2147483647\nHeight=2147483647", 0, 0, 1024, 734,
       1},
  };
  for (const Case& c : cases) {
    std::ofstream(file) << "[Coordinates]\n" << c.ini << "\nCol2=77\nColMod5=-4\n";
    const TSavedLayout l = LoadLayout(file, kMetrics, 34);
    EXPECT_EQ((std::array{l.left, l.top, l.width, l.height, l.state}),
              (std::array{c.left, c.top, c.width, c.height, c.state}))
        << c.ini;
    EXPECT_EQ(l.stackColumns, (std::array{kAddressColumn, 102, 77, 118, 137, 48}));
    EXPECT_EQ(l.moduleColumns, (std::array{kAddressColumn, 100, 130, 65, 65, 0}));
  }
}

// The dialogs' fonts follow the character set of the user's default 8-bit code page: that of
// the locale the environment selects for characters when it names a Windows code page.
TEST(ReportDialogFontsTest, FontsFollowTheDefaultCharacterSet) {
  TempDir dir;
  ASSERT_EQ(CompileLocale(dir.Path(), "ru_RU", "CP1251", "ru_RU.CP1251"), "");
  ScopedEnv env;
  env.Set("LOCPATH", dir.Path().string());
  const struct {
    const char *all, *ctype, *lang;
    int charset;
  } cases[] = {
      {"", "", "C.UTF-8", ANSI_CHARSET},  // no code page of its own: Windows-1252
      {"", "", "ru_RU.CP1251", RUSSIAN_CHARSET},
      {"", "ru_RU.CP1251", "C", RUSSIAN_CHARSET},
      {"C", "ru_RU.CP1251", "ru_RU.CP1251", ANSI_CHARSET},
      {"", "", "xx_YY.CP1250", ANSI_CHARSET},  // not installed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.all) + "|" + c.ctype + "|" + c.lang);
    env.Set("LC_ALL", c.all);
    env.Set("LC_CTYPE", c.ctype);
    env.Set("LANG", c.lang);
    int charset = -1;
    {
      const LocalePathLeaksIgnored ignored;
      charset = GetDefaultCharset();
    }
    EXPECT_EQ(charset, c.charset);
  }
  EXPECT_EQ(CharsetOfCodePage(1250), EASTEUROPE_CHARSET);
  EXPECT_EQ(CharsetOfCodePage(932), SHIFTJIS_CHARSET);
  EXPECT_EQ(CharsetOfCodePage(65001), DEFAULT_CHARSET);
  const TDialogFonts western(ANSI_CHARSET), russian(RUSSIAN_CHARSET);
  EXPECT_EQ((std::array{western.bold.Name, western.fixed.Name}),
            (std::array<std::string, 2>{"Verdana", "Lucida Console"}));
  EXPECT_EQ((std::array{russian.bold.Name, russian.fixed.Name}),
            (std::array<std::string, 2>{"MS Sans Serif", "Courier New"}));
  EXPECT_EQ((std::array{western.fixed.Height, russian.fixed.Height}),
            (std::array{PointsToHeight(8), PointsToHeight(10)}));
  EXPECT_EQ(western.bold.Style, russian.bold.Style);
  EXPECT_EQ(western.bold.Height, russian.bold.Height);
  EXPECT_EQ(western.message, ReportMessageFont());
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
  EXPECT_EQ(rows[0].cells,
            (std::vector<std::string>{"00007F0000001000", "quorvel", "", "", "2 Kb", "/opt/q"}));
  // 2.5 Kb rounds to even; the root folder keeps its "/".
  EXPECT_EQ((std::array{rows[1].cells[3], rows[1].cells[4], rows[2].cells[5]}),
            (std::array<std::string, 3>{"6.0.x", "2 Kb", "/"}));
  EXPECT_EQ((std::array{rows[0].image, rows[1].image}), (std::array{2, 0}));

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
  EXPECT_EQ((std::array{message[2046], message[2047], message[2048], message[2051]}),
            (std::array<uint8_t, 4>{'u', 0, 4, 1}));
}

TEST(ReportDialogTest, DialogMessageKeepsItsLines) {
  TOstrelReportFacts facts;
  EXPECT_EQ(DialogMessage(facts), "Unknown error message.");
  facts.has_message = true;
  facts.message = "Disc tray jammed\r\nOpen\tthe tray\nby hand";
  EXPECT_EQ(DialogMessage(facts), "Disc tray jammed\r\nOpen the tray\nby hand");
  EXPECT_EQ(ReportMessage(facts), "Disc tray jammed  Open the tray by hand.");
}

TEST(ReportDialogTest, WithoutADisplayNoDialogNoFileAndOneErrorLine) {
  SetTraceSwitches("DEBUG");
  TOstrelModuleOptions options;
  TReportDialogInput input;
  options.SetSendWay(swSMTPClient);
  input.options = &options;
  input.message = "Disc tray\r\njammed.";
  input.screenshot = true;
  ClearLastWarning();
  testing::internal::CaptureStderr();
  const TReportDialogResult r = ShowDialog(input, [] { return nullptr; });
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed.rfind("Error.: Disc tray  jammed.\n", 0), 0u) << printed;
  EXPECT_FALSE(r.painted);
  EXPECT_EQ(LastWarningCode(), eeShowError);
  EXPECT_EQ(LastWarningMessage(), "Cannot show the DialogBox window.");
  // The report is still sent the way the options say, without a screenshot.
  EXPECT_TRUE(r.send);
  EXPECT_FALSE(r.screenshot);
  options.SetSendWay(swNone);
  testing::internal::CaptureStderr();
  const TReportDialogResult unsent = ShowDialog(input, [] { return nullptr; });
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(unsent.send);
  EXPECT_FALSE(unsent.screenshot);

  TempDir dir;
  const std::string file = (dir.Path() / "Screenshot.png").string();
  const std::string before = TraceLines();
  EXPECT_FALSE(WriteScreenshotPNG(file, [] { return nullptr; }));
  EXPECT_FALSE(std::filesystem::exists(file));
  const std::string added = TraceLines().substr(before.size());
  EXPECT_EQ(Count(added, "[ERROR]"), 1u) << added;
  EXPECT_NE(added.find("Section: WriteScreenshotPNG"), std::string::npos);

  // The exit lines carry the results.
  const std::string name = NewScreenshotFileName();
  ASSERT_FALSE(name.empty());
  EXPECT_TRUE(WritePalettePNG(name, Bitmap(2, 2)));
  const std::string exits = TraceLines().substr(before.size() + added.size());
  EXPECT_NE(exits.find("NewScreenshotFileName='" + name + "'\n"), std::string::npos) << exits;
  EXPECT_NE(exits.find("WritePalettePNG=True\n"), std::string::npos) << exits;
  DeleteScreenshot(name);
  SetTraceSwitches("");
}

TEST(ScreenshotTest, NoisyScreenAsAPalettePNG) {
  XvfbServer server;
  ASSERT_FALSE(server.Display().empty());
  std::mt19937 noise(7);
  std::vector<uint32_t> colours(640 * 480);
  for (uint32_t& c : colours) c = noise() & 0xFFFFFF;
  const auto painted = PaintXRoot(server.Display(), 640, 480, colours);
  ASSERT_NE(painted, nullptr);
  TempDir dir;
  const std::string file = (dir.Path() / "Screenshot.png").string();
  const std::string display = server.Display();
  ASSERT_TRUE(WriteScreenshotPNG(file, [display] { return X11Backend::Open(display.c_str()); }));
  const ShellResult check = RunShellCommand("pngcheck -v " + ShellQuote(file) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("640 x 480 image, 8-bit palette"), std::string::npos) << check.output;
  EXPECT_NE(check.output.find("PLTE at offset 0x00025, length 768: 256 palette entries"),
            std::string::npos)
      << check.output;
  EXPECT_GE(Count(check.output, "chunk IDAT"), 2u);
  // Python reads it back: mode, size and sampled colours against what was painted.
  std::ofstream samples(dir.Path() / "samples");
  for (int i = 0; i < 2000; ++i) {
    const int x = int(noise() % 640), y = int(noise() % 480);
    const uint32_t c = colours[y * 640 + x];
    samples << x << ' ' << y << ' ' << (c >> 16) << ' ' << ((c >> 8) & 255) << ' ' << (c & 255)
            << '\n';
  }
  samples.close();
  const std::string script = R"(import sys
from PIL import Image
im = Image.open(sys.argv[1])
print(im.mode, im.size, len(im.getpalette()) // 3)
rgb, worst = im.convert('RGB'), 0
for line in open(sys.argv[2]):
  x, y, *want = map(int, line.split())
  worst = max([worst] + [abs(a - b) for a, b in zip(rgb.getpixel((x, y)), want)])
print('worst', worst))";
  std::ofstream(dir.Path() / "check.py") << script;
  const ShellResult pil = RunShellCommand(
      "/usr/bin/python3 " + ShellQuote((dir.Path() / "check.py").string()) + " " +
      ShellQuote(file) + " " + ShellQuote((dir.Path() / "samples").string()) + " 2>&1");
  EXPECT_NE(pil.output.find("P (640, 480) 256"), std::string::npos) << pil.output;
  const std::size_t at = pil.output.find("worst ");
  ASSERT_NE(at, std::string::npos) << pil.output;
  const int worst = std::atoi(pil.output.c_str() + at + 6);
  EXPECT_LE(worst, kScreenshotColourBound);
  EXPECT_GT(worst, 0);  // noise really went through the palette
}

// ---- the dialog of a crash program on an X server ----------------------------------------------

constexpr DWORD kCompactStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
constexpr DWORD kDetailedStyle = kCompactStyle | WS_THICKFRAME | WS_MAXIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

// A scripted user of the program's dialog on its own X server.
class DialogSession {
 public:
  DialogSession(const std::string& mode, const TempDir& dir) {
    const std::string d = dir.Path().string();
    program_ =
        ::popen(("DISPLAY=" + server_.Display() + " XDG_CONFIG_HOME=" + ShellQuote(d) +
                 " XDG_RUNTIME_DIR=" + ShellQuote(d) + " ASAN_OPTIONS=detect_leaks=0 timeout 120 " +
                 ShellQuote(CRASH_PROGRAM) + " " + mode + " " + ShellQuote(d) + " >" +
                 ShellQuote(d + "/out") + " 2>" + ShellQuote(d + "/err"))
                    .c_str(),
                "w");
  }
  ~DialogSession() { Finish(); }
  int Finish() {
    if (program_ == nullptr) return status_;
    const int raw = ::pclose(std::exchange(program_, nullptr));
    return status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  const std::string& Display() const { return server_.Display(); }
  // Waits for the dialog (at `width` when given) and takes its client area for `style`.
  bool Find(DWORD style, int width = 0) {
    const auto deadline = Clock::now() + 60s;
    do {
      top_ = WaitForViewableXWindow(Display(), "Error.", deadline);
    } while (top_.window != 0 && width != 0 && top_.width != width && Clock::now() < deadline);
    client_ = nonclient::ClientArea(style, kExStyle, Bounds(0, 0, top_.width, top_.height));
    return top_.window != 0 && (width == 0 || top_.width == width);
  }
  bool Click(Point p) {  // client coordinates
    const Point w{client_.Left + p.X, client_.Top + p.Y};
    return SendXClick(Display(), top_.window, w.X, w.Y, w.X, w.Y);
  }
  bool Click(const Rect& r) { return Click(Point{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}); }
  bool Key(unsigned long keysym) { return SendXKey(Display(), top_.window, keysym); }
  Bitmap Grab() const { return GrabXWindow(Display(), top_.window, top_.width, top_.height); }
  // The window's picture once `ready` holds for it and two grabs in a row agree (the program
  // has painted it all).
  Bitmap GrabWhen(const std::function<bool(const Bitmap&)>& ready) const {
    const auto deadline = Clock::now() + 30s;
    Bitmap last = Grab();
    for (;;) {
      Bitmap now = Grab();
      if ((now == last && ready(now)) || Clock::now() > deadline) return now;
      last = std::move(now);
    }
  }
  // Painted down to the client area's bottom-right corner, where the desktop showed before.
  Bitmap GrabPainted() const {
    return GrabWhen([this](const Bitmap& b) {
      return b.Pixel(client_.Right - 3, client_.Bottom - 3) != RGB(0, 0, 0);
    });
  }
  const XTopLevel& Top() const { return top_; }
  const Rect& Client() const { return client_; }

 private:
  XvfbServer server_{"640x480x24"};
  FILE* program_ = nullptr;
  int status_ = -1;
  XTopLevel top_;
  Rect client_;
};

// The compact dialog's outer size for these message lines on the 640 x 480 screen, with
// the check boxes' row and its 20 pixels.
std::array<int, 2> CompactWindowSize(const std::vector<std::string>& lines) {
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(ReportMessageFont());
  std::vector<Size> extents;
  for (const std::string& line : lines) extents.push_back(dc.GetTextExtentPoint32(line));
  extents.push_back(dc.GetTextExtentPoint32("&Send this error via Email    &Copy to Clipboard"));
  const Rect want =
      CompactLayout(extents, {GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                              GetSystemMetrics(SM_CYSMCAPTION), 640, 480})
          .window;
  return {want.Width(), want.Height() + 20};
}

int LineHeightOf(const Font& font) {
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(font);
  return dc.GetTextMetrics().tmHeight;
}

// A main-thread exception beside the program's window; the hooks run on the main thread.
TEST(ReportDialogSession, DetailsPagesRowMessageResizeEscapeAndClipboard) {
  TempDir dir;
  const int slot = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string slotPath = (dir.Path() / "OstrelLog").string();
  std::strncpy(address.sun_path, slotPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(slot, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  DialogSession session("dialog", dir);
  ASSERT_FALSE(session.Display().empty());

  // Compact: sized by the message and the check boxes' row.
  ASSERT_TRUE(session.Find(kCompactStyle));
  EXPECT_EQ((std::array{session.Top().width, session.Top().height}),
            CompactWindowSize({"Disc tray jammed"}));
  TDialogControlsLayout l = ControlsLayout(session.Client().Width(), session.Client().Height(), 20);
  // Meanwhile the main thread repaints its window after another one covered it.
  const XTopLevel main = WaitForViewableXWindow(session.Display(), "frozen", Clock::now() + 30s);
  auto green = [&] {  // the window's ground, below its caption
    for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline;)
      if (GrabXWindow(session.Display(), main.window, 200, 100).Pixel(100, 58) == RGB(0, 128, 0))
        return true;
    return false;
  };
  ASSERT_TRUE(green());
  ASSERT_TRUE(CoverXWindow(session.Display(), main.window));
  EXPECT_TRUE(green());
  const Bitmap unticked = session.GrabPainted();
  ASSERT_TRUE(session.Click(l.copy));
  EXPECT_NE(session.GrabWhen([&](const Bitmap& b) { return b != unticked; }), unticked);
  ASSERT_TRUE(session.Click(l.details));

  // Detailed: the default saved layout, then each page through its tab.
  ASSERT_TRUE(session.Find(kDetailedStyle, 640));
  EXPECT_EQ(session.Top().height, 385 + 20);
  const int tabRow = LineHeightOf(ReportMessageFont()) + 6;
  std::vector<Bitmap> pages{session.GrabPainted()};
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(ReportMessageFont());
  int tabLeft = 2 + dc.TextWidth("General") + 12;
  for (const char* tab : {"Call Stack", "Modules", "CPU"}) {
    ASSERT_TRUE(session.Click(Point{4 + tabLeft + 6, 52 + tabRow / 2 + 1}));
    tabLeft += dc.TextWidth(tab) + 12;
    const Bitmap before = pages.back();
    pages.push_back(session.GrabWhen([&](const Bitmap& b) { return b != before; }));
    EXPECT_NE(pages.back(), before) << tab;
    if (pages.size() != 2) continue;
    // The first call-stack row: selected by a click, activated by Return.
    const int fixed = LineHeightOf(ReportFixedFont());
    ASSERT_TRUE(session.Click(
        Point{8 + 40, 52 + tabRow + 3 + 20 + fixed + 6 + (std::max(fixed, 16) + 1) / 2}));
    const Bitmap unselected = pages.back();
    pages.back() = session.GrabWhen([&](const Bitmap& b) { return b != unselected; });
    ASSERT_TRUE(session.Key(0xFF0D));  // Return
    pollfd p{slot, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 30000), 1);
    uint8_t message[4096];
    ASSERT_EQ(::recv(slot, message, sizeof message, 0), 2052);
    EXPECT_STREQ(reinterpret_cast<char*>(message), "crash_program.cpp");
    uint32_t line = 0;
    std::memcpy(&line, message + 2048, 4);
    EXPECT_EQ(RunShellCommand("head -1 " + ShellQuote((dir.Path() / "err").string())).output,
              "LINE=" + std::to_string(line) + "\n");
  }
  // A resize by the frame's corner is what the next detailed view starts with.
  ASSERT_TRUE(SendXDrag(session.Display(), session.Top().window, {0, 37},
                        {session.Top().width - 2, session.Top().height - 2}, {-40, -30}));
  ASSERT_TRUE(session.Find(kDetailedStyle, 600));
  ASSERT_TRUE(session.Key(0xFF1B));  // Escape: the program goes on
  std::optional<std::string> copied;
  for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline;) {
    copied = ReadXClipboard(session.Display(), "UTF8_STRING", Clock::now() + 2s);
    if (copied && copied->find("Disc tray jammed") != std::string::npos) break;
  }
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(copied->rfind("OstrelLog 4.5.4\r\n", 0), 0u);
  EXPECT_NE(copied->find("Disc tray jammed"), std::string::npos);
  TMemIniFile ini((dir.Path() / "OstrelLog.ini").string());
  EXPECT_EQ(ini.ReadInteger("Coordinates", "Width", 0), 600);
  EXPECT_EQ(ini.ReadInteger("Coordinates", "Height", 0), 385 - 30);
  EXPECT_EQ(session.Finish(), 0);
  EXPECT_EQ(RunShellCommand("cat " + ShellQuote((dir.Path() / "out").string())).output,
            "hook on the main thread\ncontinued\n");
  ::close(slot);
}

// With the call-stack page first, its list is made with the saved column widths, and the
// widths saved on closing are the ones it showed.
TEST(ReportDialogSession, FirstListPageKeepsTheSavedColumns) {
  TempDir dir;
  const std::string iniFile = (dir.Path() / "OstrelLog.ini").string();
  std::ofstream(iniFile) << "[Coordinates]\nCol0=151\nCol4=99\nColMod0=152\n";
  DialogSession session("dialog1", dir);
  ASSERT_FALSE(session.Display().empty());
  ASSERT_TRUE(session.Find(kCompactStyle));
  // The message's own three lines are measured each, and the row of the check boxes.
  EXPECT_EQ((std::array{session.Top().width, session.Top().height}),
            CompactWindowSize({"Disc tray jammed", "Open the tray", "by hand"}));
  const TDialogControlsLayout l =
      ControlsLayout(session.Client().Width(), session.Client().Height(), 20);
  // QV_KEEP_DIALOG_SHOTS=<folder> keeps both views as pictures to look at.
  const char* keep = std::getenv("QV_KEEP_DIALOG_SHOTS");
  const Bitmap compact = session.GrabPainted();
  if (keep != nullptr) WritePalettePNG(std::string(keep) + "/compact.png", compact);
  ASSERT_TRUE(session.Click(l.details));
  ASSERT_TRUE(session.Find(kDetailedStyle, 640));
  const Bitmap detailed = session.GrabPainted();
  if (keep != nullptr) WritePalettePNG(std::string(keep) + "/detailed.png", detailed);
  ASSERT_TRUE(session.Key(0xFF1B));  // Escape
  const auto deadline = Clock::now() + 30s;
  while (Clock::now() < deadline &&
         TMemIniFile(iniFile).ReadInteger("Coordinates", "Width", 0) == 0) {
    std::this_thread::yield();
  }
  TMemIniFile ini(iniFile);
  EXPECT_EQ(ini.ReadInteger("Coordinates", "Col0", 0), 151);
  EXPECT_EQ(ini.ReadInteger("Coordinates", "Col4", 0), 99);
  EXPECT_EQ(ini.ReadInteger("Coordinates", "ColMod0", 0), 152);
  EXPECT_EQ(ini.ReadInteger("Coordinates", "Col1", 0), 102);
  (void)session.Finish();
}

// The report copied by the user of a program that then ends is still on the clipboard: a
// holder process keeps it.
TEST(ReportDialogSession, CopiedReportOutlivesTheProgram) {
  TempDir dir;
  DialogSession session("dialogend", dir);
  ASSERT_FALSE(session.Display().empty());
  ASSERT_TRUE(session.Find(kCompactStyle));
  const TDialogControlsLayout l =
      ControlsLayout(session.Client().Width(), session.Client().Height(), 20);
  const Bitmap unticked = session.GrabPainted();
  ASSERT_TRUE(session.Click(l.copy));
  EXPECT_NE(session.GrabWhen([&](const Bitmap& b) { return b != unticked; }), unticked);
  ASSERT_TRUE(session.Click(l.ok));
  EXPECT_EQ(session.Finish(), 1);
  std::optional<std::string> copied;
  for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline;) {
    copied = ReadXClipboard(session.Display(), "UTF8_STRING", Clock::now() + 2s);
    if (copied) break;
  }
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(copied->rfind("OstrelLog 4.5.4\r\n", 0), 0u);
  EXPECT_NE(copied->find("Disc tray jammed"), std::string::npos);
}

// Frozen for good with its dialogs attended: each time-out's report comes up painted while the
// main thread stays blocked (it prints nothing) and asks for the steps; Escape lets the watchdog
// go on, and the terminate button, shown from the second error, ends the program.
TEST(ReportDialogSession, FrozenProgramShowsEachReportWhileItsMainThreadBlocks) {
  TempDir dir;
  DialogSession session("hungdialog", dir);
  TLogFile log((dir.Path() / "crashlog_crash_program.olf").string());
  for (std::size_t report = 0; report < 2; ++report) {
    ASSERT_TRUE(session.Find(kCompactStyle));
    const Bitmap shown = session.GrabPainted();  // the ground, the picture's red, the button
    const Point at{session.Client().Left, session.Client().Top};
    const Rect kill =
        ControlsLayout(session.Client().Width(), session.Client().Height(), 20).terminate;
    EXPECT_EQ((std::array{shown.Pixel(at.X + 2, at.Y + 2), shown.Pixel(at.X + 22, at.Y + 18),
                          shown.Pixel(at.X + kill.Left, at.Y + kill.Top + 9)}),
              (std::array{RGB(212, 208, 200), RGB(255, 0, 0),
                          report == 0 ? RGB(212, 208, 200) : RGB(0, 0, 0)}));
    log.Load();
    EXPECT_EQ(log.Reports().size(), report);
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "out"), 0u);
    ASSERT_TRUE(report == 0 ? session.Key(0xFF1B) : session.Click(kill));
    const XTopLevel request =
        WaitForViewableXWindow(session.Display(), "Request", Clock::now() + 30s);
    for (const unsigned long key : {0x73ul, 0x74ul, 0x65ul, 0x70ul, 0xFF1Bul})  // step, Escape
      SendXKey(session.Display(), request.window, key);
    for (const auto deadline = Clock::now() + 30s;
         log.Load(), log.Reports().size() == report && Clock::now() < deadline;)
      ::poll(nullptr, 0, 20);  // written by another process: look again shortly
  }
  EXPECT_EQ(session.Finish(), 1);  // terminated
  ASSERT_EQ(log.Reports().size(), 2u);
  for (const std::string& report : log.Reports())
    EXPECT_NE(report.find("\r\nRequest:\r\n" + std::string(40, '-') + "\r\nstep"),
              std::string::npos)
        << report.substr(report.size() - 300);
}

// The window that had the focus before the dialog (another client's here) has it again
// once the dialog has ended.
TEST(ReportDialogSession, ForegroundWindowComesBackAfterTheDialog) {
  XvfbServer server;
  const std::string display = server.Display();
  ASSERT_FALSE(display.empty());
  unsigned long front = 0;
  const auto keep = FocusedXWindow(display, front);
  ASSERT_NE(keep, nullptr);
  ASSERT_EQ(XFocusWindow(display), front);
  TOstrelModuleOptions options;
  TReportDialogInput input;
  input.options = &options;
  input.message = "Disc tray jammed.";
  std::thread shown(
      [&] { (void)ShowDialog(input, [display] { return X11Backend::Open(display.c_str()); }); });
  const XTopLevel dialog = WaitForViewableXWindow(display, "Error.", Clock::now() + 60s);
  bool focused = false;
  for (const auto deadline = Clock::now() + 30s; !focused && Clock::now() < deadline;)
    focused = XFocusWindow(display) == dialog.window;
  EXPECT_TRUE(focused);
  EXPECT_TRUE(SendXKey(display, dialog.window, 0xFF1B));  // Escape
  shown.join();
  EXPECT_EQ(XFocusWindow(display), front);
}

// With the trace on and nobody named to send internal bugs to, the question still comes, and
// Yes brings the box that asks the user to send the trace file by hand.
TEST(ReportDialogSession, InternalBugWithoutARecipientAsksToSendTheTraceByHand) {
  TempDir dir;
  DialogSession session("bugask", dir);
  ASSERT_FALSE(session.Display().empty());
  // QV_KEEP_DIALOG_SHOTS=<folder> keeps both boxes as pictures to look at, once painted (the
  // bottom-left of the client area no longer black).
  const char* keep = std::getenv("QV_KEEP_DIALOG_SHOTS");
  const auto shoot = [&](const XTopLevel& box, const Rect& client, const std::string& name) {
    Bitmap shot;
    for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline;) {
      shot = GrabXWindow(session.Display(), box.window, box.width, box.height);
      if (shot.Pixel(client.Left + 4, client.Bottom - 4) != RGB(0, 0, 0)) break;
    }
    WritePalettePNG(std::string(keep) + "/" + name, shot);
  };
  const auto clientOf = [](const XTopLevel& box) {
    return nonclient::ClientArea(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                 WS_EX_DLGMODALFRAME, Bounds(0, 0, box.width, box.height));
  };
  const XTopLevel question =
      WaitForViewableXWindow(session.Display(), "Probably internal bug", Clock::now() + 60s);
  ASSERT_NE(question.window, 0u);
  const Rect client = clientOf(question);
  if (keep != nullptr) shoot(question, client, "bug_question.png");
  // A click on Yes, the first of the box's buttons: 75 x 25, 38 above the client area's
  // bottom, the row of two 8 apart centred.
  const Point yes{client.Left + (client.Width() - 158) / 2 + 37, client.Bottom - 38 + 12};
  ASSERT_TRUE(SendXClick(session.Display(), question.window, yes.X, yes.Y, yes.X, yes.Y));
  const XTopLevel info =
      WaitForViewableXWindow(session.Display(), "Information.", Clock::now() + 60s);
  ASSERT_NE(info.window, 0u);
  if (keep != nullptr) shoot(info, clientOf(info), "bug_by_hand.png");
  ASSERT_TRUE(SendXKey(session.Display(), info.window, 0xFF0D));  // Return: OK
  EXPECT_EQ(session.Finish(), 0);
  EXPECT_EQ(RunShellCommand("cat " + ShellQuote((dir.Path() / "out").string())).output, "asked\n");
}

}  // namespace
}  // namespace qv::test

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qv::test {
std::shared_ptr<void> PaintXRoot(const std::string& display, int width, int height,
                                 const std::vector<uint32_t>& pixels) {
  Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return nullptr;
  const int screen = DefaultScreen(dpy);
  auto* data = static_cast<char*>(std::malloc(pixels.size() * 4));  // freed with the image
  std::memcpy(data, pixels.data(), pixels.size() * 4);
  XImage* image = XCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, 0, data,
                               unsigned(width), unsigned(height), 32, 0);
  XPutImage(dpy, RootWindow(dpy, screen), DefaultGC(dpy, screen), image, 0, 0, 0, 0,
            unsigned(width), unsigned(height));
  XSync(dpy, False);
  XDestroyImage(image);
  return std::shared_ptr<void>(dpy, [](void* d) { XCloseDisplay(static_cast<Display*>(d)); });
}

bool CoverXWindow(const std::string& display, unsigned long window) {
  Display* dpy = XOpenDisplay(display.c_str());
  XWindowAttributes a{};
  if (dpy == nullptr || XGetWindowAttributes(dpy, window, &a) == 0) return false;
  XSetWindowAttributes cover{};
  cover.override_redirect = True;
  cover.background_pixel = 0xFF00FF;
  const ::Window w = XCreateWindow(dpy, DefaultRootWindow(dpy), a.x, a.y, unsigned(a.width),
                                   unsigned(a.height), 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWOverrideRedirect | CWBackPixel, &cover);
  XMapRaised(dpy, w);
  XSync(dpy, False);
  XDestroyWindow(dpy, w);
  XCloseDisplay(dpy);  // waits until the server has done it
  return true;
}

std::shared_ptr<void> FocusedXWindow(const std::string& display, unsigned long& window) {
  Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return nullptr;
  const ::Window w =
      XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 120, 80, 0, 0, 0x808080);
  XSelectInput(dpy, w, StructureNotifyMask);
  XMapWindow(dpy, w);
  for (XEvent e; XNextEvent(dpy, &e) == 0 && e.type != MapNotify;) {
  }
  XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
  XSync(dpy, False);
  window = w;
  return std::shared_ptr<void>(dpy, [](void* d) { XCloseDisplay(static_cast<Display*>(d)); });
}

unsigned long XFocusWindow(const std::string& display) {
  Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return 0;
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(dpy, &focus, &revert);
  const bool none = focus == None || focus == PointerRoot || focus == DefaultRootWindow(dpy);
  XCloseDisplay(dpy);
  return none ? 0 : focus;
}
}  // namespace qv::test

namespace qv {
namespace {

// The chunk CRC of the PNG writer against the check values of the polynomial.
TEST(ScreenshotTest, ChunkCrcMatchesTheStandardCheckValues) {
  const struct {
    std::string bytes;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"123456789", 0xCBF43926u},
      {"IEND", 0xAE426082u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& c : cases) {
    const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(PngCrc32(0xFFFFFFFFu, data, c.bytes.size()) ^ 0xFFFFFFFFu, c.crc) << c.bytes;
    // Going on from a part gives the same as the whole.
    const std::size_t half = c.bytes.size() / 2;
    EXPECT_EQ(PngCrc32(PngCrc32(0xFFFFFFFFu, data, half), data + half, c.bytes.size() - half) ^
                  0xFFFFFFFFu,
              c.crc);
  }
}

}  // namespace
}  // namespace qv

namespace qv::test {
namespace {

// The mail program started for a mail-to link is asked in front, above the others and
// maximised: with no window manager on the server, the requests reach the root's listeners.
// One that stays (the mail program itself) is asked while it runs, not once it ends.
TEST(SendByShellTest, HandlersWindowIsAskedOnTopAndMaximised) {
  for (const bool stays : {false, true}) {
    SCOPED_TRACE(stays);
    XvfbServer server;
    ASSERT_FALSE(server.Display().empty());
    TempDir dir;
    const std::string pid_file = (dir.Path() / "handler.pid").string();
    ::setenv("QUORVEL_REGISTRY", (dir.Path() / "registry.reg").c_str(), 1);
    ::setenv("DISPLAY", server.Display().c_str(), 1);
    if (stays) ::setenv("QV_HANDLER_STAYS", pid_file.c_str(), 1);
    Display* dpy = XOpenDisplay(server.Display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window root = DefaultRootWindow(dpy);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);
    const TMailPrograms before = MailPrograms();
    SetMailPrograms({"/nonexistent/sendmail", MAIL_HANDLER_WINDOW, "/nonexistent/xdg-open"});
    EXPECT_TRUE(SendByShell("a@x", "Crash report", "The program failed."));
    SetMailPrograms(before);
    ::unsetenv("QV_HANDLER_STAYS");
    ::unsetenv("DISPLAY");
    ::unsetenv("QUORVEL_REGISTRY");
    if (stays) {
      std::ifstream in(pid_file);
      pid_t handler_pid = 0;
      in >> handler_pid;
      ASSERT_GT(handler_pid, 0);
      EXPECT_EQ(::kill(handler_pid, 0), 0) << "the handler's window was raised only after it ended";
      ::kill(handler_pid, SIGKILL);
    }

    auto name = [&](Atom a) {
      char* text = XGetAtomName(dpy, a);
      std::string out = text != nullptr ? text : "";
      if (text != nullptr) XFree(text);
      return out;
    };
    std::vector<std::string> asked;
    Window handler = 0;
    for (const auto deadline = Clock::now() + 30s; asked.size() < 3 && Clock::now() < deadline;) {
      if (XPending(dpy) == 0) {
        std::this_thread::sleep_for(10ms);
        continue;
      }
      XEvent ev{};
      XNextEvent(dpy, &ev);
      if (ev.type == MapNotify) handler = ev.xmap.window;
      if (ev.type != ClientMessage) continue;
      EXPECT_EQ(ev.xclient.window, handler);
      std::string request = name(ev.xclient.message_type);
      if (request == "_NET_WM_STATE") {
        request += " " + std::to_string(ev.xclient.data.l[0]);
        for (int i = 1; i < 3 && ev.xclient.data.l[i] != 0; ++i)
          request += " " + name(Atom(ev.xclient.data.l[i]));
      }
      asked.push_back(request);
    }
    EXPECT_NE(handler, 0u);
    EXPECT_EQ(asked,
              (std::vector<std::string>{
                  "_NET_WM_STATE 1 _NET_WM_STATE_ABOVE",
                  "_NET_WM_STATE 1 _NET_WM_STATE_MAXIMIZED_VERT _NET_WM_STATE_MAXIMIZED_HORZ",
                  "_NET_ACTIVE_WINDOW"}));
    XCloseDisplay(dpy);
  }
}

}  // namespace
}  // namespace qv::test
