#include "tools/skingen/skin_art.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>
#include <string_view>

#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/jpeg_codec.h"

namespace qv::skingen {

namespace {

// ---- Palette (0xRRGGBB) -------------------------------------------------------------------

constexpr std::uint32_t kText = 0x1F2430;
constexpr std::uint32_t kTextInactive = 0x4A5260;
constexpr std::uint32_t kGlyph = 0x4A5260;
constexpr std::uint32_t kBgTop = 0xEEF1F5;
constexpr std::uint32_t kBgBottom = 0xD8DEE6;
constexpr std::uint32_t kPanelBorder = 0xC3CAD4;
constexpr std::uint32_t kAccent = 0xE8912D;
constexpr std::uint32_t kAccentPressed = 0xC2741C;
constexpr std::uint32_t kAccentLight = 0xF6D3A6;
constexpr std::uint32_t kAccentPale = 0xFDF1E2;
constexpr std::uint32_t kFaceTop = 0xFAFBFC;
constexpr std::uint32_t kFaceBottom = 0xE3E8EE;
constexpr std::uint32_t kFaceBorder = 0xB7C0CC;
constexpr std::uint32_t kFaceShade = 0xD0D6DE;
constexpr std::uint32_t kField = 0xFFFFFF;
constexpr std::uint32_t kFieldBorder = 0xAEB7C3;
constexpr std::uint32_t kTitleTop = 0xDDE3EA;
constexpr std::uint32_t kTitleBottom = 0xC9D1DB;
constexpr std::uint32_t kTitleInactive = 0xD5DBE2;
constexpr std::uint32_t kOutline = 0x8D97A4;
constexpr std::uint32_t kOutlineInactive = 0xA6AFBA;
constexpr std::uint32_t kClose = 0xD64541;
constexpr std::uint32_t kClosePressed = 0xB5322E;
constexpr std::uint32_t kTrack = 0xE6EAEF;
constexpr std::uint32_t kTrackHot = 0xDDE2E8;
constexpr std::uint32_t kThumb = 0xB9C2CD;
constexpr std::uint32_t kThumbRidge = 0x8D97A4;
constexpr std::uint32_t kMenu = 0xFBFCFD;
constexpr std::uint32_t kMenuLineTop = 0xF8F9FB;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr COLORREF kFuchsia = 0xFF00FF;

COLORREF Ref(std::uint32_t rgb) {
  return RGB(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb));
}

// ---- Shapes and frames --------------------------------------------------------------------

// A point set in pixel coordinates (pixel (x, y) covers [x, x + 1) x [y, y + 1)).
using Shape = std::function<bool(float x, float y)>;

enum Corners : unsigned { kTL = 1, kTR = 2, kBL = 4, kBR = 8, kAll = 15, kTop = kTL | kTR };

Shape RoundRect(float l, float t, float r, float b, float radius, unsigned corners = kAll) {
  return [=](float x, float y) {
    if (x < l || x >= r || y < t || y >= b) return false;
    const bool left = x<l + radius, right = x> r - radius;
    const bool top = y<t + radius, bottom = y> b - radius;
    unsigned corner = 0;
    if (top && left) corner = kTL;
    if (top && right) corner = kTR;
    if (bottom && left) corner = kBL;
    if (bottom && right) corner = kBR;
    if ((corners & corner) == 0) return true;
    const float cx = left ? l + radius : r - radius, cy = top ? t + radius : b - radius;
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  };
}
Shape Box(float l, float t, float r, float b) {
  return RoundRect(l, t, r, b, 0);
}
// The band `thickness` wide inside the rounded rectangle's edge.
Shape Ring(float l, float t, float r, float b, float radius, float thickness,
           unsigned corners = kAll) {
  const Shape outer = RoundRect(l, t, r, b, radius, corners);
  const Shape inner = RoundRect(l + thickness, t + thickness, r - thickness, b - thickness,
                                std::max(radius - thickness, 0.f), corners);
  return [=](float x, float y) { return outer(x, y) && !inner(x, y); };
}
Shape Disc(float cx, float cy, float radius) {
  return [=](float x, float y) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  };
}
// A stroke along the polyline, `width` wide with round ends.
Shape Stroke(std::vector<std::pair<float, float>> points, float width) {
  return [points = std::move(points), half = width / 2](float x, float y) {
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const auto [x0, y0] = points[i];
      const auto [x1, y1] = points[i + 1];
      const float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
      float t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
      t = std::clamp(t, 0.f, 1.f);
      const float px = x0 + t * dx - x, py = y0 + t * dy - y;
      if (px * px + py * py <= half * half) return true;
    }
    return false;
  };
}
Shape Both(Shape a, Shape b) {
  return [=](float x, float y) { return a(x, y) && b(x, y); };
}
Shape Minus(Shape a, Shape b) {
  return [=](float x, float y) { return a(x, y) && !b(x, y); };
}

struct Rgb {
  float r = 0, g = 0, b = 0;
};
Rgb ToRgb(std::uint32_t c) {
  return {float(c >> 16 & 255), float(c >> 8 & 255), float(c & 255)};
}
using Paint = std::function<Rgb(int x, int y)>;
Paint Solid(std::uint32_t c) {
  return [rgb = ToRgb(c)](int, int) { return rgb; };
}
float Coverage(const Shape& s, int x, int y) {
  int n = 0;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      if (s(float(x) + (float(i) + 0.5f) / 4, float(y) + (float(j) + 0.5f) / 4)) ++n;
  return float(n) / 16;
}

// One picture being painted: colour and coverage per pixel, and the body (the part of the
// control the picture belongs to; what lies outside it becomes the transparent colour).
class Frame {
 public:
  Frame(int w, int h) : w_(w), h_(h), px_(std::size_t(w * h)) {}
  [[nodiscard]] int W() const { return w_; }
  [[nodiscard]] int H() const { return h_; }

  Frame& Body(const Shape& s) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) At(x, y).body = std::max(At(x, y).body, Coverage(s, x, y));
    return *this;
  }
  Frame& Fill(const Shape& s, const Paint& paint, float opacity = 1) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const float a = Coverage(s, x, y) * opacity;
        if (a <= 0) continue;
        Px& p = At(x, y);
        const Rgb c = paint(x, y);
        const float out = a + p.a * (1 - a);
        p.c.r = (c.r * a + p.c.r * p.a * (1 - a)) / out;
        p.c.g = (c.g * a + p.c.g * p.a * (1 - a)) / out;
        p.c.b = (c.b * a + p.c.b * p.a * (1 - a)) / out;
        p.a = out;
      }
    return *this;
  }
  Frame& Fill(const Shape& s, std::uint32_t color, float opacity = 1) {
    return Fill(s, Solid(color), opacity);
  }

  // The image pixel and its mask value: painted pixels keep their colour with the mask
  // saying how much of what lies below shows; unpainted body pixels show what lies below;
  // pixels outside the body are fuchsia.
  [[nodiscard]] std::pair<COLORREF, std::uint8_t> Out(int x, int y) const {
    const Px& p = px_[std::size_t(y * w_ + x)];
    const int mask = int(std::lround(255 * (1 - p.a)));
    if (mask < 255) {
      const auto byte = [](float v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
      return {RGB(byte(p.c.r), byte(p.c.g), byte(p.c.b)), std::uint8_t(mask)};
    }
    return {p.body > 0 ? Ref(kWhite) : kFuchsia, 255};
  }
  // The picture flattened over a backdrop colour, pixels under half covered (and outside
  // the body) becoming fuchsia: for glyphs whose transparency is one exact colour.
  [[nodiscard]] Bitmap Flat(std::uint32_t backdrop) const {
    Bitmap b(w_, h_);
    const Rgb under = ToRgb(backdrop);
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const Px& p = px_[std::size_t(y * w_ + x)];
        if (p.a < 0.5f) {
          b.SetPixel(x, y, kFuchsia);
          continue;
        }
        const auto mix = [&](float c, float u) {
          return std::uint8_t(std::clamp(std::lround(c * p.a + u * (1 - p.a)), 0L, 255L));
        };
        b.SetPixel(x, y, RGB(mix(p.c.r, under.r), mix(p.c.g, under.g), mix(p.c.b, under.b)));
      }
    return b;
  }

 private:
  struct Px {
    Rgb c;
    float a = 0;
    float body = 0;
  };
  Px& At(int x, int y) { return px_[std::size_t(y * w_ + x)]; }
  int w_, h_;
  std::vector<Px> px_;
};

// The engine's three-state layout: frames normal, hot and pressed side by side, the image
// above and its mask (grey) below.
Bitmap ThreeState(const std::array<Frame, 3>& frames) {
  const int w = frames[0].W(), h = frames[0].H();
  Bitmap b(3 * w, 2 * h);
  for (int n = 0; n < 3; ++n)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const auto [color, mask] = frames[std::size_t(n)].Out(x, y);
        b.SetPixel(n * w + x, y, color);
        b.SetPixel(n * w + x, h + y, RGB(mask, mask, mask));
      }
  return b;
}

template <class Draw>
Bitmap ThreeState(int w, int h, Draw draw) {
  std::array<Frame, 3> frames{Frame(w, h), Frame(w, h), Frame(w, h)};
  for (int n = 0; n < 3; ++n) draw(frames[std::size_t(n)], n);
  return ThreeState(frames);
}

// A borders mask of cells `cw` x `ch`: a rounded outline `thickness` wide in the colour of
// each state, the inside left to the section's background.
Bitmap Outline(int cw, int ch, float radius, float thickness, std::array<std::uint32_t, 3> colors,
               unsigned corners = kAll) {
  const int w = 3 * cw, h = 3 * ch;
  return ThreeState(w, h, [&](Frame& f, int n) {
    f.Body(RoundRect(0, 0, float(w), float(h), radius, corners));
    f.Fill(Ring(0, 0, float(w), float(h), radius, thickness, corners), colors[std::size_t(n)]);
  });
}

// ---- The skin's pictures ------------------------------------------------------------------

// The window frame: a dark outline and a band of the title's colour, the top corners round.
Bitmap FormBorder() {
  return ThreeState(24, 24, [](Frame& f, int n) {
    const bool active = n > 0;
    f.Body(RoundRect(0, 0, 24, 24, 6, kTop));
    f.Fill(Minus(RoundRect(0, 0, 24, 24, 6, kTop), Box(4, 4, 20, 20)),
           active ? kTitleBottom : kTitleInactive);
    f.Fill(Ring(0, 0, 24, 24, 6, 1, kTop), active ? kOutline : kOutlineInactive);
  });
}

// The title band's frame: outline on three sides, a light line under the top edge and a
// separator along the bottom; its top corners also shape the window.
Bitmap TitleBorder() {
  return ThreeState(24, 24, [](Frame& f, int n) {
    const bool active = n > 0;
    f.Body(RoundRect(0, 0, 24, 40, 6, kTop));
    f.Fill(Ring(0, 0, 24, 40, 6, 1, kTop), active ? kOutline : kOutlineInactive);
    f.Fill(Both(Ring(1, 1, 23, 40, 5, 1, kTop), Box(0, 0, 24, 2)), kWhite, 0.6f);
    f.Fill(Box(1, 23, 23, 24), active ? kFaceBorder : kPanelBorder);
  });
}

// The backing behind the caption buttons.
Bitmap TitleBar() {
  return ThreeState(18, 21, [](Frame& f, int n) {
    const float k = n > 0 ? 1.f : 0.6f;
    const Shape back = RoundRect(0, 3, 18, 20, 4);
    f.Body(back);
    f.Fill(back, kThumb, 0.35f * k);
    f.Fill(Ring(0, 3, 18, 20, 4, 1), kFieldBorder, 0.7f * k);
  });
}

enum class Caption { Close, Min, Max, Norm, Help };

// A caption button: the symbol alone, on a light accent face when hot, on the accent when
// pressed; the close button turns red with a white cross.
Bitmap CaptionGlyph(Caption kind) {
  return ThreeState(21, 17, [kind](Frame& f, int n) {
    const bool close = kind == Caption::Close;
    const Shape face = RoundRect(1, 0, 20, 17, 3);
    std::uint32_t symbol = kText;
    if (n > 0) {
      f.Fill(face, close ? (n == 1 ? kClose : kClosePressed) : (n == 1 ? kAccentLight : kAccent));
      if (!close) f.Fill(Ring(1, 0, 20, 17, 3, 1), n == 1 ? kAccent : kAccentPressed);
      if (close) symbol = kWhite;
    }
    // The symbol lives in the 9 x 9 box at (6, 4).
    const float l = 6, t = 4;
    switch (kind) {
      case Caption::Close:
        f.Fill(Stroke({{l + 1, t + 1}, {l + 8, t + 8}}, 1.6f), symbol);
        f.Fill(Stroke({{l + 8, t + 1}, {l + 1, t + 8}}, 1.6f), symbol);
        break;
      case Caption::Min:
        f.Fill(Box(l + 1, t + 7, l + 8, t + 9), symbol);
        break;
      case Caption::Max:
        f.Fill(Ring(l, t, l + 9, t + 9, 0, 1), symbol);
        f.Fill(Box(l, t, l + 9, t + 2), symbol);
        break;
      case Caption::Norm:
        f.Fill(Ring(l + 2, t, l + 9, t + 7, 0, 1), symbol);
        f.Fill(Box(l + 2, t, l + 9, t + 2), symbol);
        f.Fill(Box(l, t + 2, l + 7, t + 9), n == 0 ? kTitleTop : (close ? kClose : kAccentLight));
        f.Fill(Ring(l, t + 2, l + 7, t + 9, 0, 1), symbol);
        f.Fill(Box(l, t + 2, l + 7, t + 4), symbol);
        break;
      case Caption::Help:
        f.Fill(Stroke({{l + 2, t + 2.5f},
                       {l + 3, t + 1},
                       {l + 4.5f, t + 0.6f},
                       {l + 6, t + 1},
                       {l + 7, t + 2.5f},
                       {l + 6.2f, t + 4},
                       {l + 4.5f, t + 5},
                       {l + 4.5f, t + 6}},
                      1.5f),
               symbol);
        f.Fill(Disc(l + 4.5f, t + 8.2f, 0.9f), symbol);
        break;
    }
  });
}

enum class Arrow { Left, Right, Up, Down };

// A scroll-button arrow: a chevron in a 9 x 9 frame, darker when hot or pressed.
Bitmap ArrowGlyph(Arrow dir) {
  return ThreeState(9, 9, [dir](Frame& f, int n) {
    std::vector<std::pair<float, float>> p;
    switch (dir) {
      case Arrow::Left:
        p = {{5.8f, 1.5f}, {2.8f, 4.5f}, {5.8f, 7.5f}};
        break;
      case Arrow::Right:
        p = {{3.2f, 1.5f}, {6.2f, 4.5f}, {3.2f, 7.5f}};
        break;
      case Arrow::Up:
        p = {{1.5f, 5.8f}, {4.5f, 2.8f}, {7.5f, 5.8f}};
        break;
      case Arrow::Down:
        p = {{1.5f, 3.2f}, {4.5f, 6.2f}, {7.5f, 3.2f}};
        break;
    }
    f.Fill(Stroke(p, 1.7f), n == 0 ? kGlyph : kText);
  });
}

// The thumb's grip: three short ridges across it.
Bitmap ThumbGlyph(bool vertical) {
  return ThreeState(8, 8, [vertical](Frame& f, int n) {
    for (int i = 0; i < 3; ++i) {
      const float a = 1.5f + 2.f * float(i);
      f.Fill(vertical ? Box(1.5f, a, 6.5f, a + 1) : Box(a, 1.5f, a + 1, 6.5f),
             n == 0 ? kThumbRidge : kWhite);
    }
  });
}

// The size grip: dots in the bottom right cell, everything else the section's background.
Bitmap GripBorder() {
  return ThreeState(30, 30, [](Frame& f, int) {
    f.Body(Box(0, 0, 30, 30));
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        if (i + j < 2) continue;
        const float x = 21 + 3.f * float(i), y = 21 + 3.f * float(j);
        f.Fill(Box(x + 1, y + 1, x + 2, y + 2), kWhite);
        f.Fill(Box(x, y, x + 1, y + 1), kThumbRidge);
      }
  });
}

// The menu bar: a separator line along its bottom.
Bitmap MenuLineBorder() {
  return ThreeState(12, 12, [](Frame& f, int) {
    f.Body(Box(0, 0, 12, 12));
    f.Fill(Box(0, 11, 12, 12), kPanelBorder);
    f.Fill(Box(0, 10, 12, 11), kWhite, 0.7f);
  });
}

// A highlighted menu item: a rounded accent outline when hot, nothing when normal.
Bitmap MenuItemBorder() {
  return ThreeState(12, 12, [](Frame& f, int n) {
    f.Body(RoundRect(0, 0, 12, 12, 3));
    if (n > 0) f.Fill(Ring(0, 0, 12, 12, 3, 1), n == 1 ? kAccent : kAccentPressed);
  });
}

// A check box (16 x 16) or radio button (14 x 14) in a state: 0 normal, 1 hot, 2 pressed.
void DrawCheck(Frame& f, bool radio, bool checked, int state) {
  const float s = float(f.W());
  const Shape box = radio ? Disc(s / 2, s / 2, s / 2 - 0.5f) : RoundRect(1, 1, s - 1, s - 1, 3);
  const Shape ring =
      radio ? Minus(box, Disc(s / 2, s / 2, s / 2 - 1.5f)) : Ring(1, 1, s - 1, s - 1, 3, 1);
  f.Body(box);
  f.Fill(box, state == 2 ? kAccentLight : kField);
  f.Fill(ring, state == 0 ? kFieldBorder : (state == 1 ? kAccent : kAccentPressed));
  if (!checked) return;
  const std::uint32_t mark = state == 2 ? kAccentPressed : kAccent;
  if (radio)
    f.Fill(Disc(s / 2, s / 2, 3), mark);
  else
    f.Fill(Stroke({{4.5f, 8.f}, {7.f, 10.5f}, {11.5f, 5.5f}}, 2.f), mark);
}

Bitmap CheckGlyph(bool radio, bool checked) {
  return ThreeState(radio ? 14 : 16, radio ? 14 : 16,
                    [&](Frame& f, int n) { DrawCheck(f, radio, checked, n); });
}

// The built-in check glyphs: one picture each, fuchsia around it (its bottom-left pixel).
Bitmap BuiltinCheck(bool radio, bool checked, bool hot) {
  Frame f(radio ? 14 : 16, radio ? 14 : 16);
  DrawCheck(f, radio, checked, hot ? 1 : 0);
  return f.Flat(kBgTop);
}

// A raised (or, pressed, lowered) square frame with an inner light and shade line.
Bitmap Bevelled(int cell) {
  const int w = 3 * cell;
  return ThreeState(w, w, [w](Frame& f, int n) {
    const float e = float(w);
    f.Body(Box(0, 0, e, e));
    const bool lowered = n == 2;
    f.Fill(Minus(Box(1, 1, e - 1, e - 1), Box(2, 2, e - 1, e - 1)), lowered ? kFaceShade : kWhite);
    f.Fill(Minus(Box(1, 1, e - 1, e - 1), Box(1, 1, e - 2, e - 2)), lowered ? kWhite : kFaceShade);
    f.Fill(Ring(0, 0, e, e, 0, 1), n == 0 ? kFaceBorder : (n == 1 ? kAccent : kAccentPressed));
  });
}

// A sunken field: outline with a faint shade under its top edge. `shadeOnlyAtRest`: the
// hot and pressed frames have the outline alone (an edit's focused field stays clean).
Bitmap Sunken(int cell, bool shadeOnlyAtRest = false) {
  const int w = 3 * cell;
  return ThreeState(w, w, [w, shadeOnlyAtRest](Frame& f, int n) {
    const float e = float(w);
    f.Body(RoundRect(0, 0, e, e, 2));
    if (n == 0 || !shadeOnlyAtRest) f.Fill(Box(1, 1, e - 1, 2), kFaceBottom);
    f.Fill(Ring(0, 0, e, e, 2, 1), n == 0 ? kFieldBorder : (n == 1 ? kAccent : kAccentPressed));
  });
}

// A wide pill with an inner glow.
Bitmap Pill() {
  return ThreeState(150, 48, [](Frame& f, int n) {
    f.Body(RoundRect(0, 0, 150, 48, 14));
    f.Fill(Ring(1, 1, 149, 47, 13, 1), n == 0 ? kWhite : kAccentLight, 0.9f);
    f.Fill(Ring(0, 0, 150, 48, 14, 1), n == 0 ? kFaceBorder : (n == 1 ? kAccent : kAccentPressed));
  });
}

// The window's background texture: a faint weave around the middle of its gradient.
Bitmap Weave() {
  constexpr int kSize = 96;
  Bitmap b(kSize, kSize);
  const Rgb base = ToRgb(0xE3E8EE);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
      h = (h ^ (h >> 13)) * 0x5BD1E995u;
      const float noise = float((h >> 8) & 15) - 7.5f;
      // Two crossing triangle waves of period 8 (integers, so every machine agrees).
      const int u = std::abs(((x + y) & 7) - 4) - 2, v = std::abs(((x - y + kSize) & 7) - 4) - 2;
      const float weave = 1.5f * float(u * v);
      const auto c = [&](float v) {
        return std::uint8_t(std::clamp(std::lround(v + weave + noise), 0L, 255L));
      };
      b.SetPixel(x, y, RGB(c(base.r), c(base.g), c(base.b)));
    }
  return b;
}

// ---- Options.dat --------------------------------------------------------------------------

// A colour as Options.dat stores it: the decimal of 0x00BBGGRR.
std::string Col(std::uint32_t rgb) {
  return std::to_string(Ref(rgb));
}
std::string Grad(std::uint32_t top, std::uint32_t bottom) {
  return Col(top) + ";" + Col(bottom) + ";100;0;0";
}

struct Section {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Keys;
  ArtSwatch Swatch;  // Section empty: not shown
};

std::vector<std::uint8_t> EncodeBmp(const Bitmap& b) {
  std::set<COLORREF> colors;
  for (int y = 0; y < b.Height() && colors.size() <= 256; ++y)
    for (int x = 0; x < b.Width(); ++x) colors.insert(b.Pixel(x, y));
  BmpWriteOptions options;
  options.BitsPerPixel = colors.size() <= 256 ? 8 : 24;
  return SaveBmp(b, options);
}

COLORREF Over(std::uint32_t top, std::uint32_t under, int transparency) {
  const Rgb a = ToRgb(top), b = ToRgb(under);
  const float k = float(transparency) / 100;
  const auto m = [k](float x, float y) { return std::uint8_t(std::lround(x + (y - x) * k)); };
  return RGB(m(a.r, b.r), m(a.g, b.g), m(a.b, b.b));
}

}  // namespace

Art MakeArt() {
  Art art;
  const std::string dir = std::string(kSkinFolder) + "/";
  std::vector<Section> sections;
  std::vector<ArtFile> images;
  std::set<std::string> written;

  const auto image = [&](const std::string& file, const Bitmap& b) {
    if (written.insert(file).second) {
      images.push_back({dir + file, EncodeBmp(b)});
      art.Images.push_back({file, b});
    }
    return file;
  };
  const auto swatch = [](const std::string& name, std::uint32_t top, std::uint32_t bottom,
                         std::uint32_t text, std::uint32_t hotTop, std::uint32_t hotBottom,
                         std::uint32_t hotText) {
    return ArtSwatch{name,        Ref(top),       Ref(bottom), Ref(text),
                     Ref(hotTop), Ref(hotBottom), Ref(hotText)};
  };
  // Plain colours, or a gradient from top to bottom, normal and hot.
  const auto colors = [](std::uint32_t color, std::uint32_t top, std::uint32_t bottom,
                         std::uint32_t hot, std::uint32_t hotTop, std::uint32_t hotBottom) {
    std::vector<std::pair<std::string, std::string>> k{{"PaintingColor", Col(color)}};
    if (top != bottom) {
      k.push_back({"GradientData", Grad(top, bottom)});
      k.push_back({"GradientPercent", "100"});
    }
    k.push_back({"HotPaintingColor", Col(hot)});
    if (hotTop != hotBottom) {
      k.push_back({"HotGradientData", Grad(hotTop, hotBottom)});
      k.push_back({"HotGradientPercent", "100"});
    }
    return k;
  };
  const auto text = [](std::uint32_t normal, std::uint32_t hot) {
    return std::vector<std::pair<std::string, std::string>>{{"FONTCOLOR", Col(normal)},
                                                            {"HOTFONTCOLOR", Col(hot)}};
  };
  const auto join = [](std::vector<std::pair<std::string, std::string>> a,
                       const std::vector<std::pair<std::string, std::string>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };

  // The window: gradient with a faint texture, normal and hot alike (the main window is
  // painted hot), frame, title bar and caption buttons.
  const std::string weave = "FormBack.jpg";
  sections.push_back({"FORM",
                      join(text(kText, kText),
                           {{"PaintingColor", Col(kBgBottom)},
                            {"GradientData", Grad(kBgTop, kBgBottom)},
                            {"GradientPercent", "85"},
                            {"ImagePercent", "15"},
                            {"IMAGEFILE", weave},
                            {"HotPaintingColor", Col(kBgBottom)},
                            {"HotGradientData", Grad(kBgTop, kBgBottom)},
                            {"HotGradientPercent", "85"},
                            {"HotImagePercent", "15"},
                            {"HOTIMAGEFILE", weave},
                            {"RESERVEDBOOLEAN", "TRUE"},
                            {"BORDERSMASK", image("FormBorder.bmp", FormBorder())},
                            {"TITLEBAR", image("TitleBar.bmp", TitleBar())},
                            {"BICONCLOSE", image("CapClose.bmp", CaptionGlyph(Caption::Close))},
                            {"BICONMIN", image("CapMin.bmp", CaptionGlyph(Caption::Min))},
                            {"BICONMAX", image("CapMax.bmp", CaptionGlyph(Caption::Max))},
                            {"BICONNORM", image("CapNorm.bmp", CaptionGlyph(Caption::Norm))},
                            {"BICONHELP", image("CapHelp.bmp", CaptionGlyph(Caption::Help))}}),
                      swatch("FORM", kBgTop, kBgBottom, kText, kBgTop, kBgBottom, kText)});
  // Normal is the inactive title, hot the active one.
  sections.push_back({"FORMTITLE",
                      join(join(colors(kTitleBottom, kTitleTop, kTitleBottom, kTitleBottom,
                                       kTitleTop, kTitleBottom),
                                text(kTextInactive, kText)),
                           {{"HOTTCBOTTOM", Col(0xE9EDF2)},
                            {"BORDERSMASK", image("TitleBorder.bmp", TitleBorder())}}),
                      swatch("FORMTITLE", kTitleTop, kTitleBottom, kTextInactive, kTitleTop,
                             kTitleBottom, kText)});
  sections.push_back(
      {"TsPanel",
       join(
           join(colors(kWhite, 0, 0, kWhite, 0, 0), text(kText, kText)),
           {{"PaintingTransparency", "40"},
            {"HotPaintingTransparency", "40"},
            {"BORDERSMASK",
             image("Panel.bmp", Outline(6, 6, 6, 1, {kPanelBorder, kPanelBorder, kPanelBorder}))}}),
       swatch("TsPanel", Over(kWhite, kBgTop, 40), Over(kWhite, kBgBottom, 40), kText,
              Over(kWhite, kBgTop, 40), Over(kWhite, kBgBottom, 40), kText)});
  const auto face =
      colors(kFaceBottom, kFaceTop, kFaceBottom, kAccentLight, kAccentPale, kAccentLight);
  sections.push_back(
      {"TsButton",
       join(join(face, text(kText, kText)),
            {{"ShowFocus", "TRUE"},
             {"FadingEnabled", "TRUE"},
             {"FadingIntervalIn", "10"},
             {"FadingIntervalOut", "10"},
             {"FadingIterations", "5"},
             {"BORDERSMASK",
              image("Button.bmp", Outline(6, 6, 4, 1, {kFaceBorder, kAccent, kAccentPressed}))}}),
       swatch("TsButton", kFaceTop, kFaceBottom, kText, kAccentPale, kAccentLight, kText)});
  sections.push_back({"TsEdit",
                      join(join(colors(kField, 0, 0, kField, 0, 0), text(kText, kText)),
                           // Focused: the field stays white; the mask's hot frame is
                           // the accent border.
                           {{"SelectionColor", Col(kField)},
                            {"SelectionBorderBevel", "0"},
                            {"SelectionBorderWidth", "1"},
                            {"BORDERSMASK", image("Edit.bmp", Sunken(4, true))}}),
                      swatch("TsEdit", kField, kField, kText, kField, kField, kText)});
  // Scroll bars: the tracks share one section's values.
  sections.push_back({"SCROLLBAR1H",
                      join(colors(kTrack, 0, 0, kTrackHot, 0, 0), text(kText, kText)),
                      swatch("SCROLLBAR1H", kTrack, kTrack, kText, kTrackHot, kTrackHot, kText)});
  for (const char* name : {"SCROLLBAR2H", "SCROLLBAR1V", "SCROLLBAR2V"})
    sections.push_back({name, {{"ParentClassName", "SCROLLBAR1H"}}, {}});
  sections.push_back(
      {"SCROLLBTNLEFT",
       join(join(face, text(kText, kText)),
            {{"BORDERSMASK",
              image("ScrollBtn.bmp", Outline(4, 4, 3, 1, {kFaceBorder, kAccent, kAccentPressed}))},
             {"GLYPHMASK", image("ArrowLeft.bmp", ArrowGlyph(Arrow::Left))}}),
       swatch("SCROLLBTNLEFT", kFaceTop, kFaceBottom, kText, kAccentPale, kAccentLight, kText)});
  for (const auto& [name, file, dir_] :
       {std::tuple{"SCROLLBTNRIGHT", "ArrowRight.bmp", Arrow::Right},
        std::tuple{"SCROLLBTNTOP", "ArrowUp.bmp", Arrow::Up},
        std::tuple{"SCROLLBTNBOTTOM", "ArrowDown.bmp", Arrow::Down}})
    sections.push_back(
        {name,
         {{"ParentClassName", "SCROLLBTNLEFT"}, {"GLYPHMASK", image(file, ArrowGlyph(dir_))}},
         {}});
  sections.push_back(
      {"SCROLLSLIDERH",
       join(join(colors(kThumb, 0, 0, kAccent, 0, 0), text(kText, kText)),
            {{"BORDERSMASK",
              image("Thumb.bmp",
                    Outline(4, 4, 3, 1, {kFieldBorder, kAccentPressed, kAccentPressed}))},
             {"GLYPHMASK", image("ThumbGripH.bmp", ThumbGlyph(false))}}),
       swatch("SCROLLSLIDERH", kThumb, kThumb, kText, kAccent, kAccent, kText)});
  sections.push_back({"SCROLLSLIDERV",
                      {{"ParentClassName", "SCROLLSLIDERH"},
                       {"GLYPHMASK", image("ThumbGripV.bmp", ThumbGlyph(true))}},
                      {}});
  sections.push_back({"TSGRIP",
                      join(join(colors(kTrack, 0, 0, kTrack, 0, 0), text(kText, kText)),
                           {{"BORDERSMASK", image("Grip.bmp", GripBorder())}}),
                      swatch("TSGRIP", kTrack, kTrack, kText, kTrack, kTrack, kText)});
  sections.push_back(
      {"MENULINE",
       join(join(colors(kBgTop, kMenuLineTop, kBgTop, kBgTop, kMenuLineTop, kBgTop),
                 text(kText, kText)),
            {{"BORDERSMASK", image("MenuLine.bmp", MenuLineBorder())}}),
       swatch("MENULINE", kMenuLineTop, kBgTop, kText, kMenuLineTop, kBgTop, kText)});
  sections.push_back({"MENUITEM",
                      join(join(colors(kMenu, 0, 0, kAccentLight, 0, 0), text(kText, kText)),
                           {{"PaintingTransparency", "100"},
                            {"HotPaintingTransparency", "0"},
                            {"BORDERSMASK", image("MenuItem.bmp", MenuItemBorder())}}),
                      swatch("MENUITEM", kMenu, kMenu, kText, kAccentLight, kAccentLight, kText)});
  sections.push_back(
      {"MAINMENU",
       join(join(colors(kMenu, 0, 0, kMenu, 0, 0), text(kText, kText)),
            {{"BORDERSMASK",
              image("Menu.bmp", Outline(4, 4, 0, 1, {kPanelBorder, kPanelBorder, kPanelBorder}))}}),
       swatch("MAINMENU", kMenu, kMenu, kText, kMenu, kMenu, kText)});
  sections.push_back({"MDIAREA", join(colors(kBgBottom, 0, 0, kBgBottom, 0, 0), text(kText, kText)),
                      swatch("MDIAREA", kBgBottom, kBgBottom, kText, kBgBottom, kBgBottom, kText)});
  for (const bool radio : {false, true}) {
    const std::string name = radio ? "TsRadioButton" : "TsCheckBox";
    const std::string stem = radio ? "Radio" : "Check";
    sections.push_back(
        {name,
         join(join(colors(kBgTop, 0, 0, kBgTop, 0, 0), text(kText, kText)),
              {{"PaintingTransparency", "100"},
               {"HotPaintingTransparency", "100"},
               {"GLYPHCHECKED", image(stem + "On.bmp", CheckGlyph(radio, true))},
               {"GLYPHUNCHECKED", image(stem + "Off.bmp", CheckGlyph(radio, false))}}),
         swatch(name, kBgTop, kBgBottom, kText, kBgTop, kBgBottom, kText)});
  }

  std::string options;
  for (const Section& s : sections) {
    options += "[" + s.Name + "]\n";
    for (const auto& [key, value] : s.Keys) options += key + "=" + value + "\n";
    options += "\n";
    if (!s.Swatch.Section.empty()) art.Swatches.push_back(s.Swatch);
  }
  art.Files.push_back(
      {dir + "Options.dat", std::vector<std::uint8_t>(options.begin(), options.end())});
  const Bitmap back = Weave();
  art.Files.push_back({dir + weave, SaveJpeg(back, 90)});
  art.Images.push_back({weave, back});
  for (ArtFile& f : images) art.Files.push_back(std::move(f));

  // The built-in bitmaps.
  const auto builtin = [&](const std::string& name, const Bitmap& b) {
    art.Files.push_back({std::string(kBuiltinFolder) + "/" + name + ".bmp", EncodeBmp(b)});
    art.Images.push_back({name, b});
  };
  builtin("BORD1", Outline(10, 10, 6, 1, {kFaceBorder, kAccent, kAccentPressed}));
  builtin("BORD2", Outline(10, 10, 8, 2, {kFieldBorder, kAccent, kAccentPressed}));
  builtin("BORD3", Bevelled(10));
  builtin("BORD4", Sunken(10));
  builtin("BORD5", Outline(6, 6, 3, 1, {kFaceBorder, kAccent, kAccentPressed}));
  builtin("BORD6", Pill());
  for (const bool radio : {true, false})
    for (const bool hot : {false, true})
      for (const bool checked : {true, false}) {
        std::string name = radio ? "R" : "C";
        name += checked ? "C" : "U";
        name += hot ? "H" : "C";
        builtin(name, BuiltinCheck(radio, checked, hot));
      }
  return art;
}

Bitmap ContactSheet(const Art& art) {
  constexpr int kWidth = 1300, kGap = 14, kLabel = 14;
  const auto scale = [](const Bitmap& b) {
    return b.Width() <= 40 && b.Height() <= 40
               ? 4
               : (b.Width() <= 100 ? 3 : (b.Width() <= 200 ? 2 : 1));
  };
  // Lay out first, then paint.
  struct Place {
    int x, y, k;
  };
  std::vector<Place> places;
  const Bitmap scene = PreviewScene(art);
  int x = kGap, y = 2 * kGap + scene.Height() * 2, rowHeight = 0;
  for (const ArtImage& im : art.Images) {
    const int k = scale(im.Image);
    const int w = std::max(im.Image.Width() * k, int(im.Name.size()) * 6),
              h = im.Image.Height() * k + kLabel;
    if (x + w > kWidth - kGap) {
      x = kGap;
      y += rowHeight + kGap;
      rowHeight = 0;
    }
    places.push_back({x, y, k});
    x += w + kGap;
    rowHeight = std::max(rowHeight, h);
  }
  y += rowHeight + 2 * kGap;
  const int swatchTop = y, swatchW = 170, swatchH = 26;
  const int perRow = (kWidth - kGap) / (2 * swatchW + 2 * kGap);
  const int rows = (int(art.Swatches.size()) + perRow - 1) / perRow;
  Bitmap sheet(kWidth, swatchTop + rows * (swatchH + kLabel + kGap) + kGap);
  sheet.Fill(Ref(0x9EA7B3));
  DC dc(&sheet);
  Font font;
  font.Name = std::string(kBuiltinFontName);
  dc.SelectFont(font);
  dc.SetBkMode(TRANSPARENT);
  for (int yy = 0; yy < scene.Height() * 2; ++yy)
    for (int xx = 0; xx < scene.Width() * 2; ++xx)
      sheet.SetPixel(kGap + xx, kGap + yy, scene.Pixel(xx / 2, yy / 2));
  for (int yy = 0; yy < scene.Height(); ++yy)
    for (int xx = 0; xx < scene.Width(); ++xx)
      sheet.SetPixel(2 * kGap + 2 * scene.Width() + xx, kGap + yy, scene.Pixel(xx, yy));
  for (std::size_t i = 0; i < art.Images.size(); ++i) {
    const Bitmap& b = art.Images[i].Image;
    const Place p = places[i];
    for (int yy = 0; yy < b.Height() * p.k; ++yy)
      for (int xx = 0; xx < b.Width() * p.k; ++xx)
        sheet.SetPixel(p.x + xx, p.y + kLabel + yy, b.Pixel(xx / p.k, yy / p.k));
    dc.SetTextColor(0x000000);
    dc.TextOut(p.x, p.y, art.Images[i].Name + (p.k > 1 ? " x" + std::to_string(p.k) : ""));
  }
  // Each section's background with its text, normal and hot.
  for (std::size_t i = 0; i < art.Swatches.size(); ++i) {
    const ArtSwatch& s = art.Swatches[i];
    const int sx = kGap + int(i % std::size_t(perRow)) * (2 * swatchW + 2 * kGap);
    const int sy = swatchTop + int(i / std::size_t(perRow)) * (swatchH + kLabel + kGap);
    dc.SetTextColor(0x000000);
    dc.TextOut(sx, sy, s.Section + "  normal / hot");
    for (int hot = 0; hot < 2; ++hot) {
      const int bx = sx + hot * (swatchW + 4);
      const COLORREF top = hot ? s.HotTop : s.Top, bottom = hot ? s.HotBottom : s.Bottom;
      for (int yy = 0; yy < swatchH; ++yy) {
        const float k = float(yy) / float(swatchH - 1);
        const auto m = [k](int a, int b) {
          return std::uint8_t(std::lround(float(a) + float(b - a) * k));
        };
        const COLORREF c =
            RGB(m(GetRValue(top), GetRValue(bottom)), m(GetGValue(top), GetGValue(bottom)),
                m(GetBValue(top), GetBValue(bottom)));
        for (int xx = 0; xx < swatchW; ++xx) sheet.SetPixel(bx + xx, sy + kLabel + yy, c);
      }
      dc.SetTextColor(hot ? s.HotText : s.Text);
      dc.TextOut(bx + 6, sy + kLabel + 7, "Artist : Ripped 12/14");
    }
  }
  return sheet;
}

}  // namespace qv::skingen
