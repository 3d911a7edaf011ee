#include "platform/gfx/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "platform/gfx/picture.h"

namespace qv {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to
// the decoding function, which then fails cleanly. No C++ object with a destructor lives in
// the frames the jump leaves.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool truncated;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  // Data that ends early is padded by libjpeg with grey; we refuse such a picture.
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void SetUpErrors(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = 0;
  err.truncated = false;
}

// Returns an empty string on success, else the reason.
const char* Decode(const std::uint8_t* data, std::size_t size, bool grayscale, Bitmap* out,
                   ErrorManager* err) {
  jpeg_decompress_struct cinfo;
  SetUpErrors(*err);
  cinfo.err = &err->pub;
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(&cinfo);
    return err->message;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (static_cast<long long>(cinfo.image_width) * cinfo.image_height > kMaxPicturePixels ||
      cinfo.image_width > static_cast<unsigned>(kMaxPictureSide) ||
      cinfo.image_height > static_cast<unsigned>(kMaxPictureSide)) {
    jpeg_destroy_decompress(&cinfo);
    return "JPEG image is too large";
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  const bool grey = grayscale && !cmyk;
  cinfo.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const int w = static_cast<int>(cinfo.output_width);
  const int h = static_cast<int>(cinfo.output_height);
  const int comps = cinfo.output_components;
  out->SetSize(w, h);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              static_cast<JDIMENSION>(w * comps), 1);
  const bool inverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, row, 1);
    std::uint8_t* d = out->ScanLine(y);
    const JSAMPLE* s = row[0];
    for (int x = 0; x < w; ++x, d += 3) {
      if (comps == 1) {
        d[0] = d[1] = d[2] = s[x];
      } else if (comps == 3) {
        d[0] = s[3 * x + 2];
        d[1] = s[3 * x + 1];
        d[2] = s[3 * x];
      } else {
        // Adobe writes CMYK inverted: the stored values are the amounts of paper left.
        int c = s[4 * x], m = s[4 * x + 1], yy = s[4 * x + 2], k = s[4 * x + 3];
        if (!inverted) {
          c = 255 - c;
          m = 255 - m;
          yy = 255 - yy;
          k = 255 - k;
        }
        const auto r = static_cast<std::uint8_t>((c * k + 127) / 255);
        const auto g = static_cast<std::uint8_t>((m * k + 127) / 255);
        const auto b = static_cast<std::uint8_t>((yy * k + 127) / 255);
        if (grayscale) {
          d[0] = d[1] = d[2] = static_cast<std::uint8_t>((r + g + b) / 3);
        } else {
          d[0] = b;
          d[1] = g;
          d[2] = r;
        }
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return err->truncated ? "the JPEG data is truncated" : "";
}

const char* Encode(const Bitmap& bmp, int quality, unsigned char** buffer, unsigned long* size,
                   ErrorManager* err) {
  jpeg_compress_struct cinfo;
  SetUpErrors(*err);
  cinfo.err = &err->pub;
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(&cinfo);
    return err->message;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, buffer, size);
  cinfo.image_width = static_cast<JDIMENSION>(bmp.Width());
  cinfo.image_height = static_cast<JDIMENSION>(bmp.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.image_width * 3, 1);
  while (cinfo.next_scanline < cinfo.image_height) {
    const std::uint8_t* s = bmp.ScanLine(static_cast<int>(cinfo.next_scanline));
    for (int x = 0; x < bmp.Width(); ++x) {
      row[0][3 * x] = s[3 * x + 2];
      row[0][3 * x + 1] = s[3 * x + 1];
      row[0][3 * x + 2] = s[3 * x];
    }
    jpeg_write_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return "";
}

}  // namespace

Bitmap LoadJpeg(std::span<const std::uint8_t> data, bool grayscale) {
  if (data.empty()) throw EInvalidGraphic("Invalid JPEG: the file is empty");
  Bitmap out;
  ErrorManager err;
  const char* failure = Decode(data.data(), data.size(), grayscale, &out, &err);
  if (*failure) throw EInvalidGraphic(std::string("Invalid JPEG: ") + failure);
  return out;
}

std::vector<std::uint8_t> SaveJpeg(const Bitmap& bitmap, int quality) {
  if (bitmap.Empty()) throw EInvalidGraphic("Cannot write an empty JPEG");
  Bitmap rgb = bitmap;
  rgb.SetPixelFormat(PixelFormat::pf24bit);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ErrorManager err;
  const char* failure = Encode(rgb, quality, &buffer, &size, &err);
  std::vector<std::uint8_t> out;
  if (!*failure) out.assign(buffer, buffer + size);
  std::free(buffer);
  if (*failure) throw EInvalidGraphic(std::string("Cannot write JPEG: ") + failure);
  return out;
}

}  // namespace qv
