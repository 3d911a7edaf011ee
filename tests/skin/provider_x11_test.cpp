// Skinned forms on a real X server (Xvfb): the server shows exactly the headless render, the
// window's shape is the provider's region, and the caption buttons and a drag on the caption
// work with the server's events.
#include <gtest/gtest.h>

#include <thread>

#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/classlib/forms.h"
#include "platform/classlib/menubar.h"
#include "platform/gfx/font.h"
#include "platform/gfx/picture.h"
#include "platform/gfx/png_codec.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/timer.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/icons.h"
#include "platform/ui/mdi.h"
#include "platform/ui/window_system.h"
#include "platform/ui/x11_backend.h"
#include "skin/sedit.h"
#include "skin/smdiform.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "tests/platform/base/temp_dir.h"
#include "tests/platform/ui/xvfb_server.h"
#include "tests/skin/provider_fixture.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kXControlMask = 1u << 2;  // the X server's ControlMask

class ProviderX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new test::XvfbServer(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(server->Display().empty()) << "Xvfb did not start";
    UseBuiltinFontEverywhere(true);
    std::filesystem::create_directories(skins.path() + "/P");
    test::WriteProviderSkin(skins.path() + "/P", true);
  }
  void TearDown() override {
    DestroyApplication();
    StopWindowSystem();
    UseBuiltinFontEverywhere(false);
  }

  void Start(bool x) {
    DestroyApplication();
    StopWindowSystem();
    if (x) {
      // A busy machine may refuse a connection for a moment.
      auto backend = X11Backend::Open(server->Display().c_str());
      for (int tries = 0; backend == nullptr && tries < 50; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        backend = X11Backend::Open(server->Display().c_str());
      }
      ASSERT_NE(backend, nullptr);
      x11 = backend.get();
      ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    } else {
      x11 = nullptr;
      ASSERT_TRUE(StartWindowSystem(std::make_unique<HeadlessBackend>()));
    }
    holder = Create<TForm>(Application());
    manager = Create<TsSkinManager>(holder);
    manager->SetSkinDirectory(skins.path());
    manager->SetSkinName("P");
    ASSERT_TRUE(SkinData.Active);
  }

  TsSkinProvider* MakeForm(TFormBorderStyle style, TBorderIcons icons,
                           const std::function<void()>& fill = {}) {
    form = Create<TForm>(Application());
    form->SetBorderStyle(style);
    form->SetBounds(40, 30, 200, 120);
    form->SetCaption("Skinned");
    if (fill) fill();
    auto* p = Create<TsSkinProvider>(form);
    p->SetBorderIcons(icons);
    p->AfterConstruction();
    form->AfterConstruction();
    form->Show();
    if (x11 != nullptr) {
      const auto deadline = std::chrono::steady_clock::now() + 20s;
      EXPECT_EQ(PumpUntil([&] { return x11->Mapped(form->Handle()); }, deadline), PumpResult::Done);
      x11->Sync();
    }
    Application()->ProcessMessages();
    if (x11 != nullptr) x11->Sync();
    return p;
  }

  unsigned long Xid() const { return x11->XWindow(form->Handle()); }
  Rect WindowRect() {
    Rect r;
    EXPECT_TRUE(GetWindowRect(form->Handle(), r));
    return r;
  }
  // A click on a point of the window, then the program serves the events until `done`.
  void ClickAt(Point window, const std::function<bool()>& done) {
    const Rect r = WindowRect();
    ASSERT_TRUE(test::SendXClick(server->Display(), Xid(), window.X, window.Y, r.Left + window.X,
                                 r.Top + window.Y));
    EXPECT_EQ(PumpUntil(done, std::chrono::steady_clock::now() + 20s), PumpResult::Done);
  }
  static Point Centre(const Rect& r) { return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; }

  static inline test::XvfbServer* server = nullptr;
  qv::testing::TempDir skins;
  X11Backend* x11 = nullptr;
  TForm* holder = nullptr;
  TForm* form = nullptr;
  TsSkinManager* manager = nullptr;
};

TEST_F(ProviderX11Test, ServerShowsTheHeadlessRenderAndTheShape) {
  // The borderless look of the main window, then a full frame.
  for (const TFormBorderStyle style : {TFormBorderStyle::bsNone, TFormBorderStyle::bsSizeable}) {
    Start(false);
    MakeForm(style, biSystemMenu | biMinimize | biMaximize);
    const Bitmap expected = SnapshotWindow(form->Handle());
    ASSERT_EQ(expected.Width(), 200);

    Start(true);
    ASSERT_FALSE(HasFatalFailure());
    MakeForm(style, biSystemMenu | biMinimize | biMaximize);
    const Bitmap shown = test::GrabXWindow(server->Display(), Xid(), 200, 120);
    ASSERT_FALSE(shown.Empty());
    const std::string shot = std::filesystem::path(QV_BINARY_DIR) /
                             ("provider_x11_" + std::to_string(int(style)) + ".png");
    WriteFileBytes(shot, SavePng(shown));
    EXPECT_TRUE(shown == expected)
        << "the server shows other pixels than the headless render; see " << shot;
  }

  // The region's rectangles are the window's shape: the title's top corners are cut.
  Region region;
  ASSERT_NE(GetWindowRgn(form->Handle(), region), NULLREGION);
  const auto rects = test::XShapeRectangles(server->Display(), Xid());
  ASSERT_TRUE(rects.has_value());
  Region shape;
  for (const Rect& r : *rects) shape = shape.Union(Region(r));
  EXPECT_EQ(shape, region);
  EXPECT_FALSE(shape.Contains({0, 0}));
  EXPECT_FALSE(shape.Contains({199, 0}));
  EXPECT_TRUE(shape.Contains({1, 0}));
}

TEST_F(ProviderX11Test, CaptionButtonsAndDragWorkWithServerEvents) {
  Start(true);
  TsSkinProvider* p =
      MakeForm(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize);
  // A drag on the caption moves the window by the pointer's way.
  const Rect before = WindowRect();
  ASSERT_TRUE(
      test::SendXDrag(server->Display(), Xid(), {before.Left, before.Top}, {100, 10}, {30, 20}));
  EXPECT_EQ(PumpUntil([&] { return WindowRect().Left != before.Left; },
                      std::chrono::steady_clock::now() + 20s),
            PumpResult::Done);
  EXPECT_EQ(WindowRect(), before.Offset(30, 20));
  x11->Sync();
  Application()->ProcessMessages();
  x11->Sync();
  const Bitmap moved = test::GrabXWindow(server->Display(), Xid(), 200, 120);
  WriteFileBytes(std::filesystem::path(QV_BINARY_DIR) / "provider_x11_dragged.png", SavePng(moved));
  EXPECT_TRUE(moved == SnapshotWindow(form->Handle()));

  ClickAt(Centre(p->Button(HTMAXBUTTON).Rect), [&] { return IsZoomed(form->Handle()); });
  x11->Sync();
  Application()->ProcessMessages();
  ClickAt(Centre(p->Button(HTMAXBUTTON).Rect), [&] { return !IsZoomed(form->Handle()); });
  ClickAt(Centre(p->Button(HTMINBUTTON).Rect), [&] { return IsIconic(form->Handle()); });
  form->SetWindowState(TWindowState::wsNormal);
  Application()->ProcessMessages();
  bool closed = false;
  form->OnClose = [&](TComponent*, TCloseAction& action) {
    closed = true;
    action = TCloseAction::caHide;
  };
  ClickAt(Centre(p->Button(HTCLOSE).Rect), [&] { return closed; });
}

TEST_F(ProviderX11Test, SingleFormMinimisesFromItsButton) {
  Start(true);
  TsSkinProvider* p = MakeForm(TFormBorderStyle::bsSingle, biSystemMenu | biMinimize);
  EXPECT_TRUE(p->Button(HTMAXBUTTON).Rect.IsEmpty());
  ClickAt(Centre(p->Button(HTMINBUTTON).Rect), [&] { return IsIconic(form->Handle()); });
}

TEST_F(ProviderX11Test, MenuBarAndSkinnedEditWorkWithServerEvents) {
  Start(true);
  std::string clicked;
  TsEdit* edit = nullptr;
  MakeForm(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize, [&] {
    auto* menu = Create<TMainMenu>(form);
    for (const char* caption : {"&File", "&Help"}) {
      auto* item = Create<TMenuItem>(form);
      item->SetCaption(caption);
      auto* child = Create<TMenuItem>(form);
      child->SetCaption(caption + 1);
      child->OnClick = [&clicked, child](TComponent*) { clicked += child->Caption(); };
      item->Add(child);
      menu->Items()->Add(item);
    }
    form->SetMenu(menu);
    edit = Create<TsEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(10, 10, 120, 21);
  });
  auto until = [&](const std::function<bool()>& done) {
    EXPECT_EQ(PumpUntil(done, std::chrono::steady_clock::now() + 20s), PumpResult::Done);
  };
  // By the mouse: a click on "File", then on the first row of the popup below it. Both go
  // in at once: the menu's loop takes the second while the popup is up.
  const Rect file = GetMenuBarLayout(*form).Items.at(0).second;
  const Rect wr = WindowRect();
  for (const Point at : {Centre(file), Point{file.Left + 10, file.Bottom + 7}})
    ASSERT_TRUE(
        test::SendXClick(server->Display(), Xid(), at.X, at.Y, wr.Left + at.X, wr.Top + at.Y));
  until([&] { return clicked == "File"; });
  // By the keyboard: F10, Right to "Help", Down opens it, Return chooses its item; then
  // typing into the skinned edit.
  for (const unsigned long keysym : {0xFFC7ul, 0xFF53ul, 0xFF54ul, 0xFF0Dul})
    ASSERT_TRUE(test::SendXKey(server->Display(), Xid(), keysym));
  until([&] { return clicked == "FileHelp"; });
  edit->SetFocus();
  for (const unsigned long keysym : {0x61ul, 0x62ul, 0x63ul})
    ASSERT_TRUE(test::SendXKey(server->Display(), Xid(), keysym));
  until([&] { return edit->Text() == "abc"; });
  x11->Sync();
  Application()->ProcessMessages();
  x11->Sync();
  const Bitmap shown = test::GrabXWindow(server->Display(), Xid(), 200, 120);
  const std::string shot = std::filesystem::path(QV_BINARY_DIR) / "menus_x11.png";
  WriteFileBytes(shot, SavePng(shown));
  EXPECT_TRUE(shown == SnapshotWindow(form->Handle())) << "see " << shot;
}

// An MDI form on the X server: two children with icons of their own and merged menus, one
// maximised, switched with Ctrl+F6, and a click on a minimised child's strip, which shows
// its system menu. Each step's picture is written beside the tests.
TEST_F(ProviderX11Test, MdiFormSwitchesChildrenAndClicksAMinimisedOne) {
  Start(true);
  test::TMdiMain* mdiForm = nullptr;
  auto until = [&](const std::function<bool()>& done) {
    EXPECT_EQ(PumpUntil(done, std::chrono::steady_clock::now() + 20s), PumpResult::Done);
  };
  Application()->CreateForm(mdiForm);  // the application's main form, as an MDI form must be
  form = mdiForm;
  form->SetBounds(20, 20, 420, 300);
  form->SetCaption("MDI form");
  form->SetMenu(test::MenuOf(form, {{"&File", 0}, {"&Window", 5}, {"&Help", 10}}));
  auto* main = Create<TsSkinProvider>(form);
  main->AfterConstruction();
  form->Show();
  until([&] { return x11->Mapped(form->Handle()); });
  auto child = [&](const std::string& caption, Rect r, COLORREF color,
                   std::vector<std::pair<std::string, int>> items) {
    auto* c = Create<TForm>(Application());
    c->SetMenu(test::MenuOf(c, items));
    c->SetFormStyle(TFormStyle::fsMDIChild);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    c->SetCaption(caption);
    c->Icon().SetHandle(test::SolidIcon(color));
    Create<TsSkinProvider>(c)->AfterConstruction();
    c->AfterConstruction();
    c->Show();
    Application()->ProcessMessages();
    return c;
  };
  TForm* a = child("Red child", Bounds(10, 10, 180, 120), RGB(220, 0, 0),
                   {{"&Edit", 1}, {"&About red", 10}});
  TForm* b = child("Blue child", Bounds(60, 50, 180, 120), RGB(0, 0, 220), {{"&View", 1}});
  auto shoot = [&](const std::string& name) {
    x11->Sync();
    Application()->ProcessMessages();
    x11->Sync();
    const Bitmap shown = test::GrabXWindow(server->Display(), Xid(), 420, 300);
    EXPECT_FALSE(shown.Empty());
    WriteFileBytes(std::filesystem::path(QV_BINARY_DIR) / (name + ".png"), SavePng(shown));
    return shown;
  };
  const Point iconAt{main->SysBorderHeight() + 4,
                     main->SysBorderWidth() + main->CaptionHeight() + 4};
  // The blue child is active; the red one maximised in its turn.
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  until([&] { return form->ActiveMDIChild() == a && IsZoomed(a->Handle()); });
  Bitmap shot = shoot("mdi_x11_red_maximised");
  EXPECT_EQ(shot.Pixel(iconAt.X, iconAt.Y), RGB(220, 0, 0));
  EXPECT_EQ(form->Menu()->Merged(), a->Menu());
  // Ctrl+F6 from the server: the blue child comes up maximised, with its icon.
  ASSERT_TRUE(test::SendXKey(server->Display(), Xid(), 0xFFC3 /* F6 */, kXControlMask));
  until([&] { return form->ActiveMDIChild() == b; });
  EXPECT_TRUE(IsZoomed(b->Handle()));
  shot = shoot("mdi_x11_blue_after_ctrl_f6");
  EXPECT_EQ(shot.Pixel(iconAt.X, iconAt.Y), RGB(0, 0, 220));
  EXPECT_EQ(form->Menu()->Merged(), b->Menu());
  // Restored, the red child minimised to its strip; a click on the strip shows its menu.
  SendMessage(b->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  until([&] { return IsIconic(a->Handle()) && !IsZoomed(b->Handle()); });
  shoot("mdi_x11_red_minimised");
  auto* redProvider =
      reinterpret_cast<TsSkinProvider*>(SendMessage(a->Handle(), SKM_GETPROVIDER, 0, 0));
  ASSERT_NE(redProvider, nullptr);
  int popups = 0;
  TTimer grab(nullptr);
  grab.SetEnabled(false);
  grab.SetInterval(300);
  grab.OnTimer = [&](TComponent*) {
    grab.SetEnabled(false);
    const Bitmap screen = test::GrabXScreen(server->Display(), 560, 440);
    WriteFileBytes(std::filesystem::path(QV_BINARY_DIR) / "mdi_x11_minimised_click_menu.png",
                   SavePng(screen));
    const HWND shown = redProvider->SystemMenu().WindowHandle();
    if (shown != 0) test::SendXKey(server->Display(), x11->XWindow(shown), 0xFF1B /* Escape */);
  };
  redProvider->SystemMenu().OnPopup = [&](TComponent*) {
    ++popups;
    grab.SetEnabled(true);
  };
  Rect strip, wr;
  ASSERT_TRUE(GetWindowRect(a->Handle(), strip));
  ASSERT_TRUE(GetWindowRect(form->Handle(), wr));
  const Point at{strip.Left + 60, strip.Top + 8};
  ASSERT_TRUE(
      test::SendXClick(server->Display(), Xid(), at.X - wr.Left, at.Y - wr.Top, at.X, at.Y));
  until([&] { return popups == 1 && redProvider->SystemMenu().WindowHandle() == 0; });
  EXPECT_TRUE(IsIconic(a->Handle()));
}

// An MDI form on the X server: the client's skinned bar clicked until the far child is in
// view, and a click in an inactive child's bare client area, which activates it. Each step's
// picture is written beside the tests.
TEST_F(ProviderX11Test, MdiBarClickedUntilItHidesAndAClickActivatesAChild) {
  Start(true);
  test::TMdiMain* mdiForm = nullptr;
  auto until = [&](const std::function<bool()>& done) {
    EXPECT_EQ(PumpUntil(done, std::chrono::steady_clock::now() + 20s), PumpResult::Done);
  };
  Application()->CreateForm(mdiForm);
  form = mdiForm;
  form->SetBounds(20, 20, 420, 300);
  form->SetCaption("MDI form");
  form->SetMenu(test::MenuOf(form, {{"&File", 0}, {"&Window", 5}, {"&Help", 10}}));
  auto* main = Create<TsSkinProvider>(form);
  main->AfterConstruction();
  form->Show();
  until([&] { return x11->Mapped(form->Handle()); });
  Rect area;
  ASSERT_TRUE(GetClientRect(form->ClientHandle(), area));
  auto child = [&](const std::string& caption, Rect r, COLORREF color) {
    auto* c = Create<TForm>(Application());
    c->SetFormStyle(TFormStyle::fsMDIChild);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    c->SetCaption(caption);
    c->SetColor(color);
    Create<TsSkinProvider>(c)->AfterConstruction();
    c->AfterConstruction();
    c->Show();
    Application()->ProcessMessages();
    return c;
  };
  // The blue child reaches 30 pixels past the client's right edge; both fit side by side.
  TForm* red = child("Red child", Bounds(40, 10, 160, 110), RGB(240, 200, 200));
  TForm* blue =
      child("Blue child", Bounds(area.Right + 30 - 170, 60, 170, 110), RGB(200, 200, 240));
  auto shoot = [&](const std::string& name) {
    x11->Sync();
    Application()->ProcessMessages();
    x11->Sync();
    const Bitmap shown = test::GrabXWindow(server->Display(), Xid(), 420, 300);
    EXPECT_FALSE(shown.Empty());
    WriteFileBytes(std::filesystem::path(QV_BINARY_DIR) / (name + ".png"), SavePng(shown));
  };
  auto clickScreen = [&](Point at) {
    const Rect wr = WindowRect();
    return test::SendXClick(server->Display(), Xid(), at.X - wr.Left, at.Y - wr.Top, at.X, at.Y);
  };
  until([&] { return form->ActiveMDIChild() == blue; });
  // The bar's right arrow, clicked until the blue child is in view: the bar hides.
  TsMDIForm* mdi = main->MDIForm();
  TsScrollBar* bar = mdi->HorzBar();
  ASSERT_NE(bar, nullptr);
  shoot("mdi57_bar_shown");
  for (int clicks = 0; clicks < 20 && mdi->HorzBar() != nullptr; ++clicks) {
    const int before = bar->Position();
    ASSERT_TRUE(clickScreen(bar->ClientToScreen({bar->Width() - 5, bar->Height() / 2})));
    until([&] { return mdi->HorzBar() == nullptr || bar->Position() != before; });
    until([&] { return !(GetKeyState(VK_LBUTTON) < 0); });
  }
  EXPECT_EQ(mdi->HorzBar(), nullptr);
  Rect blueAt, clientAt;
  ASSERT_TRUE(GetWindowRect(blue->Handle(), blueAt));
  ASSERT_TRUE(GetWindowRect(form->ClientHandle(), clientAt));
  EXPECT_LE(blueAt.Right, clientAt.Right);
  shoot("mdi57_bar_hidden");

  // A click in the red child's bare client area makes it the active child.
  ASSERT_EQ(form->ActiveMDIChild(), blue);
  ASSERT_TRUE(clickScreen(red->ClientToScreen({20, 30})));
  until([&] { return form->ActiveMDIChild() == red; });
  shoot("mdi57_red_activated");
}

}  // namespace
}  // namespace qv
