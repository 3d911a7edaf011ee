#include "platform/classlib/graphics.h"

#include <algorithm>
#include <cctype>

#include "platform/base/streams.h"
#include "platform/classlib/jpeg.h"
#include "platform/gfx/bmp_codec.h"

namespace qv {

namespace {

// Whatever is left of a stream, refusing what no picture this program shows can need.
std::vector<std::uint8_t> ReadRest(TStream& stream) {
  const int64_t rest = stream.Size() - stream.Position();
  if (rest > (int64_t(1) << 30)) throw EInvalidGraphic("Picture data is too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<int64_t>(rest, 0)));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  return bytes;
}

std::string LowerExtension(const std::string& fileName) {
  const auto slash = fileName.find_last_of("/\\");
  const auto dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

}  // namespace

// ---- fonts, pens, brushes -------------------------------------------------------------

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

void TFont::SetName(const std::string& name) {
  if (name == font_.Name) return;
  font_.Name = name;
  Changed();
}

void TFont::SetHeight(int height) {
  if (height == font_.Height) return;
  font_.Height = height;
  Changed();
}

int TFont::Size() const {
  // -MulDiv(Height, 72, 96), rounded half away from zero as MulDiv rounds.
  const long n = long(font_.Height) * 72;
  const long q = n >= 0 ? (n + 48) / 96 : -((-n + 48) / 96);
  return int(-q);
}

void TFont::SetSize(int points) {
  SetHeight(PointsToHeight(points));
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == font_.Style) return;
  font_.Style = style;
  Changed();
}

void TFont::Assign(const TFont& source) {
  if (SameAs(source)) return;
  font_ = source.font_;
  color_ = source.color_;
  Changed();
}

void TPen::SetColor(TColor color) {
  if (color == pen_.Color) return;
  pen_.Color = color;
  Changed();
}

void TPen::SetWidth(int width) {
  if (width == pen_.Width) return;
  pen_.Width = width;
  Changed();
}

void TPen::SetStyle(PenStyle style) {
  if (style == pen_.Style) return;
  pen_.Style = style;
  Changed();
}

void TPen::Assign(const TPen& source) {
  if (source.pen_.Color == pen_.Color && source.pen_.Width == pen_.Width &&
      source.pen_.Style == pen_.Style)
    return;
  pen_ = source.pen_;
  Changed();
}

void TBrush::SetColor(TColor color) {
  if (color == brush_.Color && brush_.Style != BrushStyle::bsClear) return;
  brush_.Color = color;
  if (brush_.Style == BrushStyle::bsClear) brush_.Style = BrushStyle::bsSolid;
  Changed();
}

void TBrush::SetStyle(BrushStyle style) {
  if (style == brush_.Style) return;
  brush_.Style = style;
  Changed();
}

void TBrush::Assign(const TBrush& source) {
  if (source.brush_.Color == brush_.Color && source.brush_.Style == brush_.Style) return;
  brush_ = source.brush_;
  Changed();
}

// ---- canvas ---------------------------------------------------------------------------

TCanvas::TCanvas() {
  font_.OnChange = [this](TGraphicsObject*) { fontDirty_ = true; };
  pen_.OnChange = [this](TGraphicsObject*) { penDirty_ = true; };
  brush_.OnChange = [this](TGraphicsObject*) { brushDirty_ = true; };
}

TCanvas::~TCanvas() = default;

DC* TCanvas::Handle() {
  return &Required();
}

void TCanvas::SetHandle(DC* dc) {
  dc_ = dc;
  fontDirty_ = penDirty_ = brushDirty_ = true;
}

DC& TCanvas::Required() {
  if (dc_ == nullptr) CreateHandle();
  if (dc_ == nullptr) throw EInvalidGraphicOperation("Canvas does not allow drawing");
  if (fontDirty_) {
    dc_->SelectFont(font_.Handle());
    dc_->SetTextColor(font_.Color());
    fontDirty_ = false;
  }
  if (penDirty_) {
    dc_->SelectPen(pen_.Handle());
    penDirty_ = false;
  }
  if (brushDirty_) {
    dc_->SelectBrush(brush_.Handle());
    dc_->SetBkColor(brush_.Color());
    dc_->SetBkMode(brush_.Style() == BrushStyle::bsClear ? TRANSPARENT : OPAQUE);
    brushDirty_ = false;
  }
  return *dc_;
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

void TCanvas::MoveTo(int x, int y) {
  Required().MoveTo(x, y);
}

void TCanvas::LineTo(int x, int y) {
  Required().LineTo(x, y);
  Changed();
}

Point TCanvas::PenPos() {
  return Required().GetCurrentPosition();
}

void TCanvas::Polyline(std::span<const Point> points) {
  Required().Polyline(points);
  Changed();
}

void TCanvas::Polygon(std::span<const Point> points) {
  Required().Polygon(points);
  Changed();
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
  Required().Rectangle(left, top, right, bottom);
  Changed();
}

void TCanvas::RoundRect(int left, int top, int right, int bottom, int w, int h) {
  Required().RoundRect(left, top, right, bottom, w, h);
  Changed();
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
  Required().Ellipse(left, top, right, bottom);
  Changed();
}

void TCanvas::FillRect(const Rect& r) {
  DC& dc = Required();
  if (brush_.Style() == BrushStyle::bsClear) return;
  dc.FillRect(r, brush_.Handle());
  Changed();
}

void TCanvas::FrameRect(const Rect& r) {
  DC& dc = Required();
  if (brush_.Style() == BrushStyle::bsClear) return;
  dc.FrameRect(r, brush_.Handle());
  Changed();
}

TColor TCanvas::Pixel(int x, int y) {
  return static_cast<TColor>(Required().GetPixel(x, y));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  Required().SetPixel(x, y, color);
  Changed();
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
  DC& dc = Required();
  dc.TextOut(x, y, text);
  dc.MoveTo(x + dc.TextWidth(text), y);
  Changed();
}

void TCanvas::TextRect(const Rect& r, int x, int y, std::string_view text) {
  DC& dc = Required();
  const int saved = dc.SaveDC();
  dc.IntersectClipRect(r.Left, r.Top, r.Right, r.Bottom);
  if (brush_.Style() != BrushStyle::bsClear) dc.FillRect(r, brush_.Handle());
  dc.TextOut(x, y, text);
  dc.RestoreDC(saved);
  Changed();
}

Size TCanvas::TextExtent(std::string_view text) {
  return Required().GetTextExtentPoint32(text);
}

void TCanvas::Draw(int x, int y, const TGraphic* graphic) {
  if (graphic == nullptr || graphic->Empty()) return;
  Required();
  graphic->Draw(*this, Bounds(x, y, graphic->Width(), graphic->Height()));
  Changed();
}

void TCanvas::StretchDraw(const Rect& r, const TGraphic* graphic) {
  if (graphic == nullptr || graphic->Empty()) return;
  Required();
  graphic->Draw(*this, r);
  Changed();
}

void TCanvas::CopyRect(const Rect& dest, TCanvas& source, const Rect& sourceRect) {
  DC& dc = Required();
  const DC& src = source.Required();
  if (dest.Width() == sourceRect.Width() && dest.Height() == sourceRect.Height()) {
    dc.BitBlt(dest.Left, dest.Top, dest.Width(), dest.Height(), src, sourceRect.Left,
              sourceRect.Top, copyMode_);
  } else {
    dc.StretchBlt(dest.Left, dest.Top, dest.Width(), dest.Height(), src, sourceRect.Left,
                  sourceRect.Top, sourceRect.Width(), sourceRect.Height(), copyMode_);
  }
  Changed();
}

Rect TCanvas::ClipRect() {
  Rect box;
  Required().GetClipBox(box);
  return box;
}

// ---- graphics -------------------------------------------------------------------------

void TGraphic::Changed() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

void TGraphic::CannotAssign(const TGraphic& source) const {
  throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " +
                      ClassName());
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) const {
  ReplaceFileSafely(fileName, [this](TStream& stream) { SaveToStream(stream); });
}

// A bitmap's canvas draws on the bitmap through a DC of its own.
class TBitmap::BitmapCanvas final : public TCanvas {
 public:
  explicit BitmapCanvas(TBitmap* owner) : dc_(&owner->image_) {
    OnChange = [owner](TCanvas*) { owner->Changed(); };
  }

 protected:
  void CreateHandle() override { SetHandle(&dc_); }

 public:
  // The DC keeps what it worked out about the bitmap's size; selecting it again forgets that.
  void BitmapReplaced() { dc_.SelectBitmap(dc_.GetBitmap()); }

 private:
  DC dc_;
};

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height) : image_(width, height) {}

TBitmap::~TBitmap() = default;

void TBitmap::Replaced() {
  if (canvas_) canvas_->BitmapReplaced();
  Changed();
}

void TBitmap::SetWidth(int width) {
  SetSize(width, Height());
}

void TBitmap::SetHeight(int height) {
  SetSize(Width(), height);
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == Width() && height == Height()) return;
  if (width == 0 || height == 0) {
    image_ = Bitmap(0, 0, image_.Format());
  } else if (image_.Empty()) {
    image_ = Bitmap(width, height, image_.Format());
  } else {
    image_.SetSize(width, height);
  }
  Replaced();
}

void TBitmap::SetPixelFormat(PixelFormat format) {
  if (format == image_.Format()) return;
  if (image_.Empty()) {
    image_ = Bitmap(0, 0, format);
  } else {
    image_.SetPixelFormat(format);
  }
  Replaced();
}

std::uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= image_.Height()) {
    throw EInvalidGraphicOperation("Scan line index out of range");
  }
  return image_.ScanLine(y);
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<BitmapCanvas>(this);
  return *canvas_;
}

std::unique_ptr<TGraphic> TBitmap::NewEmpty() const {
  return std::make_unique<TBitmap>();
}

void TBitmap::LoadFromStream(TStream& stream) {
  Bitmap loaded = LoadBmp(ReadRest(stream));
  image_ = std::move(loaded);
  Replaced();
}

void TBitmap::SaveToStream(TStream& stream) const {
  if (image_.Empty()) return;
  BmpWriteOptions options;
  options.BitsPerPixel = image_.Format() == PixelFormat::pf32bit ? 32 : 24;
  const std::vector<std::uint8_t> bytes = SaveBmp(image_, options);
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

void TBitmap::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
    image_ = bitmap->image_;
  } else if (source.Empty()) {
    image_ = Bitmap();
  } else {
    Bitmap drawn(source.Width(), source.Height());
    drawn.Fill(ColorToRGB(clWhite));
    image_ = std::move(drawn);
    if (canvas_) canvas_->BitmapReplaced();
    source.Draw(Canvas(), Bounds(0, 0, image_.Width(), image_.Height()));
  }
  Replaced();
}

void TBitmap::Draw(TCanvas& canvas, const Rect& r) const {
  DrawImage(canvas, r, image_);
}

void DrawImage(TCanvas& canvas, const Rect& r, const Bitmap& image) {
  if (image.Empty()) return;
  // The source DC only reads the pixels.
  DC source(const_cast<Bitmap*>(&image));
  DC& target = *canvas.Handle();
  if (r.Width() == image.Width() && r.Height() == image.Height()) {
    target.BitBlt(r.Left, r.Top, r.Width(), r.Height(), source, 0, 0, canvas.CopyMode());
  } else {
    target.StretchBlt(r.Left, r.Top, r.Width(), r.Height(), source, 0, 0, image.Width(),
                      image.Height(), canvas.CopyMode());
  }
}

// ---- picture --------------------------------------------------------------------------

TPicture::~TPicture() = default;

void TPicture::Take(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this](TGraphic*) { Changed(); };
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(const TGraphic* graphic) {
  if (graphic == graphic_.get() && graphic != nullptr) return;
  if (graphic == nullptr) {
    Take(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy = graphic->NewEmpty();
  copy->Assign(*graphic);
  Take(std::move(copy));
}

TBitmap& TPicture::Bitmap() {
  if (dynamic_cast<TBitmap*>(graphic_.get()) == nullptr) Take(std::make_unique<TBitmap>());
  return static_cast<TBitmap&>(*graphic_);
}

void TPicture::LoadFromFile(const std::string& fileName) {
  const std::string ext = LowerExtension(fileName);
  std::unique_ptr<TGraphic> graphic;
  if (ext == ".bmp") {
    graphic = std::make_unique<TBitmap>();
  } else if (ext == ".jpg" || ext == ".jpeg") {
    graphic = std::make_unique<TJPEGImage>();
  } else {
    throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
  }
  graphic->LoadFromFile(fileName);
  Take(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) const {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::Assign(const TPicture* source) {
  if (source == this) return;
  SetGraphic(source != nullptr ? source->Graphic() : nullptr);
}

}  // namespace qv
