// libFuzzer target over the picture control's loading: the GIF frame scan, the copy that
// leaves earlier frames out, decoding every frame and drawing it. Any input must load or
// be refused with EInvalidGraphic; a crash, an out-of-bounds read, undefined behaviour or
// another exception is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "app/cover/advpicture.h"
#include "app/cover/advpicture_gif.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const std::vector<std::size_t> starts = qv::GifFrameStarts(input);
  for (const std::size_t s : starts) (void)qv::GifFrameAt(input, s);
  int w = 0;
  int h = 0;
  (void)qv::GifScreenSize(input, w, h);
  const int frames = static_cast<int>(starts.size());
  for (int f = 0; f <= frames + 1 && f < 6; ++f) {
    (void)qv::GifWithoutEarlierFrames(input, starts, f);
  }

  qv::TIPicture picture;
  try {
    picture.LoadFromBytes(input);
  } catch (const qv::EInvalidGraphic&) {
    return 0;
  }
  qv::Bitmap canvas(32, 32);
  qv::DC dc(&canvas);
  for (int f = 1; f <= picture.FrameCount() && f <= 4; ++f) {
    try {
      picture.SetFrame(f);
      picture.DrawTo(dc, qv::Rect{0, 0, 32, 32});
    } catch (const qv::EInvalidGraphic&) {
    }
  }
  return 0;
}
