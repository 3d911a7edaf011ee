// The skinned buttons and scroll bar on a real X server: a test form with a drop-down button
// and its menu, a glyph button in its normal, hot and pressed looks, a disabled glyph button,
// a toggle and a scroll bar whose OnScroll writes into a label. The screen is saved as
// "parts_x11_form.png" in the build folder for a person to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/classlib/forms.h"
#include "platform/classlib/imglist.h"
#include "platform/classlib/menus.h"
#include "platform/gfx/font.h"
#include "platform/gfx/picture.h"
#include "platform/gfx/png_codec.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/timer.h"
#include "platform/ui/window_system.h"
#include "platform/ui/x11_backend.h"
#include "skin/sbuttons.h"
#include "skin/spanels.h"
#include "skin/sscrollbar.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "tests/platform/base/temp_dir.h"
#include "tests/platform/ui/xvfb_server.h"
#include "tests/skin/provider_fixture.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// A 16 x 16 glyph: a filled disc of the colour on fuchsia.
Bitmap Disc(COLORREF color) {
  Bitmap b(16, 16);
  b.Fill(0xFF00FF);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if ((x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) <= 42) b.SetPixel(x, y, color);
  return b;
}

TEST(PartsX11Test, TestFormShowsEveryButtonKindAndAScrollBarDrivingALabel) {
  test::XvfbServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  UseBuiltinFontEverywhere(true);
  qv::testing::TempDir skins;
  std::filesystem::create_directories(skins.path() + "/P");
  test::WriteProviderSkin(skins.path() + "/P", true);
  auto backend = X11Backend::Open(server.Display().c_str());
  ASSERT_NE(backend, nullptr);
  X11Backend* x11 = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));

  auto* form = Create<TForm>(Application());
  form->SetBorderStyle(TFormBorderStyle::bsSizeable);
  form->SetBounds(20, 20, 440, 230);
  form->SetCaption("Skinned parts");
  auto* manager = Create<TsSkinManager>(form);
  manager->SetSkinDirectory(skins.path());
  manager->SetSkinName("P");
  ASSERT_TRUE(SkinData.Active);

  auto* images = Create<TImageList>(form);
  images->Add(Disc(RGB(0, 150, 0)));
  auto* disabledImages = Create<TImageList>(form);
  disabledImages->Add(Disc(RGB(150, 150, 150)));
  auto button = [&](int x, int y, const char* caption) {
    auto* b = Create<TsButton>(form);
    b->SetParent(form);
    b->SetBounds(x, y, 90, 28);
    b->SetCaption(caption);
    b->sStyle()->BtnEffects.Fading.Enabled = false;
    return b;
  };
  TsButton* drop = button(320, 10, "Format");
  drop->ButtonStyle = 2;
  auto* menu = Create<TPopupMenu>(form);
  for (const char* caption : {"MP3", "Ogg Vorbis", "FLAC"}) {
    auto* item = Create<TMenuItem>(menu);
    item->SetCaption(caption);
    menu->Items()->Add(item);
  }
  drop->SetDropdownMenu(menu);
  TsButton* looks[3] = {button(10, 10, "Normal"), button(110, 10, "Hot"), button(210, 10, "Down")};
  for (TsButton* b : looks) {
    b->SetImages(images);
    b->SetImageIndex(0);
  }
  TsButton* disabled = button(10, 50, "Off");
  disabled->SetImages(images);
  disabled->SetDisabledImages(disabledImages);
  disabled->SetImageIndex(0);
  disabled->SetEnabled(false);
  TsButton* toggle = button(110, 50, "Toggle");
  toggle->ButtonStyle = 1;
  auto* label = Create<TsLabel>(form);
  label->SetParent(form);
  label->SetBounds(10, 170, 300, 16);
  label->SetCaption("Scroll: none");
  auto* bar = Create<TsScrollBar>(form);
  bar->SetParent(form);
  bar->SetBounds(10, 140, 300, 16);
  bar->SetParams(0, 0, 20);
  int scrolls = 0;
  bar->OnScroll = [&](TComponent*, TScrollCode code, int& pos) {
    ++scrolls;
    label->SetCaption("Scroll: code " + std::to_string(int(code)) + ", position " +
                      std::to_string(pos));
  };
  auto* provider = Create<TsSkinProvider>(form);
  provider->AfterConstruction();
  form->AfterConstruction();
  form->Show();
  ASSERT_EQ(PumpUntil([&] { return x11->Mapped(form->Handle()); },
                      std::chrono::steady_clock::now() + 20s),
            PumpResult::Done);

  // The looks: one hot (as under the pointer), one held down, the toggle down.
  looks[1]->sStyle()->MouseIn = true;
  looks[1]->sStyle()->Invalidate();
  looks[2]->SetDown(true);
  toggle->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, 5));
  toggle->Perform(WM_LBUTTONUP, 0, MAKELONG(5, 5));
  EXPECT_TRUE(toggle->Down());

  // Three clicks on the bar's second button, as the server delivers them.
  // The clicks go to the form's top-level window, at the button's place in it.
  Rect barRect, formRect;
  ASSERT_TRUE(GetWindowRect(bar->Handle(), barRect));
  ASSERT_TRUE(GetWindowRect(form->Handle(), formRect));
  const Point screenAt{barRect.Left + 292, barRect.Top + 8};
  const unsigned long formX = x11->XWindow(form->Handle());
  for (int i = 0; i < 3; ++i) {
    const int before = scrolls;
    ASSERT_TRUE(test::SendXClick(server.Display(), formX, screenAt.X - formRect.Left,
                                 screenAt.Y - formRect.Top, screenAt.X, screenAt.Y));
    EXPECT_EQ(
        PumpUntil([&] { return scrolls > before + 1; }, std::chrono::steady_clock::now() + 20s),
        PumpResult::Done);
  }
  EXPECT_EQ(bar->Position(), 3);
  EXPECT_EQ(label->Caption(), "Scroll: code 8, position 3");  // the release ends the scroll

  // The drop-down: a press on its arrow part opens the menu below it; the screen is taken
  // while the menu shows, then Escape closes it.
  Bitmap screen;
  TTimer shot(nullptr);
  shot.SetInterval(200);
  shot.OnTimer = [&](TComponent*) {
    shot.SetEnabled(false);
    x11->Sync();
    Application()->ProcessMessages();
    x11->Sync();
    screen = test::GrabXScreen(server.Display(), 480, 270);
    const HWND popup = menu->WindowHandle();
    EXPECT_NE(popup, 0u);
    if (popup != 0) PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  };
  shot.SetEnabled(true);
  PostMessage(drop->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(84, 14));
  EXPECT_EQ(PumpUntil([&] { return !screen.Empty(); }, std::chrono::steady_clock::now() + 20s),
            PumpResult::Done);
  PostMessage(drop->Handle(), WM_LBUTTONUP, 0, MAKELONG(84, 14));
  Application()->ProcessMessages();
  EXPECT_FALSE(drop->DroppedDown());
  ASSERT_FALSE(screen.Empty());
  const std::string path = std::filesystem::path(QV_BINARY_DIR) / "parts_x11_form.png";
  WriteFileBytes(path, SavePng(screen));

  DestroyApplication();
  StopWindowSystem();
  UseBuiltinFontEverywhere(false);
}

}  // namespace
}  // namespace qv
