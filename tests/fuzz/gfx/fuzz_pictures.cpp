// libFuzzer target over the BMP and GIF readers: any input must decode or be refused with
// EInvalidGraphic; a crash, a leak, undefined behaviour or another exception is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/gif_codec.h"
#include "platform/gfx/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  try {
    const qv::Bitmap bmp = qv::LoadBmp(input);
    // A decoded picture is whole: every scan line can be read.
    volatile std::uint8_t sink = 0;
    for (int y = 0; y < bmp.Height(); ++y) sink = sink ^ bmp.ScanLine(y)[0];
  } catch (const qv::EInvalidGraphic&) {
  }
  try {
    const qv::GifPicture gif = qv::LoadGif(input);
    (void)gif.Opaque.BoundingBox();
  } catch (const qv::EInvalidGraphic&) {
  }
  return 0;
}
