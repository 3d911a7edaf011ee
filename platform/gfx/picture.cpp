#include "platform/gfx/picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

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
  return LoadPicture(ReadFileBytes(path), options);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("Cannot open file \"" + path + "\": " + std::strerror(errno));
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  if (in.bad()) throw Exception("Cannot read file \"" + path + "\"");
  return data;
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw Exception("Cannot create file \"" + path + "\": " + std::strerror(errno));
  // mkstemp makes the file 0600; new files get 0666 less the umask like any other.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  const int saved = errno;
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return;
  unlink(temp.c_str());
  throw Exception("Cannot write file \"" + path + "\": " + std::strerror(ok ? errno : saved));
}

}  // namespace qv
