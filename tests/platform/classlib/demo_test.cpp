// A form with every control, drawn by the headless back end and by an X server (Xvfb): the
// X server must show exactly the pixels the headless back end keeps. Both pictures are
// written as PNG files into the build folder for a person to look at.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/classlib/stdctrls.h"
#include "platform/gfx/font.h"
#include "platform/gfx/png_codec.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "platform/ui/x11_backend.h"
#include "tests/platform/ui/xvfb_server.h"

namespace qv {
namespace {

template <class T>
T* Place(TWinControl* parent, TComponent* owner, Rect r) {
  auto* c = Create<T>(owner);
  c->SetParent(parent);
  c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
  return c;
}

// The demo form's stored form data.
TForm* MakeDemoForm() {
  auto* form = Create<TForm>(Application());
  ReadFormData(form, [form] {
    form->SetBorderStyle(TFormBorderStyle::bsNone);
    form->SetCaption("Quorvel demo");
    form->SetBounds(40, 30, 420, 300);
    form->SetVisible(true);
    auto* top = Place<TPanel>(form, form, {0, 0, 420, 30});
    top->SetAlign(TAlign::alTop);
    top->SetCaption("Panel with a caption");
    auto* label = Place<TLabel>(top, form, {4, 8, 60, 22});
    label->SetCaption("Label");
    auto* edit = Place<TEdit>(form, form, {10, 40, 200, 61});
    edit->SetText("Edit text");
    edit->SetAutoSelect(false);
    auto* ro = Place<TEdit>(form, form, {210, 40, 400, 61});
    ro->SetText("Read-only");
    ro->SetReadOnly(true);
    auto* list = Place<TListBox>(form, form, {10, 70, 200, 170});
    for (const char* s : {"Track 1", "Track 2", "Track 3", "Track 4", "Track 5", "Track 6",
                          "Track 7", "Track 8", "Track 9"})
      list->Items().Add(s);
    list->SetItemIndex(2);
    auto* combo = Place<TComboBox>(form, form, {210, 70, 400, 91});
    for (const char* s : {"MP3", "OGG", "FLAC"}) combo->Items().Add(s);
    combo->SetItemIndex(2);
    auto* ok = Place<TButton>(form, form, {210, 100, 300, 125});
    ok->SetCaption("OK");
    ok->SetDefault(true);
    auto* off = Place<TButton>(form, form, {310, 100, 400, 125});
    off->SetCaption("Disabled");
    off->SetEnabled(false);
    auto* hbar = Place<TScrollBar>(form, form, {10, 180, 200, 196});
    hbar->SetParams(30, 0, 100);
    auto* vbar = Place<TScrollBar>(form, form, {384, 130, 400, 230});
    vbar->SetKind(TScrollBarKind::sbVertical);
    vbar->SetBounds(384, 130, 16, 100);
    vbar->SetParams(70, 0, 100);
    auto* status = Place<TLabel>(form, form, {210, 135, 380, 175});
    status->SetCaption("A centred label that wraps over two lines");
    status->SetAlignment(TAlignment::taCenter);
    status->SetWordWrap(true);
    auto* bottom = Place<TPanel>(form, form, {0, 0, 420, 41});
    bottom->SetAlign(TAlign::alBottom);
    bottom->SetBevelOuter(TBevelCut::bvLowered);
    bottom->SetColor(clNavy);
    bottom->Font().SetColor(clWhite);
    bottom->SetCaption("Bottom strip");
    form->SetActiveControl(edit);
  });
  form->AfterConstruction();
  return form;
}

bool WritePng(const Bitmap& bmp, const std::string& path) {
  const auto bytes = SavePng(bmp);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// The demo drawn by the current back end: the form's back buffer once everything painted.
Bitmap DrawDemo(HWND* formHandle) {
  TForm* form = MakeDemoForm();
  Application()->ProcessMessages();
  PaintPendingWindows();
  *formHandle = form->Handle();
  return SnapshotWindow(form->Handle());
}

TEST(DemoFormTest, HeadlessAndXvfbDrawTheSamePixels) {
  UseBuiltinFontEverywhere(true);
  ASSERT_TRUE(StartWindowSystem(std::make_unique<HeadlessBackend>()));
  HWND headlessForm = 0;
  const Bitmap headless = DrawDemo(&headlessForm);
  DestroyApplication();
  StopWindowSystem();
  ASSERT_EQ(headless.Width(), 420);
  ASSERT_EQ(headless.Height(), 300);
  EXPECT_TRUE(WritePng(headless, std::string(QV_BINARY_DIR) + "/classlib-demo-headless.png"));
  // A few probes that the picture is the demo: the navy strip, the list's chosen row.
  EXPECT_EQ(headless.Pixel(200, 280), ColorToRGB(clNavy));
  EXPECT_EQ(headless.Pixel(100, 72 + 2 * 12 + 6), ColorToRGB(clHighlight));

  const test::XvfbServer server("1024x768x24");
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto x11 = X11Backend::Open(server.Display().c_str());
  ASSERT_NE(x11, nullptr);
  X11Backend* backend = x11.get();
  ASSERT_TRUE(StartWindowSystem(std::move(x11)));
  HWND form = 0;
  const Bitmap drawn = DrawDemo(&form);
  EXPECT_EQ(PumpUntil([&] { return backend->Mapped(form); },
                      std::chrono::steady_clock::now() + std::chrono::seconds(20)),
            PumpResult::Done);
  Application()->ProcessMessages();
  PaintPendingWindows();
  backend->Sync();
  const Bitmap shown = test::GrabXWindow(server.Display(), backend->XWindow(form), 420, 300);
  DestroyApplication();
  StopWindowSystem();
  UseBuiltinFontEverywhere(false);
  EXPECT_TRUE(WritePng(shown, std::string(QV_BINARY_DIR) + "/classlib-demo-xvfb.png"));
  ASSERT_EQ(shown.Width(), 420);
  EXPECT_TRUE(drawn == headless) << "the back buffers differ";
  int differing = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 420; ++x) differing += shown.Pixel(x, y) != headless.Pixel(x, y);
  EXPECT_EQ(differing, 0);
}

TEST(MessageBoxTest, IsAModalWindowOnAnXServer) {
  const test::XvfbServer server("1024x768x24");
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  auto x11 = X11Backend::Open(server.Display().c_str());
  ASSERT_NE(x11, nullptr);
  X11Backend* backend = x11.get();
  ASSERT_TRUE(StartWindowSystem(std::move(x11)));
  TForm* main = nullptr;
  Application()->CreateForm(main);
  main->SetBounds(10, 10, 200, 100);
  main->Show();
  // The user answers with one key once the box is up.
  unsigned long keysym = 0;
  bool mainEnabledMeanwhile = true;
  Rect boxClient;
  bool boxTopmost = false;
  const HWND helper = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_USER) {
      TCustomForm* box = Screen()->Forms(Screen()->FormCount() - 1);
      mainEnabledMeanwhile = IsWindowEnabled(main->Handle());
      boxTopmost = (GetWindowLong(box->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      EXPECT_NE(box, main);
      EXPECT_EQ(GetWindowText(box->Handle()), "Quorvel");
      EXPECT_TRUE(GetClientRect(box->Handle(), boxClient));
      test::SendXKey(server.Display(), backend->XWindow(box->Handle()), keysym);
    }
    return 0;
  });
  struct Case {
    unsigned flags;
    unsigned long keysym;
    int answer;
  };
  for (const Case c :
       {Case{MB_YESNO | MB_DEFBUTTON2, 0xFF0D /* Return */, IDNO}, Case{MB_YESNO, 0xFF0D, IDYES},
        Case{MB_OKCANCEL, 0xFF1B /* Escape */, IDCANCEL}, Case{MB_OK, 0xFF1B, IDOK},
        Case{MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST, 0xFF0D, IDOK}}) {
    SCOPED_TRACE(c.flags);
    keysym = c.keysym;
    PostMessage(helper, WM_USER, 0, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox("Overwrite the file?", "Quorvel", c.flags), c.answer);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // shown, not printed
    EXPECT_FALSE(mainEnabledMeanwhile);
    EXPECT_EQ(boxTopmost, (c.flags & MB_TOPMOST) != 0);
    EXPECT_TRUE(IsWindowEnabled(main->Handle()));
    EXPECT_EQ(Screen()->FormCount(), 1);
  }
  EXPECT_EQ((std::array{boxClient.Width(), boxClient.Height()}), (std::array{300, 110}));
  // A longer text is shown whole: the box grows wider for a long word, then taller.
  keysym = 0xFF0D;
  PostMessage(helper, WM_USER, 0, 0);
  const std::string path = "/home/user/.local/state/quorvel/" + std::string(40, 'q') + ".log";
  EXPECT_EQ(MessageBox("Please send the file\r\n\"" + path + "\"\r\nby hand.\r\nOne\r\nTwo",
                       "Quorvel", MB_OK),
            IDOK);
  EXPECT_GT(boxClient.Width(), 300);
  EXPECT_LT(boxClient.Width(), 640);
  EXPECT_GT(boxClient.Height(), 110);
  // Unattended runs never wait for a user, display or not.
  SetMessageBoxesUnattended(true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("No disc", "Quorvel", MB_OKCANCEL), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Quorvel: No disc\n");
  EXPECT_EQ(Screen()->FormCount(), 1);
  SetMessageBoxesUnattended(false);
  DeallocateHWnd(helper);
  DestroyApplication();
  StopWindowSystem();
}

}  // namespace
}  // namespace qv
