// A device context: drawing state (pen, brush, font, colours, origins, clip region) over a
// bitmap it does not own. Coordinates given to drawing calls are logical; they reach the
// bitmap as logical - window origin + viewport origin + device origin. The device origin and
// the system clip are set by the window system (where a window lies in its back buffer and
// what of it is visible) and are not part of the saved states. Used on one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"
#include "platform/gfx/font.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"

namespace qv {

enum class PenStyle { psSolid, psClear };
struct Pen {
  PenStyle Style = PenStyle::psSolid;
  TColor Color = clBlack;
  int Width = 1;
};

enum class BrushStyle { bsSolid, bsClear };
struct Brush {
  BrushStyle Style = BrushStyle::bsSolid;
  TColor Color = clWhite;
};

// Background modes.
enum : int { TRANSPARENT = 1, OPAQUE = 2 };

// Raster operations.
constexpr std::uint32_t SRCCOPY = 0x00CC0020;
constexpr std::uint32_t SRCPAINT = 0x00EE0086;
constexpr std::uint32_t SRCAND = 0x008800C6;
constexpr std::uint32_t SRCINVERT = 0x00660046;

// Stretch modes.
enum : int { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };

// DrawText flags.
enum : unsigned {
  DT_LEFT = 0x0,
  DT_CENTER = 0x1,
  DT_RIGHT = 0x2,
  DT_VCENTER = 0x4,
  DT_BOTTOM = 0x8,
  DT_WORDBREAK = 0x10,
  DT_SINGLELINE = 0x20,
  DT_EXPANDTABS = 0x40,
  DT_NOCLIP = 0x100,
  DT_EXTERNALLEADING = 0x200,
  DT_CALCRECT = 0x400,
  DT_NOPREFIX = 0x800,
  DT_RTLREADING = 0x20000,  // accepted; the text is drawn in the order it comes
};

class DC {
 public:
  explicit DC(Bitmap* target = nullptr);
  ~DC();
  DC(const DC&) = delete;
  DC& operator=(const DC&) = delete;

  // The bitmap drawn on (not owned); returns the previous one. Selecting a bitmap resets
  // nothing else, as selecting into a memory DC does.
  Bitmap* SelectBitmap(Bitmap* target);
  [[nodiscard]] Bitmap* GetBitmap() const { return target_; }

  // Window system only: where device (0, 0) lies on the bitmap, and the visible part in
  // device coordinates (none: the whole bitmap).
  void SetDeviceOrigin(Point p) { deviceOrg_ = p; }
  void SetSystemClip(std::optional<Region> clip) { systemClip_ = std::move(clip); }

  // Saved states. SaveDC returns the new depth; RestoreDC takes a depth or, negative, how
  // many states back; false when there is no such state.
  int SaveDC();
  bool RestoreDC(int level);

  Point SetViewportOrg(Point p);
  Point SetWindowOrg(Point p);
  [[nodiscard]] Point GetViewportOrg() const { return state_.viewportOrg; }
  [[nodiscard]] Point GetWindowOrg() const { return state_.windowOrg; }

  // Clipping. SelectClipRgn takes a region in device coordinates (a copy is kept; null
  // removes the clip region); the rectangle calls take logical coordinates. All return the
  // kind of the resulting clip region (NULLREGION, SIMPLEREGION, COMPLEXREGION).
  int SelectClipRgn(const Region* rgn);
  int IntersectClipRect(int left, int top, int right, int bottom);
  int ExcludeClipRect(int left, int top, int right, int bottom);
  // The visible part's bounding box in logical coordinates.
  int GetClipBox(Rect& box) const;
  [[nodiscard]] bool PtVisible(int x, int y) const;

  // Objects and colours; each setter returns the previous value.
  Pen SelectPen(const Pen& pen);
  Brush SelectBrush(const Brush& brush);
  Font SelectFont(const Font& font);
  [[nodiscard]] const Pen& GetPen() const { return state_.pen; }
  [[nodiscard]] const Brush& GetBrush() const { return state_.brush; }
  [[nodiscard]] const Font& GetFont() const { return state_.font; }
  TColor SetTextColor(TColor c);
  TColor SetBkColor(TColor c);
  int SetBkMode(int mode);
  int SetPolyFillMode(int mode);
  int SetStretchBltMode(int mode);
  [[nodiscard]] TColor GetTextColor() const { return state_.textColor; }
  [[nodiscard]] TColor GetBkColor() const { return state_.bkColor; }
  [[nodiscard]] int GetBkMode() const { return state_.bkMode; }

  // Shapes. Rectangles exclude their right and bottom edges; with a clear pen the filled
  // area of Rectangle, RoundRect, Ellipse and Polygon loses its right and bottom pixel row as
  // on the platform.
  void FillRect(const Rect& r, const Brush& brush);
  void FillRect(const Rect& r) { FillRect(r, state_.brush); }
  void FrameRect(const Rect& r, const Brush& brush);
  void Rectangle(int left, int top, int right, int bottom);
  void RoundRect(int left, int top, int right, int bottom, int w, int h);
  void Ellipse(int left, int top, int right, int bottom);
  void FillRgn(const Region& rgn, const Brush& brush);  // rgn in logical coordinates

  // Lines draw every pixel but the last, and move the current position to the end point.
  Point MoveTo(int x, int y);
  void LineTo(int x, int y);
  [[nodiscard]] Point GetCurrentPosition() const { return state_.pos; }
  void Polyline(std::span<const Point> points);
  void Polygon(std::span<const Point> points);

  COLORREF SetPixel(int x, int y, TColor c);
  [[nodiscard]] COLORREF GetPixel(int x, int y) const;

  // Copies from `src` (another DC or this one), clipped on both sides: pixels whose source
  // lies outside the source bitmap, or whose destination is clipped, are left alone.
  bool BitBlt(int x, int y, int w, int h, const DC& src, int sx, int sy,
              std::uint32_t rop = SRCCOPY);
  // COLORONCOLOR (and the two legacy modes) picks the nearest source pixel; HALFTONE
  // averages the source pixels each destination pixel covers. Negative sizes are refused.
  bool StretchBlt(int x, int y, int w, int h, const DC& src, int sx, int sy, int sw, int sh,
                  std::uint32_t rop = SRCCOPY);

  // Text in the selected font, text colour and background mode. TextOut puts the cell's
  // top-left at (x, y).
  void TextOut(int x, int y, std::string_view text);
  [[nodiscard]] Size GetTextExtentPoint32(std::string_view text) const;
  [[nodiscard]] int TextWidth(std::string_view text) const { return GetTextExtentPoint32(text).cx; }
  [[nodiscard]] int TextHeight(std::string_view text) const {
    return GetTextExtentPoint32(text).cy;
  }
  [[nodiscard]] TextMetric GetTextMetrics() const;
  // Returns the height of the text; DT_CALCRECT sets `r` to the text's extent and draws
  // nothing.
  int DrawText(std::string_view text, Rect& r, unsigned flags);

 private:
  struct State {
    Pen pen;
    Brush brush;
    Font font;
    TColor textColor = clBlack;
    TColor bkColor = clWhite;
    int bkMode = OPAQUE;
    int polyFillMode = ALTERNATE;
    int stretchMode = BLACKONWHITE;
    Point viewportOrg;
    Point windowOrg;
    Point pos;
    std::optional<Region> clip;  // device coordinates
  };

  struct TextLine;

  // Logical to bitmap coordinates.
  [[nodiscard]] int Dx() const { return state_.viewportOrg.X - state_.windowOrg.X + deviceOrg_.X; }
  [[nodiscard]] int Dy() const { return state_.viewportOrg.Y - state_.windowOrg.Y + deviceOrg_.Y; }
  // The pixels that may be drawn, in bitmap coordinates; cached until the clip changes.
  [[nodiscard]] const Region& Visible() const;
  void ClipChanged() { visible_.reset(); }
  void FillBitmapRegion(const Region& rgn, COLORREF c);  // rgn already clipped
  void FillShape(Region shape, const Brush& brush);      // shape in logical coordinates
  void PlotPen(int x, int y);                            // logical coordinates
  [[nodiscard]] FontFace& Face() const;
  // Draws one line of text with its cell's top-left at (x, y), bitmap coordinates.
  void DrawRun(int x, int y, std::u32string_view text, std::span<const char> prefixed,
               int tabOrigin, bool expandTabs, const Region& visible);
  [[nodiscard]] int Advance(char32_t c, int penX, int tabOrigin, bool expandTabs) const;
  [[nodiscard]] int MeasureRun(std::u32string_view text, int tabOrigin, bool expandTabs) const;

  Bitmap* target_ = nullptr;  // not owned
  Point deviceOrg_;
  std::optional<Region> systemClip_;
  State state_;
  std::vector<State> saved_;
  mutable std::shared_ptr<FontFace> face_;  // the selected font's face, looked up on use
  mutable std::optional<Region> visible_;
};

}  // namespace qv
