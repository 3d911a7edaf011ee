// A mock-up of a window in the skin, for the contact sheet: the pieces put together the way
// the painting code combines them (section backgrounds, borders masks in their 3 x 3 cells,
// glyph frames blended by their masks), so a person can judge the whole look at once.
#include <algorithm>
#include <stdexcept>

#include "platform/gfx/dc.h"
#include "tools/skingen/skin_art.h"

namespace qv::skingen {

namespace {

constexpr COLORREF kFuchsia = 0xFF00FF;

const Bitmap& Find(const Art& art, std::string_view name) {
  for (const ArtImage& im : art.Images)
    if (im.Name == name) return im.Image;
  throw std::logic_error("no picture " + std::string(name));
}

COLORREF Mix(COLORREF a, COLORREF b, int k256) {  // a + (b - a) * k / 256
  const auto m = [k256](int x, int y) { return std::uint8_t(x + (y - x) * k256 / 256); };
  return RGB(m(GetRValue(a), GetRValue(b)), m(GetGValue(a), GetGValue(b)),
             m(GetBValue(a), GetBValue(b)));
}

void Gradient(Bitmap& b, Rect r, COLORREF top, COLORREF bottom) {
  for (int y = r.Top; y < r.Bottom; ++y) {
    const int k = r.Bottom - r.Top > 1 ? (y - r.Top) * 256 / (r.Bottom - r.Top - 1) : 0;
    for (int x = r.Left; x < r.Right; ++x) b.SetPixel(x, y, Mix(top, bottom, std::min(k, 256)));
  }
}

// Covers r with `color` at (100 - transparency) percent.
void Veil(Bitmap& b, Rect r, COLORREF color, int transparency) {
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x)
      b.SetPixel(x, y, Mix(color, b.Pixel(x, y), transparency * 256 / 100));
}

// One pixel of a masked image: img + mask * (dst - img) / 256; fuchsia leaves dst.
void Masked(Bitmap& b, int x, int y, COLORREF s, COLORREF m) {
  if (s == kFuchsia) return;
  b.SetPixel(x, y, Mix(s, b.Pixel(x, y), GetRValue(m)));
}

// A state frame of a borders mask around r: corners copied, edges and centre tiled.
void Border(Bitmap& b, const Bitmap& mask, int state, Rect r, bool fillCentre) {
  const int w = mask.Width() / 9, h = mask.Height() / 6, half = mask.Height() / 2;
  const int rw = r.Right - r.Left, rh = r.Bottom - r.Top;
  const auto map = [](int d, int size, int cell) {
    if (d < cell) return d;
    if (d >= size - cell) return 3 * cell - (size - d);
    return cell + (d - cell) % cell;
  };
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x) {
      const int sx = map(x, rw, w), sy = map(y, rh, h);
      if (!fillCentre && sx >= w && sx < 2 * w && sy >= h && sy < 2 * h) continue;
      const int px = state * 3 * w + sx;
      Masked(b, r.Left + x, r.Top + y, mask.Pixel(px, sy), mask.Pixel(px, sy + half));
    }
}

void Glyph(Bitmap& b, const Bitmap& glyph, int state, Point p) {
  const int fw = glyph.Width() / 3, fh = glyph.Height() / 2;
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x)
      Masked(b, p.X + x, p.Y + y, glyph.Pixel(state * fw + x, y),
             glyph.Pixel(state * fw + x, y + fh));
}

void Text(DC& dc, Rect r, std::string_view text, COLORREF color, unsigned flags,
          bool bold = false) {
  Font font;
  if (bold) font.Style = fsBold;
  dc.SelectFont(font);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(TColor(color));
  dc.DrawText(text, r, flags | DT_SINGLELINE | DT_VCENTER);
}

}  // namespace

Bitmap PreviewScene(const Art& art) {
  constexpr COLORREF text = RGB(0x1F, 0x24, 0x30);
  constexpr int W = 420, H = 300, title = 23;
  Bitmap b(W, H);
  DC dc(&b);
  // The window's background: gradient with 15 % of the texture tile.
  Gradient(b, {0, 0, W, H}, RGB(0xEE, 0xF1, 0xF5), RGB(0xD8, 0xDE, 0xE6));
  const Bitmap& weave = Find(art, "FormBack.jpg");
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      b.SetPixel(x, y, Mix(b.Pixel(x, y), weave.Pixel(x % weave.Width(), y % weave.Height()), 38));
  Border(b, Find(art, "FormBorder.bmp"), 1, {0, 0, W, H}, false);
  // Title band, the backing of the buttons, the buttons (close hot) and the caption.
  Gradient(b, {0, 0, W, title}, RGB(0xDD, 0xE3, 0xEA), RGB(0xC9, 0xD1, 0xDB));
  Border(b, Find(art, "TitleBorder.bmp"), 1, {0, 0, W, title}, true);
  const Bitmap& close = Find(art, "CapClose.bmp");
  const int bw = close.Width() / 3, r = W - 4;
  Border(b, Find(art, "TitleBar.bmp"), 1,
         {W - (Find(art, "TitleBar.bmp").Width() / 9 * 2 + 3 * bw), 0, W, title}, true);
  Glyph(b, close, 1, {r - bw - 1, 3});
  Glyph(b, Find(art, "CapMax.bmp"), 0, {r - 2 * (bw + 1), 3});
  Glyph(b, Find(art, "CapMin.bmp"), 0, {r - 3 * (bw + 1), 3});
  Text(dc, {12, 4, W - 80, title}, "Quorvel - Audio CD", text, DT_LEFT, true);

  // A panel with labels, edits, buttons and check marks.
  const Rect panel{12, 34, W - 12, 170};
  Veil(b, panel, RGB(255, 255, 255), 40);
  Border(b, Find(art, "Panel.bmp"), 0, panel, false);
  const Bitmap& edit = Find(art, "Edit.bmp");
  const char* labels[] = {"Artist :", "Album :"};
  for (int i = 0; i < 2; ++i) {
    const int y = 46 + i * 30;
    Text(dc, {24, y, 90, y + 22}, labels[i], text, DT_LEFT);
    const Rect e{90, y, 300, y + 22};
    Veil(b, e, RGB(255, 255, 255), 0);
    Border(b, edit, i, e, false);
    Text(dc, {96, y, 296, y + 22}, i == 0 ? "The Quiet Harbour" : "Lanterns (focused)", text,
         DT_LEFT);
  }
  const Bitmap& button = Find(art, "Button.bmp");
  const char* captions[] = {"Rip", "CDDB (hot)", "Stop (down)"};
  for (int i = 0; i < 3; ++i) {
    const Rect btn{24 + i * 92, 112, 24 + i * 92 + 84, 137};
    if (i == 0)
      Gradient(b, btn, RGB(0xFA, 0xFB, 0xFC), RGB(0xE3, 0xE8, 0xEE));
    else
      Gradient(b, btn, RGB(0xFD, 0xF1, 0xE2), RGB(0xF6, 0xD3, 0xA6));
    Border(b, button, i, btn, true);
    Text(dc, btn, captions[i], text, DT_CENTER);
  }
  Glyph(b, Find(art, "CheckOn.bmp"), 0, {24, 146});
  Text(dc, {44, 143, 150, 165}, "Eject when done", text, DT_LEFT);
  Glyph(b, Find(art, "RadioOn.bmp"), 1, {160, 147});
  Text(dc, {178, 143, 240, 165}, "MP3", text, DT_LEFT);
  Glyph(b, Find(art, "RadioOff.bmp"), 0, {240, 147});
  Text(dc, {258, 143, 320, 165}, "FLAC", text, DT_LEFT);

  // A horizontal scroll bar: buttons, tracks and the thumb (hot).
  const int sy = 182, sh = 16;
  Gradient(b, {12, sy, W - 12, sy + sh}, RGB(0xE6, 0xEA, 0xEF), RGB(0xE6, 0xEA, 0xEF));
  const Bitmap& sbtn = Find(art, "ScrollBtn.bmp");
  for (int i = 0; i < 2; ++i) {
    const Rect r2 = i == 0 ? Rect{12, sy, 28, sy + sh} : Rect{W - 28, sy, W - 12, sy + sh};
    Gradient(b, r2, RGB(0xFA, 0xFB, 0xFC), RGB(0xE3, 0xE8, 0xEE));
    Border(b, sbtn, 0, r2, true);
    Glyph(b, Find(art, i == 0 ? "ArrowLeft.bmp" : "ArrowRight.bmp"), 0, {r2.Left + 3, sy + 3});
  }
  const Rect thumb{120, sy, 200, sy + sh};
  Gradient(b, thumb, RGB(0xE8, 0x91, 0x2D), RGB(0xE8, 0x91, 0x2D));
  Border(b, Find(art, "Thumb.bmp"), 1, thumb, true);
  Glyph(b, Find(art, "ThumbGripH.bmp"), 1, {156, sy + 4});
  // A menu with a hot item.
  const Rect menu{12, 206, 180, 290};
  Veil(b, menu, RGB(0xFB, 0xFC, 0xFD), 0);
  Border(b, Find(art, "Menu.bmp"), 0, menu, false);
  const char* items[] = {"Open image...", "Read the disc", "Settings"};
  for (int i = 0; i < 3; ++i) {
    const Rect it{15, 210 + i * 26, 177, 234 + i * 26};
    if (i == 1) {
      Veil(b, it, RGB(0xF6, 0xD3, 0xA6), 0);
      Border(b, Find(art, "MenuItem.bmp"), 1, it, false);
    }
    Text(dc, {it.Left + 10, it.Top, it.Right, it.Bottom}, items[i], text, DT_LEFT);
  }
  // The size grip in the corner.
  const Rect grip{W - 24, H - 24, W - 4, H - 4};
  Veil(b, grip, RGB(0xE6, 0xEA, 0xEF), 0);
  Border(b, Find(art, "Grip.bmp"), 0, grip, false);
  return b;
}

}  // namespace qv::skingen
