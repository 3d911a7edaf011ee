// libFuzzer target over the picture readers (BMP, JPEG in colour and grey, PNG, GIF with its
// frames and transparency mask): any input must decode or be refused with EInvalidGraphic; a
// crash, a leak, undefined behaviour or another exception is a finding. The seeds are small
// pictures of every format, written at build time by picture_seeds.py.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/gfx/gif_codec.h"
#include "platform/gfx/jpeg_codec.h"
#include "platform/gfx/picture.h"

namespace {

// A decoded picture is whole: every scan line can be read.
void Touch(const qv::Bitmap& bitmap) {
  volatile std::uint8_t sink = 0;
  if (bitmap.Width() <= 0) return;
  for (int y = 0; y < bitmap.Height(); ++y)
    sink = sink ^ bitmap.ScanLine(y)[bitmap.Width() * 3 - 1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const qv::PictureFormat format = qv::DetectPictureFormat(input);
  try {
    if (format == qv::PictureFormat::Gif) {
      const qv::GifPicture gif = qv::LoadGif(input);
      Touch(gif.Image);
      (void)gif.Opaque.BoundingBox();
    } else {
      Touch(qv::LoadPicture(input));
    }
  } catch (const qv::EInvalidGraphic&) {
  }
  if (format == qv::PictureFormat::Jpeg) {
    try {
      Touch(qv::LoadJpeg(input, true));
    } catch (const qv::EInvalidGraphic&) {
    }
  }
  return 0;
}
