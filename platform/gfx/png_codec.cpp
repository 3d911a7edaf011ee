#include "platform/gfx/png_codec.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "platform/gfx/picture.h"

namespace qv {

namespace {

struct WriteState {
  std::vector<std::uint8_t>* out;
  char message[256];
};

void OnWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
  state->out->insert(state->out->end(), data, data + length);
}

void OnError(png_structp png, png_const_charp message) {
  auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Returns an empty string on success; see the JPEG codec for why this is a plain function.
const char* Encode(const Bitmap& bmp, WriteState* state, std::vector<std::uint8_t>* row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, OnError, OnWarning);
  if (!png) return "out of memory";
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "out of memory";
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return state->message;
  }
  png_set_write_fn(png, state, OnWrite, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bmp.Width()),
               static_cast<png_uint_32>(bmp.Height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const int bpp = bmp.BytesPerPixel();
  for (int y = 0; y < bmp.Height(); ++y) {
    const std::uint8_t* s = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x) {
      (*row)[3 * x] = s[bpp * x + 2];
      (*row)[3 * x + 1] = s[bpp * x + 1];
      (*row)[3 * x + 2] = s[bpp * x];
    }
    png_write_row(png, row->data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return "";
}

}  // namespace

std::vector<std::uint8_t> SavePng(const Bitmap& bitmap) {
  if (bitmap.Empty()) throw EInvalidGraphic("Cannot write an empty PNG");
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
  WriteState state{&out, {}};
  const char* failure = Encode(bitmap, &state, &row);
  if (*failure) throw EInvalidGraphic(std::string("Cannot write PNG: ") + failure);
  return out;
}

Bitmap LoadPng(std::span<const std::uint8_t> data) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
    throw EInvalidGraphic(std::string("Invalid PNG: ") + image.message);
  if (image.width > static_cast<png_uint_32>(kMaxPictureSide) ||
      image.height > static_cast<png_uint_32>(kMaxPictureSide) ||
      static_cast<long long>(image.width) * image.height > kMaxPicturePixels) {
    png_image_free(&image);
    throw EInvalidGraphic("PNG image is too large");
  }
  image.format = PNG_FORMAT_BGR;
  Bitmap out(static_cast<int>(image.width), static_cast<int>(image.height));
  if (!png_image_finish_read(&image, nullptr, out.Bits(), out.Stride(), nullptr)) {
    const std::string message = image.message;
    png_image_free(&image);
    throw EInvalidGraphic("Invalid PNG: " + message);
  }
  return out;
}

}  // namespace qv
