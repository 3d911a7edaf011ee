// The skin of the provider and scroll-bar tests: a form section with a border mask and the
// caption-button glyphs, a title with its top corners cut, and the scroll-bar sections.
#pragma once

#include <string>
#include <vector>

#include <utility>

#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/ui/icons.h"
#include "skin/spaintutils.h"
#include "tests/platform/base/temp_dir.h"

namespace qv::test {

// A three-state borders mask (27 x 18): a ring in the state's colour, its outer top corners
// fuchsia when `cutTop`.
inline Bitmap Ring(COLORREF normal, COLORREF hot, COLORREF pressed, bool cutTop) {
  Bitmap m(27, 18);
  const COLORREF ring[3] = {normal, hot, pressed};
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        const bool edge = x < 2 || y < 2 || x > 6 || y > 6;
        const bool corner = cutTop && y == 0 && (x == 0 || x == 8);
        m.SetPixel(9 * f + x, y, corner ? 0xFF00FF : edge ? ring[f] : RGB(255, 255, 0));
        m.SetPixel(9 * f + x, y + 9, edge ? 0x000000 : 0xFFFFFF);
      }
  return m;
}

// A glyph of three frames `size` square: a filled square in the frame's colour on fuchsia,
// the mask black under the square.
inline Bitmap Glyph(int size, COLORREF normal, COLORREF hot, COLORREF pressed) {
  Bitmap g(3 * size, 2 * size);
  const COLORREF c[3] = {normal, hot, pressed};
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const bool in = x >= 3 && y >= 3 && x < size - 3 && y < size - 3;
        g.SetPixel(f * size + x, y, in ? c[f] : 0xFF00FF);
        g.SetPixel(f * size + x, y + size, in ? 0x000000 : 0xFFFFFF);
      }
  return g;
}

constexpr COLORREF kTitleActive = RGB(40, 80, 160);
constexpr COLORREF kTitleInactive = RGB(150, 150, 160);
constexpr COLORREF kFormColor = RGB(210, 215, 220);
constexpr COLORREF kMinGlyph = RGB(0, 160, 0);
constexpr COLORREF kNormGlyph = RGB(200, 120, 0);
constexpr COLORREF kCloseGlyph = RGB(200, 0, 0);
constexpr COLORREF kMenuLine = RGB(230, 200, 120);
constexpr COLORREF kMenuBack = RGB(245, 240, 225);
constexpr COLORREF kMenuHot = RGB(60, 110, 190);

// A title colour as it shows through the centre of the title's borders mask (yellow image,
// white mask).
inline COLORREF Through(COLORREF c) {
  return RGB(MaskBlend(255, GetRValue(c), 255), MaskBlend(255, GetGValue(c), 255),
             MaskBlend(0, GetBValue(c), 255));
}

// The MDI form of the tests: sizeable, 320 x 220 at (50, 50), "Main".
class TMdiMain : public TForm {
 public:
  explicit TMdiMain(TComponent* owner) : TForm(owner) {
    SetFormStyle(TFormStyle::fsMDIForm);
    SetBorderStyle(TFormBorderStyle::bsSizeable);
    SetBounds(50, 50, 320, 220);
    SetCaption("Main");
  }
};

// An icon of one colour, 16 x 16.
inline HICON SolidIcon(COLORREF color) {
  ICONINFO info;
  info.hbmMask = Bitmap(16, 16);  // black: all image
  info.hbmColor = Bitmap(16, 16);
  info.hbmColor.Fill(color);
  return CreateIconIndirect(info);
}

// A main menu of top-level items (caption, also the name, and group), each with one child
// item so that it opens a popup.
inline TMainMenu* MenuOf(TComponent* owner, const std::vector<std::pair<std::string, int>>& items) {
  auto* m = Create<TMainMenu>(owner);
  for (const auto& [caption, group] : items) {
    auto* item = Create<TMenuItem>(m);
    item->SetCaption(caption);
    item->SetName(caption);
    item->SetGroupIndex(group);
    auto* sub = Create<TMenuItem>(m);
    sub->SetCaption(caption + " item");
    item->Add(sub);
    m->Items()->Add(item);
  }
  return m;
}

inline void WriteProviderSkin(const std::string& folder, bool glyphs) {
  auto Image = [&](const std::string& name, const Bitmap& b) {
    const std::vector<std::uint8_t> bytes = SaveBmp(b);
    qv::testing::WriteFile(folder + "/" + name, std::string(bytes.begin(), bytes.end()));
  };
  auto C = [](COLORREF c) { return std::to_string(c); };
  Image("form.bmp", Ring(RGB(60, 60, 70), RGB(20, 20, 30), RGB(20, 20, 30), false));
  Image("title.bmp", Ring(RGB(90, 90, 100), RGB(10, 30, 90), RGB(10, 30, 90), true));
  Image("min.bmp", Glyph(14, kMinGlyph, RGB(0, 230, 0), RGB(0, 90, 0)));
  Image("max.bmp", Glyph(14, RGB(0, 0, 160), RGB(0, 0, 230), RGB(0, 0, 90)));
  Image("norm.bmp", Glyph(14, kNormGlyph, RGB(250, 170, 0), RGB(120, 70, 0)));
  Image("close.bmp", Glyph(14, kCloseGlyph, RGB(255, 60, 60), RGB(110, 0, 0)));
  Image("btn.bmp", Ring(RGB(100, 100, 100), RGB(0, 120, 200), RGB(0, 60, 120), false));
  Image("arrow.bmp", Glyph(8, RGB(0, 0, 0), RGB(0, 0, 255), RGB(255, 255, 255)));
  Image("thumb.bmp", Ring(RGB(80, 80, 80), RGB(200, 120, 0), RGB(120, 60, 0), false));
  std::string text = "[FORM]\nPaintingColor=" + C(kFormColor) +
                     "\nHotPaintingColor=" + C(kFormColor) + "\nBORDERSMASK=form.bmp\n";
  if (glyphs)
    text += "BICONMIN=min.bmp\nBICONMAX=max.bmp\nBICONNORM=norm.bmp\nBICONCLOSE=close.bmp\n";
  text += "[FORMTITLE]\nPaintingColor=" + C(kTitleInactive) +
          "\nHotPaintingColor=" + C(kTitleActive) +
          "\nFONTCOLOR=0\nHOTFONTCOLOR=16777215\nBORDERSMASK=title.bmp\n";
  for (const char* s : {"SCROLLBTNLEFT", "SCROLLBTNRIGHT", "SCROLLBTNTOP", "SCROLLBTNBOTTOM"})
    text += std::string("[") + s + "]\nPaintingColor=" + C(RGB(220, 220, 220)) +
            "\nHotPaintingColor=" + C(RGB(200, 230, 255)) +
            "\nBORDERSMASK=btn.bmp\nGLYPHMASK=arrow.bmp\n";
  for (const char* s : {"SCROLLSLIDERH", "SCROLLSLIDERV"})
    text += std::string("[") + s + "]\nPaintingColor=" + C(RGB(180, 180, 190)) +
            "\nHotPaintingColor=" + C(RGB(255, 220, 150)) + "\nBORDERSMASK=thumb.bmp\n";
  text += "[MENULINE]\nPaintingColor=" + C(kMenuLine) + "\nHotPaintingColor=" + C(kMenuLine) + "\n";
  text += "[MAINMENU]\nPaintingColor=" + C(kMenuBack) + "\nHotPaintingColor=" + C(kMenuBack) +
          "\n[MENUITEM]\nPaintingColor=" + C(kMenuBack) + "\nHotPaintingColor=" + C(kMenuHot) +
          "\nFONTCOLOR=0\nHOTFONTCOLOR=16777215\n";
  text += "[SCROLLBAR1H]\nPaintingColor=" + C(RGB(235, 235, 240)) +
          "\nHotPaintingColor=" + C(RGB(225, 235, 250)) +
          "\n[SCROLLBAR2H]\nPaintingColor=" + C(RGB(240, 235, 235)) +
          "\nHotPaintingColor=" + C(RGB(250, 235, 225)) + "\n";
  qv::testing::WriteFile(folder + "/Options.dat", text);
}

}  // namespace qv::test
