// The class library's drawing classes over platform/gfx: fonts, pens and brushes that tell
// their owner when they change, a canvas that selects them into a device context on demand,
// and the graphics (bitmap, picture holder) that forms and skins draw with. Everything here
// belongs to the thread that uses it (the GUI thread); nothing is shared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"
#include "platform/base/persistent.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/picture.h"

namespace qv {

class TStream;
class TGraphic;

// Drawing on a canvas without a device context, a scan line outside the bitmap and the like.
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// Assigning between graphic classes that cannot take each other ("Cannot assign a ...") throws
// EConvertError (platform/base/persistent.h).

// Base of TFont, TPen and TBrush: `OnChange` fires once per setter call that changes a value.
class TGraphicsObject {
 public:
  TGraphicsObject() = default;
  TGraphicsObject(const TGraphicsObject&) = delete;
  TGraphicsObject& operator=(const TGraphicsObject&) = delete;
  virtual ~TGraphicsObject() = default;

  std::function<void(TGraphicsObject* Sender)> OnChange;

 protected:
  void Changed();
};

class TFont final : public TGraphicsObject {
 public:
  TFont() = default;

  [[nodiscard]] const std::string& Name() const { return font_.Name; }
  void SetName(const std::string& name);
  // Negative: the character height in pixels; positive: the cell height.
  [[nodiscard]] int Height() const { return font_.Height; }
  void SetHeight(int height);
  // Points at 96 pixels per inch; a positive height gives a negative size, as it always has.
  [[nodiscard]] int Size() const;
  void SetSize(int points);
  [[nodiscard]] TColor Color() const { return color_; }
  void SetColor(TColor color);
  [[nodiscard]] TFontStyles Style() const { return font_.Style; }
  void SetStyle(TFontStyles style);

  // What a device context selects.
  [[nodiscard]] const Font& Handle() const { return font_; }
  // Copies every property; one OnChange when anything differed.
  void Assign(const TFont& source);
  [[nodiscard]] bool SameAs(const TFont& other) const {
    return font_ == other.font_ && color_ == other.color_;
  }

 private:
  Font font_;
  TColor color_ = clWindowText;
};

class TPen final : public TGraphicsObject {
 public:
  TPen() = default;

  [[nodiscard]] TColor Color() const { return pen_.Color; }
  void SetColor(TColor color);
  [[nodiscard]] int Width() const { return pen_.Width; }
  void SetWidth(int width);
  [[nodiscard]] PenStyle Style() const { return pen_.Style; }
  void SetStyle(PenStyle style);

  [[nodiscard]] const Pen& Handle() const { return pen_; }
  void Assign(const TPen& source);

 private:
  Pen pen_;
};

class TBrush final : public TGraphicsObject {
 public:
  TBrush() = default;

  [[nodiscard]] TColor Color() const { return brush_.Color; }
  // A colour on a clear brush makes it solid again, as the class library does.
  void SetColor(TColor color);
  [[nodiscard]] BrushStyle Style() const { return brush_.Style; }
  void SetStyle(BrushStyle style);

  [[nodiscard]] const Brush& Handle() const { return brush_; }
  void Assign(const TBrush& source);

 private:
  Brush brush_;
};

enum TCopyMode : std::uint32_t {
  cmSrcCopy = SRCCOPY,
  cmSrcPaint = SRCPAINT,
  cmSrcAnd = SRCAND,
  cmSrcInvert = SRCINVERT,
};

// Draws through a device context it may or may not own: a control's canvas is handed the DC
// of each paint, a bitmap's canvas makes its own over the bitmap. Pen, brush and font are
// selected into the DC when it is attached and again after they change, so drawing done
// directly on `Handle()` in between stays as it was (text colour, background mode). Drawing
// without a DC throws EInvalidGraphicOperation("Canvas does not allow drawing").
class TCanvas {
 public:
  TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  virtual ~TCanvas();

  [[nodiscard]] TFont& Font() { return font_; }
  [[nodiscard]] TPen& Pen() { return pen_; }
  [[nodiscard]] TBrush& Brush() { return brush_; }
  [[nodiscard]] TCopyMode CopyMode() const { return copyMode_; }
  void SetCopyMode(TCopyMode mode) { copyMode_ = mode; }

  // The device context, made on demand (a bitmap's canvas); throws when there is none.
  [[nodiscard]] DC* Handle();
  [[nodiscard]] bool HandleAllocated() const { return dc_ != nullptr; }
  // Attaches a DC owned elsewhere (null detaches); the canvas's objects are selected into it.
  void SetHandle(DC* dc);

  // The canvas is used by one thread; these keep the class library's calls meaningful.
  void Lock() { ++lockCount_; }
  void Unlock() { --lockCount_; }
  [[nodiscard]] int LockCount() const { return lockCount_; }

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  [[nodiscard]] Point PenPos();
  void Polyline(std::span<const Point> points);
  void Polygon(std::span<const Point> points);
  void Rectangle(int left, int top, int right, int bottom);
  void Rectangle(const Rect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  void RoundRect(int left, int top, int right, int bottom, int w, int h);
  void Ellipse(int left, int top, int right, int bottom);
  // Fills with the brush (nothing with a clear brush); FrameRect draws a one-pixel border
  // in the brush colour.
  void FillRect(const Rect& r);
  void FrameRect(const Rect& r);
  [[nodiscard]] TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor color);

  // TextOut leaves the pen position after the text. The text background is the brush
  // colour, or nothing with a clear brush.
  void TextOut(int x, int y, std::string_view text);
  // The text at (x, y) cut to `r`; a solid brush fills `r` first.
  void TextRect(const Rect& r, int x, int y, std::string_view text);
  [[nodiscard]] Size TextExtent(std::string_view text);
  [[nodiscard]] int TextWidth(std::string_view text) { return TextExtent(text).cx; }
  [[nodiscard]] int TextHeight(std::string_view text) { return TextExtent(text).cy; }

  // The graphic at its own size with its top-left at (x, y); an empty graphic draws nothing.
  void Draw(int x, int y, const TGraphic* graphic);
  // The graphic scaled to fill `r`.
  void StretchDraw(const Rect& r, const TGraphic* graphic);
  // Copies `source`'s rectangle into `dest`, scaled when the sizes differ, with CopyMode.
  void CopyRect(const Rect& dest, TCanvas& source, const Rect& sourceRect);

  // The visible part in logical coordinates.
  [[nodiscard]] Rect ClipRect();

  // After every drawing call (a bitmap listens to know it changed).
  std::function<void(TCanvas* Sender)> OnChange;

 protected:
  // A canvas that can make its own DC does it here; the base has none to make.
  virtual void CreateHandle() {}

 private:
  // Attaches or makes the DC and selects whatever changed since; throws without a DC.
  DC& Required();
  void Changed();

  TFont font_;
  TPen pen_;
  TBrush brush_;
  TCopyMode copyMode_ = cmSrcCopy;
  DC* dc_ = nullptr;  // not owned
  bool fontDirty_ = true;
  bool penDirty_ = true;
  bool brushDirty_ = true;
  int lockCount_ = 0;
};

// A picture that can draw itself on a canvas, load and save itself. `OnChange` fires after
// a load, an assignment or a change of size.
class TGraphic {
 public:
  TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;
  virtual ~TGraphic() = default;

  [[nodiscard]] virtual bool Empty() const = 0;
  [[nodiscard]] virtual int Width() const = 0;
  [[nodiscard]] virtual int Height() const = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;

  // The class name as the class library's messages give it ("TBitmap").
  [[nodiscard]] virtual const char* ClassName() const = 0;
  // A new empty graphic of the same class.
  [[nodiscard]] virtual std::unique_ptr<TGraphic> NewEmpty() const = 0;

  // Loading replaces the graphic only once the new one is complete; on failure the old
  // picture stays and the error is thrown.
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) const = 0;
  void LoadFromFile(const std::string& fileName);
  // Writes through a temporary file, so a failure leaves the old file as it was.
  void SaveToFile(const std::string& fileName) const;

  // Throws EConvertError when the source's class cannot be taken.
  virtual void Assign(const TGraphic& source) = 0;

  [[nodiscard]] bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  std::function<void(TGraphic* Sender)> OnChange;

  // Drawing, called by TCanvas::Draw and StretchDraw.
  virtual void Draw(TCanvas& canvas, const Rect& r) const = 0;

 protected:
  void Changed();
  [[noreturn]] void CannotAssign(const TGraphic& source) const;

 private:
  bool modified_ = false;
};

// A 24-bit (or 32-bit) device-independent bitmap with its own canvas. The canvas stays valid
// for the bitmap's life; resizing keeps the pixels that stay inside.
class TBitmap final : public TGraphic {
 public:
  TBitmap();
  TBitmap(int width, int height);
  ~TBitmap() override;

  [[nodiscard]] bool Empty() const override { return image_.Empty(); }
  [[nodiscard]] int Width() const override { return image_.Width(); }
  [[nodiscard]] int Height() const override { return image_.Height(); }
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  void SetSize(int width, int height);
  [[nodiscard]] PixelFormat GetPixelFormat() const { return image_.Format(); }
  void SetPixelFormat(PixelFormat format);

  // Row y, top down; throws EInvalidGraphicOperation("Scan line index out of range").
  [[nodiscard]] std::uint8_t* ScanLine(int y);
  [[nodiscard]] TCanvas& Canvas();
  // The pixels themselves, for code that works on gfx bitmaps directly.
  [[nodiscard]] Bitmap& Image() { return image_; }
  [[nodiscard]] const Bitmap& Image() const { return image_; }

  [[nodiscard]] const char* ClassName() const override { return "TBitmap"; }
  [[nodiscard]] std::unique_ptr<TGraphic> NewEmpty() const override;

  // BMP files; saving writes the bitmap's own pixel format.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // Any graphic: a bitmap is copied, another graphic is drawn onto a bitmap of its size.
  void Assign(const TGraphic& source) override;

  void Draw(TCanvas& canvas, const Rect& r) const override;

 private:
  class BitmapCanvas;
  // After the pixels were replaced or resized: the canvas forgets the old size, listeners hear.
  void Replaced();

  Bitmap image_;
  std::unique_ptr<BitmapCanvas> canvas_;  // made on first use
};

// For graphic classes: `image` drawn into `r` of the canvas, scaled when the sizes differ,
// with the canvas's copy mode.
void DrawImage(TCanvas& canvas, const Rect& r, const Bitmap& image);

// Holds one graphic of any class and loads files by their extension (".bmp", ".jpg",
// ".jpeg"). `OnChange` fires when the graphic is replaced or changes.
class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;
  ~TPicture();

  // Null when empty.
  [[nodiscard]] TGraphic* Graphic() const { return graphic_.get(); }
  // A copy of `graphic` (null clears).
  void SetGraphic(const TGraphic* graphic);
  // The graphic as a bitmap; a picture holding anything else is replaced by an empty bitmap.
  [[nodiscard]] TBitmap& Bitmap();

  [[nodiscard]] int Width() const { return graphic_ ? graphic_->Width() : 0; }
  [[nodiscard]] int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // An unknown extension throws EInvalidGraphic("Unknown picture file extension (.xyz)");
  // on any failure the picture keeps what it held.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;
  void Assign(const TPicture* source);

  std::function<void(TPicture* Sender)> OnChange;

 private:
  void Take(std::unique_ptr<TGraphic> graphic);
  void Changed();

  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace qv
