#include "platform/gfx/picture.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/streams.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/gif_codec.h"
#include "platform/gfx/jpeg_codec.h"
#include "platform/gfx/png_codec.h"

namespace qv {

PictureFormat DetectPictureFormat(std::span<const std::uint8_t> d) {
  const auto starts = [&](std::initializer_list<std::uint8_t> magic) {
    return d.size() >= magic.size() && std::equal(magic.begin(), magic.end(), d.begin());
  };
  if (starts({'B', 'M'})) return PictureFormat::Bmp;
  if (starts({0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
  if (starts({'G', 'I', 'F', '8'})) return PictureFormat::Gif;
  if (starts({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return PictureFormat::Png;
  return PictureFormat::Unknown;
}

void CheckPictureSize(const char* format, long long width, long long height) {
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
    throw EInvalidGraphic(std::string(format) + " image is too large");
}

Bitmap LoadPicture(std::span<const std::uint8_t> data, const PictureOptions& options) {
  switch (DetectPictureFormat(data)) {
    case PictureFormat::Bmp:
      return LoadBmp(data);
    case PictureFormat::Jpeg:
      return LoadJpeg(data, options.Grayscale);
    case PictureFormat::Gif:
      return LoadGif(data).Image;
    case PictureFormat::Png:
      return LoadPng(data);
    case PictureFormat::Unknown:
      break;
  }
  throw EInvalidGraphic("Unknown picture format");
}

Bitmap LoadPictureFile(const std::string& path, const PictureOptions& options) {
  const std::string bytes = ReadFileBytes(path, int64_t(1) << 31);
  return LoadPicture(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                     options);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = ReadFileBytes(path, int64_t(1) << 31);
  return {bytes.begin(), bytes.end()};
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
  WriteFileAtomically(path, data);
}

}  // namespace qv
