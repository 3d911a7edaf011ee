// Picture files: recognising a format by its first bytes, decoding into a 24-bit `Bitmap`,
// and whole-file reading and writing. Every decoder refuses malformed, truncated or
// oversized input with `EInvalidGraphic`, never by crashing or by a half-decoded picture.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/exception.h"
#include "platform/gfx/bitmap.h"

namespace qv {

class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

enum class PictureFormat { Unknown, Bmp, Jpeg, Gif, Png };

// Pictures wider or higher than this, or with more pixels than kMaxPicturePixels, are
// refused before anything is allocated for them.
constexpr int kMaxPictureSide = 1 << 15;
constexpr long long kMaxPicturePixels = 1LL << 25;

[[nodiscard]] PictureFormat DetectPictureFormat(std::span<const std::uint8_t> data);

struct PictureOptions {
  bool Grayscale = false;  // JPEG only: decode the luminance, as a grey picture
};

// Any of the formats above, by content.
[[nodiscard]] Bitmap LoadPicture(std::span<const std::uint8_t> data,
                                 const PictureOptions& options = {});
[[nodiscard]] Bitmap LoadPictureFile(const std::string& path, const PictureOptions& options = {});

// Whole files. Reading failures raise `Exception` naming the file; writing goes through a
// temporary file in the same folder renamed over the target, so a failure leaves no half
// file behind.
[[nodiscard]] std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data);

// Throws EInvalidGraphic("<format> image is too large") past the limits above.
void CheckPictureSize(const char* format, long long width, long long height);

}  // namespace qv
