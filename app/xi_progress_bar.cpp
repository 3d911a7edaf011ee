#include "app/xi_progress_bar.h"

#include <algorithm>
#include <cstdlib>

#include "platform/base/text.h"
#include "platform/gfx/dc.h"

namespace qv {

namespace {

// Border, background face, background gradient, bar face, bar gradient.
struct TSchemeColors {
  TColor Colors[5];
};
const TSchemeColors kSchemes[] = {
    {{0, 0, 0, 0, 0}},  // csCustom: unused
    {{0x005680, 0xC6ECFF, 0xFFFFFF, 0x9BDEFF, 0x007BB7}},
    {{0x156F37, 0xCBF5DC, 0xFFFFFF, 0xC9F5DB, 0x28C162}},
    {{0x6B6B6B, 0xE0E0E0, 0xFFFFFF, 0xF0F0F0, 0xADADAD}},
    {{0xB35900, 0xFFEAD5, 0xFFFFFF, 0xFFEEDD, 0xFFAE5E}},
    {{0x00009D, 0xD7D7FF, 0xFFFFFF, 0xE8E8FF, 0x8080FF}},
    {{0x006464, 0xCEFFFF, 0xFFFFFF, 0xDFFFFF, 0x05BCDC}},
    {{0x000000, 0x005500, 0x008000, 0x91ECAE, 0x00AA00}},
    {{0x000000, 0x804000, 0xA85400, 0xFFCB97, 0xEC7600}},
    {{0x000000, 0x000059, 0x46468C, 0x9F9FF2, 0x4848BB}},
    {{0x000000, 0x464646, 0x6F6F6F, 0xCECECE, 0x737373}},
    {{0x000000, 0x800040, 0xCA0065, 0xFFB7DB, 0xFF3399}},
    {{0x000000, 0x2C5656, 0x3E7B7B, 0xBCDEDE, 0x468E8E}},
};

enum class TAlong { Width, Height };

// Lines k = 0..n across `R`, coloured from A to B in n steps, n being the extent along
// which the colour changes. A rectangle without extent gets A alone.
void GradientFill(DC& Canvas, const Rect& R, TColor A, TColor B, TAlong Along) {
  const int n = Along == TAlong::Height ? R.Height() : R.Width();
  const COLORREF a = ColorToRGB(A), b = ColorToRGB(B);
  for (int k = 0; k <= n; ++k) {
    const auto mix = [&](int ca, int cb) {
      return n == 0 ? ca : ca + int(Round(double(k) * double(cb - ca) / double(n)));
    };
    const TColor c =
        RGB(uint8_t(mix(GetRValue(a), GetRValue(b))), uint8_t(mix(GetGValue(a), GetGValue(b))),
            uint8_t(mix(GetBValue(a), GetBValue(b))));
    const Rect line = Along == TAlong::Height ? Rect{R.Left, R.Top + k, R.Right, R.Top + k + 1}
                                              : Rect{R.Left + k, R.Top, R.Left + k + 1, R.Bottom};
    Canvas.FillRect(line, Brush{BrushStyle::bsSolid, c});
  }
}

void Line(DC& Canvas, int X1, int Y1, int X2, int Y2, COLORREF Color) {
  Canvas.SelectPen(Pen{PenStyle::psSolid, TColor(Color), 1});
  Canvas.MoveTo(X1, Y1);
  Canvas.LineTo(X2, Y2);
}

}  // namespace

TXiProgressBar::TXiProgressBar(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 200, 16);
  SetColorScheme(TColorScheme::csDesert);
}

void TXiProgressBar::SetColorScheme(TColorScheme Value) {
  scheme_ = Value;
  if (Value != TColorScheme::csCustom) {
    const TSchemeColors& s = kSchemes[int(Value)];
    border_ = s.Colors[0];
    backFace_ = s.Colors[1];
    backGrad_ = s.Colors[2];
    foreFace_ = s.Colors[3];
    foreGrad_ = s.Colors[4];
  }
  Invalidate();
}

void TXiProgressBar::SetColor(TColor& Field, TColor Value) {
  Field = Value;
  scheme_ = TColorScheme::csCustom;
  Invalidate();
}

void TXiProgressBar::SetColorBorder(TColor Value) {
  SetColor(border_, Value);
}
void TXiProgressBar::SetBackColorFace(TColor Value) {
  SetColor(backFace_, Value);
}
void TXiProgressBar::SetBackColorGrad(TColor Value) {
  SetColor(backGrad_, Value);
}
void TXiProgressBar::SetForeColorFace(TColor Value) {
  SetColor(foreFace_, Value);
}
void TXiProgressBar::SetForeColorGrad(TColor Value) {
  SetColor(foreGrad_, Value);
}

void TXiProgressBar::SetMin(int Value) {
  if (Value > max_) return;
  min_ = Value;
  Repaint();
}

void TXiProgressBar::SetMax(int Value) {
  if (Value < min_) return;
  max_ = Value;
  Repaint();
}

void TXiProgressBar::SetPosition(int Value) {
  if (Value < min_) return;
  position_ = Value;
  Repaint();
}

void TXiProgressBar::SetStep(int Value) {
  step_ = Value;
  Repaint();
}

void TXiProgressBar::SetOrientation(TProgressBarOrientation Value) {
  orientation_ = Value;
  Invalidate();
}

Bitmap TXiProgressBar::Render() const {
  const int w = Width(), h = Height();
  if (!Visible() || w <= 0 || h <= 0) return {};
  Bitmap picture(w, h);
  DC canvas(&picture);
  // With Min = Max there is no range to show: the bar stays empty. A Min raised above the
  // position gives a negative share, which leaves the bar empty in either direction.
  const double range = std::abs(double(max_) - double(min_));
  const double share = range == 0 ? 0.0 : (double(position_) - double(min_)) / range;
  // A position far outside the range puts the bar's end off the picture; kept just off it,
  // the drawing is the same and the coordinate fits an int.
  const auto pixel = [](double Value, int Extent) {
    return int(Round(std::clamp(Value, -1.0, double(Extent) + 1)));
  };
  if (orientation_ == TProgressBarOrientation::pbHorizontal) {
    const int x = pixel(double(w - 2) * share, w);
    GradientFill(canvas, Rect{1, 1, w - 1, h - 1}, backFace_, backGrad_, TAlong::Height);
    GradientFill(canvas, Rect{0, 0, x, h}, foreFace_, foreGrad_, TAlong::Height);
    Line(canvas, 1, 1, 1, h, canvas.GetPixel(1, 1));
    Line(canvas, x, 1, x, h, canvas.GetPixel(2, h - 2));
  } else {
    const int y = h - pixel(double(h - 2) * share + 1, h);
    GradientFill(canvas, Rect{1, 1, w - 1, h}, backFace_, backGrad_, TAlong::Width);
    GradientFill(canvas, Rect{0, y, w, h}, foreFace_, foreGrad_, TAlong::Width);
    Line(canvas, 0, h - 2, w, h - 2, canvas.GetPixel(2, h - 2));
    Line(canvas, 0, y, w, y, canvas.GetPixel(w - 3, h - 3));
  }
  canvas.SelectPen(Pen{PenStyle::psSolid, border_, 1});
  canvas.SelectBrush(Brush{BrushStyle::bsClear, clWhite});
  canvas.Rectangle(0, 0, w, h);
  return picture;
}

void TXiProgressBar::Paint() {
  Bitmap picture = Render();
  if (picture.Empty()) return;
  DC source(&picture);
  Canvas().Handle()->BitBlt(0, 0, picture.Width(), picture.Height(), source, 0, 0, SRCCOPY);
}

}  // namespace qv
