#include "crashlog/screenshot.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crashlog/trace_log.h"
#include "platform/base/exception.h"
#include "platform/base/paths.h"

namespace qv {

namespace {

constexpr std::size_t kOutputBuffer = 0x3FFFF;
constexpr int kRedLevels = 6, kGreenLevels = 7, kBlueLevels = 6;

int Level(uint8_t value, int levels) {
  return (value * (levels - 1) + 127) / 255;
}

uint8_t LevelValue(int level, int levels) {
  return uint8_t((level * 255 + (levels - 1) / 2) / (levels - 1));
}

// The file and the chunks written to it.
class TPngFile {
 public:
  explicit TPngFile(const std::string& name) : name_(name) {
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) throw Exception("Cannot create the file \"" + name + "\".");
  }
  ~TPngFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) ::unlink(name_.c_str());
  }
  TPngFile(const TPngFile&) = delete;
  TPngFile& operator=(const TPngFile&) = delete;

  void Write(const void* data, std::size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw Exception("Cannot write the file \"" + name_ + "\".");
      p += n;
      size -= std::size_t(n);
    }
  }
  void Chunk(const char type[4], const uint8_t* data, std::size_t size) {
    uint8_t head[8];
    PutBigEndian(head, uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = PngCrc32(0xFFFFFFFFu, head + 4, 4);
    crc = PngCrc32(crc, data, size) ^ 0xFFFFFFFFu;
    uint8_t tail[4];
    PutBigEndian(tail, crc);
    Write(head, 8);
    if (size > 0) Write(data, size);
    Write(tail, 4);
  }
  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw Exception("Cannot write the file \"" + name_ + "\".");
    done_ = true;
  }
  static void PutBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool done_ = false;
};

struct TDeflater {
  z_stream z{};
  TDeflater() {
    if (deflateInit(&z, 9) != Z_OK) throw Exception("Cannot start the compression.");
  }
  ~TDeflater() { deflateEnd(&z); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
};

}  // namespace

uint32_t PngCrc32(uint32_t crc, const uint8_t* data, std::size_t size) {
  // The table of the reflected polynomial, made on first use.
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

const TScreenshotPalette& ScreenshotPalette() {
  static const TScreenshotPalette palette = [] {
    TScreenshotPalette p{};
    for (int r = 0; r < kRedLevels; ++r)
      for (int g = 0; g < kGreenLevels; ++g)
        for (int b = 0; b < kBlueLevels; ++b) {
          const int i = 3 * (r * kGreenLevels * kBlueLevels + g * kBlueLevels + b);
          p[i] = LevelValue(r, kRedLevels);
          p[i + 1] = LevelValue(g, kGreenLevels);
          p[i + 2] = LevelValue(b, kBlueLevels);
        }
    return p;
  }();
  return palette;
}

uint8_t PaletteIndex(uint8_t red, uint8_t green, uint8_t blue) {
  return uint8_t(Level(red, kRedLevels) * kGreenLevels * kBlueLevels +
                 Level(green, kGreenLevels) * kBlueLevels + Level(blue, kBlueLevels));
}

bool WritePalettePNG(const std::string& file_name, const Bitmap& image) {
  TraceScope trace("WritePalettePNG", {file_name, image.Width(), image.Height()});
  if (image.Empty()) throw Exception("The screen image is empty.");
  TPngFile file(file_name);
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.Write(signature, sizeof signature);
  uint8_t header[13] = {};
  TPngFile::PutBigEndian(header, uint32_t(image.Width()));
  TPngFile::PutBigEndian(header + 4, uint32_t(image.Height()));
  header[8] = 8;  // bit depth
  header[9] = 3;  // colour type: palette
  file.Chunk("IHDR", header, sizeof header);
  file.Chunk("PLTE", ScreenshotPalette().data(), ScreenshotPalette().size());

  TDeflater deflater;
  z_stream& z = deflater.z;
  std::vector<uint8_t> out(kOutputBuffer);
  std::vector<uint8_t> row(std::size_t(image.Width()) + 1);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const int step = image.BytesPerPixel();
  auto pump = [&](int flush) {
    int rc = Z_OK;
    do {
      rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) throw Exception("The compression failed.");
      if (z.avail_out == 0) {
        file.Chunk("IDAT", out.data(), out.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
      }
    } while (z.avail_in > 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  };
  for (int y = 0; y < image.Height(); ++y) {
    const uint8_t* pixels = image.ScanLine(y);
    row[0] = 0;  // filter: none
    for (int x = 0; x < image.Width(); ++x) {
      const uint8_t* p = pixels + x * step;  // blue, green, red
      row[std::size_t(x) + 1] = PaletteIndex(p[2], p[1], p[0]);
    }
    z.next_in = row.data();
    z.avail_in = uInt(row.size());
    pump(Z_NO_FLUSH);
  }
  pump(Z_FINISH);
  const std::size_t left = out.size() - z.avail_out;
  if (left > 0) file.Chunk("IDAT", out.data(), left);
  file.Chunk("IEND", nullptr, 0);
  file.Close();
  return trace.Result(true);
}

bool WriteScreenshotPNG(const std::string& file_name, const TDisplayFactory& display) {
  TraceLog("WriteScreenshotPNG", {file_name}, +2);
  bool written = false;
  try {
    std::unique_ptr<DisplayBackend> backend = display ? display() : nullptr;
    if (backend == nullptr) throw Exception("Cannot open the display.");
    const Bitmap screen = backend->CaptureScreen();
    backend.reset();
    if (screen.Empty()) throw Exception("Cannot capture the screen.");
    written = WritePalettePNG(file_name, screen);
  } catch (...) {
    InternalError("WriteScreenshotPNG");
  }
  TraceText(written ? "WriteScreenshotPNG=True" : "WriteScreenshotPNG=False", -2);
  return written;
}

std::string NewScreenshotFileName() {
  TraceScope trace("NewScreenshotFileName", {});
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ostrellog-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    // No screenshot then: said through the internal error channel like a failed capture.
    try {
      throw Exception("Cannot make a folder for the screenshot in " + ExtractFilePath(folder) +
                      ": " + std::strerror(errno));
    } catch (...) {
      InternalError("WriteScreenshotPNG");
    }
    return trace.Result(std::string());
  }
  return trace.Result(folder + "/Screenshot.png");
}

void DeleteScreenshot(const std::string& file_name) {
  TraceScope trace("DeleteScreenshot", {file_name});
  if (file_name.empty()) return;
  ::unlink(file_name.c_str());
  const std::string folder = ExcludeTrailingPathDelimiter(ExtractFilePath(file_name));
  if (ExtractFileName(folder).rfind("ostrellog-", 0) == 0) ::rmdir(folder.c_str());
}

}  // namespace qv
