#include "skin/scheckglyphs.h"

#include "skin/sbordermasks.h"
#include "skin/scontrolutils.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"

namespace qv {

namespace {

// The skin's glyph image for the state, null when the skin has none.
const Bitmap* SkinGlyph(const TsCheckedControlState& c, bool checked) {
  if (!IsValidSkinIndex(c.SkinIndex)) return nullptr;
  const int i =
      GetMaskIndex(c.SkinIndex, c.SkinSection, checked ? "GLYPHCHECKED" : "GLYPHUNCHECKED");
  return IsValidImgIndex(i) ? &SkinMasks[std::size_t(i)].Bmp->Image() : nullptr;
}

const Bitmap* BuiltinGlyph(const TsCheckedControlState& c) {
  const bool radio = c.KindCode == kKindRadioButton;
  std::string name = radio ? "R" : "C";
  name += c.Checked ? "C" : "U";
  name += c.Hot ? "H" : "C";
  return BuiltinImage(name);
}

Size GlyphSize(const TsCheckedControlState& c) {
  const Bitmap* framed = SkinGlyph(c, true);
  if (framed == nullptr) framed = c.GlyphChecked;
  if (framed != nullptr && framed->Width() > 0) return {framed->Width() / 3, framed->Height() / 2};
  if (c.Images != nullptr) return {c.Images->Width, c.Images->Height};
  const Bitmap* b = nullptr;
  if (c.KindCode == kKindCheckBox) {
    b = BuiltinImage("CCC");
    if (b != nullptr && b->Width() == 18) return {14, 14};
  } else if (c.KindCode == kKindRadioButton) {
    b = BuiltinImage("RCC");
  }
  return b != nullptr ? Size{b->Width(), b->Height()} : Size{14, 14};
}

// Copies the state frame of a three-frame glyph into r of the cache through its mask.
void CopyFrame(const TsCheckedControlState& c, const Bitmap& glyph, Bitmap& cache, const Rect& r) {
  const int fw = glyph.Width() / 3, fh = glyph.Height() / 2;
  const int frame = c.Pressed ? 2 : c.Hot ? 1 : 0;
  CopyByMask(r, Rect{frame * fw, 0, frame * fw + fw, fh}, cache, DefaultPaintInfo, glyph);
}

void PaintGlyph(const TsCheckedControlState& c, Bitmap& cache, const Rect& r) {
  if (IsValidSkinIndex(c.SkinIndex)) {
    if (const Bitmap* g = SkinGlyph(c, c.Checked)) CopyFrame(c, *g, cache, r);
    return;
  }
  const Bitmap* own = c.Checked ? c.GlyphChecked : c.GlyphUnchecked;
  if (own != nullptr && own->Width() >= 1) {
    CopyFrame(c, *own, cache, r);
    return;
  }
  Bitmap glyph;
  if (c.Images != nullptr) {
    glyph = Bitmap(c.Images->Width, c.Images->Height);
    glyph.Fill(ColorToRGB(c.Images->BkColor == clNone ? clFuchsia : c.Images->BkColor));
    const int index = c.ImageIndex[(c.Hot ? 2 : 0) + (c.Checked ? 0 : 1)];
    if (index >= 0 && std::size_t(index) < c.Images->Images.size()) {
      Bitmap image = c.Images->Images[std::size_t(index)];
      image.SetPixelFormat(PixelFormat::pf24bit);
      CopyBitmapRect(glyph, {0, 0}, image, image.BoundsRect());
    }
  } else if (const Bitmap* b = BuiltinGlyph(c)) {
    glyph = *b;
    glyph.SetPixelFormat(PixelFormat::pf24bit);
  }
  if (glyph.Empty()) return;
  SumBitmapsRect(cache, glyph, r.Left, TColor(glyph.Pixel(0, glyph.Height() - 1)), r.Top);
}

}  // namespace

void GetCheckGlyphRect(const TsCheckedControlState& c, Rect& r) {
  const Size g = GlyphSize(c);
  r.Top = (c.Height - g.cy) / 2;
  r.Bottom = r.Top + g.cy;
  if (c.GlyphRight) {
    r.Left = c.Width - g.cx - 3;
    r.Right = c.Width;
  } else {
    r.Left = 0;
    r.Right = g.cx;
  }
}

void PaintCheckedControl(const TsCheckedControlState& c, TBitmap& cache, DC* canvas) {
  cache.SetPixelFormat(PixelFormat::pf24bit);
  cache.SetSize(c.Width, c.Height);
  Bitmap& image = cache.Image();
  if (image.Empty()) return;
  const bool parentReady = c.ParentBG.Ready && c.ParentBG.Bmp != nullptr;
  if (parentReady)
    DrawShadowAt(c.ParentBG.Bmp->Image(),
                 Bounds(c.ParentBG.OffsetX + c.Position.X, c.ParentBG.OffsetY + c.Position.Y,
                        c.Width, c.Height),
                 image, {0, 0}, 100, clWhite, 0, 0);
  else
    FillBitmapRect(image, image.BoundsRect(), c.PaintingColor);

  Rect glyph;
  GetCheckGlyphRect(c, glyph);
  if (!c.Caption.empty()) {
    Rect text = Rect{0, 0, c.Width, c.Height}.Inflate(-c.Margin, -c.Margin);
    if (c.GlyphRight)
      text.Right -= glyph.Width() + 4;
    else
      text.Left += glyph.Width() + 4;
    unsigned flags = AlignmentFlag(c.Alignment);
    flags |= c.WordWrap ? DT_WORDBREAK : DT_VCENTER | DT_SINGLELINE;
    text.Bottom -= 2;
    TCanvas& cv = cache.Canvas();
    WriteTextEx(cv, c.Caption, true, text, flags);
    if (c.Focused && c.ShowFocus) {
      --text.Bottom;
      text = text.Inflate(1, 1);
      PaintDots(*cv.Handle(), text);
    }
  }
  PaintGlyph(c, image, glyph);
  if (!c.Enabled) PaintDisabledEffect(image, c.DisabledKind, c.ParentColor, c.Position, c.ParentBG);
  if (canvas != nullptr) {
    DC source(&image);
    canvas->BitBlt(0, 0, c.Width, c.Height, source, 0, 0, SRCCOPY);
  }
}

}  // namespace qv
