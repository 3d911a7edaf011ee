// The engine's plain painting routines. They keep no state: each takes the bitmaps,
// rectangles, colours and skin indexes it works on. Pixel work is done on 24-bit bitmaps
// (blue, green, red in a scan line); a bitmap in another format is left alone. Round is to
// the nearest integer with halves to even, and every colour that may be a system colour is
// turned into RGB first.
//
// Every routine clips what it reads and writes to both bitmaps: a rectangle, offset, mask or
// parent background that does not fit only paints the part that lies inside, and pixels
// outside are left as they were.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/classlib/graphics.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/geometry.h"
#include "skin/smessages.h"

namespace qv {

// (s * 256 + (d - s) * m) div 256, the blend of a mask's image pixel s over d: the same sum
// written as s * (256 - m) + d * m, which is never negative.
[[nodiscard]] inline std::uint8_t MaskBlend(unsigned s, unsigned d, unsigned m) {
  return std::uint8_t((s * (256 - m) + d * m) >> 8);
}

// The transparent colour of skin images.
constexpr COLORREF kSkinTransparent = 0xFF00FF;

// The parent background to pass where no parent should show through.
inline constexpr TsBGInfo DefaultPaintInfo{};

// Background and borders -------------------------------------------------------------------

// Paints the background of a skin section into `r` of the target: its image, gradient and
// colour by their percentages, blended with the parent's picture by its transparency.
// `offset` is where the target's (0, 0) lies under the parent's OffsetX and OffsetY; `state`
// 0 takes the normal values, any other the hot ones. Nothing for an invalid skin index.
void PaintItemBG(int skinIndex, const std::string& section, const TsBGInfo& parent, Bitmap& target,
                 Point offset, Rect r, int state);
// PaintItemBG, then the section's "BORDERSMASK" around `r`; nothing unless `r` lies inside
// the target.
void PaintItem(int skinIndex, const std::string& section, const TsBGInfo& parent, Bitmap& target,
               Point offset, Rect r, int state, bool fillCentre);
// PaintItem into a bitmap of r's size, copied to the device context at r's top-left.
// Nothing for an invalid skin index or a negative Left or Top.
void PaintItemBGFast(int skinIndex, const std::string& section, const TsBGInfo& parent, DC& dc,
                     Point offset, Rect r, int state, bool fillCentre);

// One state frame (0 normal, 1 hot, 2 pressed) of a three-state borders mask around `r`:
// corners copied with the parent showing through their fuchsia, edges and (with
// `fillCentre`) the centre tiled from the middle cells. Nothing for a rectangle narrower or
// lower than 2 pixels, or a mask with cells of no size (narrower than 9 or lower than 6).
// `transparent` is the mask's transparent colour; the pieces find it as pure fuchsia.
void DrawSkinRect(Bitmap& target, const Bitmap& mask, int state, const TsBGInfo& parent,
                  bool fillCentre, TColor transparent, Rect r);
// Copies the piece `src` of a mask's image half to `dst` of the target through the mask half:
// channel := (s * 256 + (d - s) * m) div 256. With a ready parent, fuchsia image pixels take
// the parent's pixel under them instead (left alone where the parent has none).
void CopyByMask(Rect dst, Rect src, Bitmap& target, const TsBGInfo& parent, const Bitmap& mask);
// The fuchsia runs of the normal frame's corner cells as one-row rectangles, the right
// corners moved to the right end of a form `formWidth` wide; appended in scan order.
void MaskToRegion(std::vector<Rect>& rects, const Bitmap& mask, int formWidth);

// Blends and effects -----------------------------------------------------------------------

// Source rectangle onto the destination at `at`: dst := Round(src + (dst - src) * k) with
// k = (sum of the colour's three bytes) / 768, so a grey (a, a, a) gives k = a / 256.
void BlendTransRectangle(Bitmap& dst, const Bitmap& src, COLORREF blend, Point at, Rect srcRect);
// Bitmaps of the same size: dst := Round((dst - src) * alpha / 256 + src); nothing otherwise.
void BlendBitmaps(Bitmap& dst, const Bitmap& src, std::uint8_t alpha);
// The same inside `r` only.
void BlendBitmaps(Bitmap& dst, const Bitmap& src, std::uint8_t alpha, Rect r);
// The source rectangle (right and bottom edges included) copied to (x, y) with
// dst := Round(src - (src - dst) * factor); source pixels equal to `transparent` are skipped
// unless its high byte is 0xFF.
void BlendBitmapRect(Bitmap& dst, int x, int y, TColor transparent, double factor, Rect srcRect,
                     const Bitmap& src);
// Channel := (C * 255 + (pixel - C) * m) div 256, m the grey mask's same channel: white keeps
// the picture, black gives C. Nothing when the sizes differ.
void BlendColorByMask(Bitmap& bmp, const Bitmap& mask, TColor color);
// The same with the mask's top-left at (x, y) of the bitmap.
void BlendColorByMaskAt(Bitmap& bmp, const Bitmap& mask, int x, TColor color, int y);
// Tints `r` of the bitmap toward the colour: `percent` of the colour in the core, fading out
// over `blur` pixels at the edge, with corners rounded by `radius`.
void PaintControlFrame(Bitmap& bmp, Rect r, int percent, int radius, int blur, TColor color);
// A soft shadow of the colour over a copy of `r` of the source, put at `at` of the target.
// Transparency 0 is the plain colour, 100 the source unchanged. Shape 0 rounds the corners
// by `radius` + blur, shape 1 keeps them square.
void DrawShadow(const Bitmap& source, Rect r, Bitmap& target, Point at, int transparency,
                TColor color, int blur, int shape, int radius);
void DrawShadowAt(const Bitmap& source, Rect r, Bitmap& target, Point at, int transparency,
                  TColor color, int blur, int shape);
// Each pixel's three channels := (B + G + R) div 3.
void GrayScale(Bitmap& bmp);
// The whole source copied to (x, y), pixels equal to `transparent` skipped.
void SumBitmapsRect(Bitmap& dst, const Bitmap& src, int x, TColor transparent, int y);
// Clips a run of n pixels read from s onward and written from d onward so that the reads
// stay in [0, srcLimit) and the writes in [0, dstLimit); false when nothing is left.
bool ClipAxis(int& s, int& d, int& n, int srcLimit, int dstLimit);
// Fills `r` (right and bottom edges excluded) with the colour.
void FillBitmapRect(Bitmap& bmp, Rect r, TColor color);
// Copies `r` of the source to `at` of the target.
void CopyBitmapRect(Bitmap& target, Point at, const Bitmap& source, Rect r);
// Tiles the graphic over `r` from its top-left, the last column and row cut to `r`.
void TileGraphic(Bitmap& target, Rect r, const Bitmap& graphic);

// Lines, bevels, frames and ticks ----------------------------------------------------------

void DrawLine(DC& dc, Point from, Point to, TColor color);
void FillDC(DC& dc, Rect r, TColor color);
// Per channel Round(c1 - (c1 - c2) * k), at most 255.
[[nodiscard]] TColor MixColors(TColor c1, TColor c2, double k);
// Sides: 0 left, 1 top, 2 right, 3 bottom; `from` and `to` are the side's end points, and
// each further line steps one pixel inward. Every mode draws the lines in the colour.
void DrawSideLines(DC& dc, TColor color, Point from, Point to, int side, int mode, int width);
// Modes: 0 starts white and runs toward `target`; 1 starts black and runs from half the
// colour toward `target`; 2 and 3 draw every line in the colour.
void DrawSideGradient(DC& dc, TColor color, TColor target, int side, int mode, int width,
                      Point from, Point to);
// Kinds: 0 raised, 1 lowered, 2 all sides in the top-left colour, 3 all in the bottom-right.
void PaintRectBevel(DC& dc, TColor topLeft, TColor bottomRight, bool gradient, int kind, int width,
                    Rect r, TColor target);
void DrawBevelFrame(DC& dc, Rect r, TColor target, TColor light, TColor dark, bool lowered,
                    int width);
// The classic 3-D frame, `width` rings inward; `r` ends up one ring inside.
void PaintFrame3D(DC& dc, Rect& r, TColor topLeft, int width, TColor bottomRight);
// Light (raised) or dark (lowered) mitred strips blended along the edges of `r`.
void PaintBevel(Bitmap& bmp, Rect r, int width, TsControlBevel bevel, bool gradient);
void DrawTick(DC& dc, Rect r, bool enabled, TColor color);
void PaintDots(DC& dc, Rect r);

// Text and pictures -------------------------------------------------------------------------

// Draws the text aligned in `r`. Without DT_WORDBREAK `r` is narrowed to the text (centred
// by DT_CENTER, ending at Right by DT_RIGHT, else starting at Left; vertically centred) and
// comes back one pixel larger on every side. Disabled text is embossed.
void WriteTextEx(TCanvas& canvas, std::string_view text, bool enabled, Rect& r, unsigned flags);
// WriteTextEx with, for enabled text of a valid skin index, the section's (hot: its hot) text
// contour in four passes and its font colour.
void WriteTextExt(TCanvas& canvas, std::string_view text, bool enabled, Rect& r, unsigned flags,
                  int skinIndex, bool hot);
// The text when it fits `width`, else as much of its start as fits with "..." after it
// (just "..." when nothing does).
[[nodiscard]] std::string CutText(TCanvas& canvas, std::string_view text, int width);
void CutText(TCanvas& canvas, std::string_view text, int width, std::string& result);
// The font's cell height + 6.
[[nodiscard]] int GetFontHeight(const Font& font);
// ".JPG"/".JPEG" (grey when asked) or ".BMP" (24 bits, grey when asked); other extensions
// load nothing; a missing file gives an empty picture.
void LoadGraphicFromFile(TPicture& picture, const std::string& fileName, bool gray);

}  // namespace qv
