// The class library's JPEG picture: keeps the file's bytes as loaded (saving writes them back
// unchanged) and the picture decoded from them, in colour or, with `Grayscale`, in grey.
// Loading decodes at once, so a file that cannot be shown is refused when it is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/classlib/graphics.h"

namespace qv {

class TJPEGImage final : public TGraphic {
 public:
  TJPEGImage() = default;

  [[nodiscard]] bool Empty() const override { return data_.empty(); }
  [[nodiscard]] int Width() const override { return image_.Width(); }
  [[nodiscard]] int Height() const override { return image_.Height(); }
  // A JPEG picture has the size of its data: EInvalidGraphicOperation("Cannot change the
  // size of a JPEG image").
  void SetWidth(int width) override;
  void SetHeight(int height) override;

  // Changing it decodes the data again.
  [[nodiscard]] bool Grayscale() const { return grayscale_; }
  void SetGrayscale(bool value);

  // The decoded picture (24 bits per pixel).
  [[nodiscard]] const Bitmap& Image() const { return image_; }

  [[nodiscard]] const char* ClassName() const override { return "TJPEGImage"; }
  [[nodiscard]] std::unique_ptr<TGraphic> NewEmpty() const override;

  // Takes the rest of the stream; data that does not decode throws EInvalidGraphic and
  // leaves the picture as it was.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // From another JPEG picture only.
  void Assign(const TGraphic& source) override;

  void Draw(TCanvas& canvas, const Rect& r) const override;

 private:
  std::vector<std::uint8_t> data_;
  Bitmap image_;
  bool grayscale_ = false;
};

}  // namespace qv
