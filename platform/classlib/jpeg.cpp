#include "platform/classlib/jpeg.h"

#include <algorithm>

#include "platform/base/streams.h"
#include "platform/gfx/jpeg_codec.h"

namespace qv {

void TJPEGImage::SetWidth(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetGrayscale(bool value) {
  if (value == grayscale_) return;
  if (!data_.empty()) image_ = LoadJpeg(data_, value);
  grayscale_ = value;
  Changed();
}

std::unique_ptr<TGraphic> TJPEGImage::NewEmpty() const {
  return std::make_unique<TJPEGImage>();
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  const int64_t rest = stream.Size() - stream.Position();
  if (rest > (int64_t(1) << 30)) throw EInvalidGraphic("JPEG data is too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<int64_t>(rest, 0)));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  Bitmap decoded = LoadJpeg(bytes, grayscale_);
  data_ = std::move(bytes);
  image_ = std::move(decoded);
  Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) const {
  if (!data_.empty()) stream.WriteBuffer(data_.data(), int64_t(data_.size()));
}

void TJPEGImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source);
  if (jpeg == nullptr) CannotAssign(source);
  data_ = jpeg->data_;
  image_ = jpeg->image_;
  grayscale_ = jpeg->grayscale_;
  Changed();
}

void TJPEGImage::Draw(TCanvas& canvas, const Rect& r) const {
  DrawImage(canvas, r, image_);
}

}  // namespace qv
