#include "platform/gfx/bmp_codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <map>

#include "platform/gfx/picture.h"

namespace qv {

namespace {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

[[noreturn]] void Fail(const std::string& why) {
  throw EInvalidGraphic("Invalid bitmap: " + why);
}

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> d) : d_(d) {}
  [[nodiscard]] std::size_t Size() const { return d_.size(); }
  [[nodiscard]] std::uint32_t U8(std::size_t at) const {
    Need(at, 1);
    return d_[at];
  }
  [[nodiscard]] std::uint32_t U16(std::size_t at) const {
    Need(at, 2);
    return d_[at] | (static_cast<std::uint32_t>(d_[at + 1]) << 8);
  }
  [[nodiscard]] std::uint32_t U32(std::size_t at) const {
    Need(at, 4);
    return d_[at] | (static_cast<std::uint32_t>(d_[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d_[at + 2]) << 16) |
           (static_cast<std::uint32_t>(d_[at + 3]) << 24);
  }
  void Need(std::size_t at, std::size_t n) const {
    if (at > d_.size() || n > d_.size() - at) Fail("the file is truncated");
  }
  [[nodiscard]] const std::uint8_t* At(std::size_t at) const { return d_.data() + at; }

 private:
  std::span<const std::uint8_t> d_;
};

// A colour channel held under a bit mask, scaled to 0..255.
struct Channel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;

  explicit Channel(std::uint32_t mask = 0) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Max = mask >> Shift;
    // A mask with holes is not a channel; keep its low run only.
    Max = (Max & (Max + 1)) == 0 ? Max : (1u << std::countr_one(Max)) - 1;
  }
  [[nodiscard]] std::uint8_t Get(std::uint32_t v) const {
    if (Max == 0) return 0;
    // Scaled down, as other decoders do: 5-bit 16 gives 131, not 132.
    const std::uint64_t c = (v >> Shift) & Max;
    return static_cast<std::uint8_t>(c * 255 / Max);
  }
};

struct Header {
  long long Width = 0;
  long long Height = 0;  // positive; TopDown tells the row order
  bool TopDown = false;
  std::uint32_t Bits = 0;
  std::uint32_t Compression = BI_RGB;
  std::vector<std::uint32_t> Palette;  // 0x00RRGGBB
  std::array<std::uint32_t, 3> Masks{};
  std::size_t DataOffset = 0;
};

Header ReadHeader(const Reader& r) {
  if (r.Size() < 2 || r.U8(0) != 'B' || r.U8(1) != 'M') Fail("not a BMP file");
  Header h;
  h.DataOffset = r.U32(10);
  const std::uint32_t infoSize = r.U32(14);
  std::size_t paletteAt = 14 + static_cast<std::size_t>(infoSize);
  std::size_t paletteEntry = 4;
  if (infoSize == 12) {
    h.Width = r.U16(18);
    h.Height = r.U16(20);
    h.Bits = r.U16(24);
    paletteEntry = 3;
  } else if (infoSize >= 40 && infoSize <= 4096) {
    h.Width = static_cast<std::int32_t>(r.U32(18));
    const auto height = static_cast<std::int32_t>(r.U32(22));
    h.TopDown = height < 0;
    h.Height = height < 0 ? -static_cast<long long>(height) : height;
    if (r.U16(26) != 1) Fail("planes must be 1");
    h.Bits = r.U16(28);
    h.Compression = r.U32(30);
    const std::uint32_t used = r.U32(46);
    if (h.Compression == BI_BITFIELDS || h.Compression == BI_ALPHABITFIELDS) {
      // Version 1 headers keep the masks after the header, later ones inside it; both at 54.
      h.Masks = {r.U32(54), r.U32(58), r.U32(62)};
      if (infoSize == 40) paletteAt += h.Compression == BI_ALPHABITFIELDS ? 16 : 12;
    }
    if (h.Bits <= 8) {
      const std::uint32_t max = 1u << h.Bits;
      h.Palette.resize(used == 0 || used > max ? max : used);
    }
  } else {
    Fail("unknown header size " + std::to_string(infoSize));
  }
  if (h.Bits <= 8 && infoSize == 12) h.Palette.resize(1u << h.Bits);

  switch (h.Bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      break;
    case 16:
    case 32:
      if (h.Compression == BI_RGB) {
        h.Masks = h.Bits == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                               : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
      }
      break;
    default:
      Fail("unsupported bit count " + std::to_string(h.Bits));
  }
  const bool rle = h.Compression == BI_RLE8 || h.Compression == BI_RLE4;
  if (!(h.Compression == BI_RGB || (h.Compression == BI_RLE8 && h.Bits == 8) ||
        (h.Compression == BI_RLE4 && h.Bits == 4) ||
        ((h.Compression == BI_BITFIELDS || h.Compression == BI_ALPHABITFIELDS) &&
         (h.Bits == 16 || h.Bits == 32))))
    Fail("unsupported compression " + std::to_string(h.Compression));
  if (rle && h.TopDown) Fail("a compressed bitmap cannot be top-down");
  if (h.Width <= 0 || h.Height <= 0) Fail("empty picture");
  CheckPictureSize("BMP", h.Width, h.Height);

  for (std::size_t i = 0; i < h.Palette.size(); ++i) {
    const std::size_t at = paletteAt + i * paletteEntry;
    if (at + 3 > r.Size() || at + 3 > h.DataOffset) {
      // Short palettes happen in the wild; the missing entries are black.
      h.Palette.resize(i);
      break;
    }
    h.Palette[i] = r.U8(at) | (r.U8(at + 1) << 8) | (r.U8(at + 2) << 16);
  }
  if (h.DataOffset >= r.Size()) Fail("the file is truncated");
  return h;
}

void Put(Bitmap& bmp, const Header& h, long long row, long long x, std::uint32_t bgr) {
  const long long y = h.TopDown ? row : h.Height - 1 - row;
  std::uint8_t* p = bmp.ScanLine(static_cast<int>(y)) + 3 * x;
  p[0] = static_cast<std::uint8_t>(bgr);
  p[1] = static_cast<std::uint8_t>(bgr >> 8);
  p[2] = static_cast<std::uint8_t>(bgr >> 16);
}

std::uint32_t PaletteColor(const Header& h, std::uint32_t index) {
  return index < h.Palette.size() ? h.Palette[index] : 0;
}

void DecodeUncompressed(const Reader& r, const Header& h, Bitmap& bmp) {
  const long long rowBytes = (h.Width * h.Bits + 31) / 32 * 4;
  const long long lastRow = (h.Width * h.Bits + 7) / 8;
  // The last row may lack its padding.
  r.Need(h.DataOffset, static_cast<std::size_t>(rowBytes * (h.Height - 1) + lastRow));
  const Channel red(h.Masks[0]), green(h.Masks[1]), blue(h.Masks[2]);
  for (long long row = 0; row < h.Height; ++row) {
    const std::uint8_t* s = r.At(h.DataOffset + static_cast<std::size_t>(row * rowBytes));
    for (long long x = 0; x < h.Width; ++x) {
      std::uint32_t c = 0;
      switch (h.Bits) {
        case 1:
          c = PaletteColor(h, (s[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          c = PaletteColor(h, (s[x / 2] >> (x % 2 ? 0 : 4)) & 15);
          break;
        case 8:
          c = PaletteColor(h, s[x]);
          break;
        case 24:
          c = s[3 * x] | (s[3 * x + 1] << 8) | (s[3 * x + 2] << 16);
          break;
        case 16: {
          const std::uint32_t v = s[2 * x] | (s[2 * x + 1] << 8);
          c = blue.Get(v) | (green.Get(v) << 8) | (red.Get(v) << 16);
          break;
        }
        default: {
          const std::uint32_t v = s[4 * x] | (s[4 * x + 1] << 8) | (s[4 * x + 2] << 16) |
                                  (static_cast<std::uint32_t>(s[4 * x + 3]) << 24);
          c = blue.Get(v) | (green.Get(v) << 8) | (red.Get(v) << 16);
          break;
        }
      }
      Put(bmp, h, row, x, c);
    }
  }
}

// Run-length data; pixels the runs skip keep palette colour 0.
void DecodeRle(const Reader& r, const Header& h, Bitmap& bmp) {
  const bool four = h.Compression == BI_RLE4;
  const std::uint32_t background = PaletteColor(h, 0);
  for (long long row = 0; row < h.Height; ++row)
    for (long long x = 0; x < h.Width; ++x) Put(bmp, h, row, x, background);
  std::size_t at = h.DataOffset;
  long long x = 0, row = 0;
  const auto put = [&](std::uint32_t index) {
    if (row < h.Height && x < h.Width) Put(bmp, h, row, x, PaletteColor(h, index));
    ++x;
  };
  while (row < h.Height) {
    const std::uint32_t count = r.U8(at);
    const std::uint32_t value = r.U8(at + 1);
    at += 2;
    if (count > 0) {
      for (std::uint32_t i = 0; i < count; ++i)
        put(four ? (i % 2 ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // delta
      x += r.U8(at);
      row += r.U8(at + 1);
      at += 2;
    } else {  // absolute run, padded to a 16-bit boundary
      const std::size_t bytes = four ? (value + 1) / 2 : value;
      r.Need(at, bytes);
      for (std::uint32_t i = 0; i < value; ++i) {
        const std::uint32_t b = r.U8(at + (four ? i / 2 : i));
        put(four ? (i % 2 ? b & 15 : b >> 4) : b);
      }
      at += (bytes + 1) & ~std::size_t{1};
    }
  }
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

Bitmap LoadBmp(std::span<const std::uint8_t> data) {
  const Reader r(data);
  const Header h = ReadHeader(r);
  Bitmap bmp(static_cast<int>(h.Width), static_cast<int>(h.Height));
  if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
    DecodeRle(r, h, bmp);
  } else {
    DecodeUncompressed(r, h, bmp);
  }
  return bmp;
}

std::vector<std::uint8_t> SaveBmp(const Bitmap& bitmap, const BmpWriteOptions& options) {
  const int bits = options.BitsPerPixel;
  if (bits != 8 && bits != 24 && bits != 32)
    throw EInvalidGraphic("Cannot write a " + std::to_string(bits) + "-bit bitmap");
  if (bitmap.Empty()) throw EInvalidGraphic("Cannot write an empty bitmap");
  const int w = bitmap.Width(), h = bitmap.Height();

  std::vector<std::uint32_t> palette;
  std::map<std::uint32_t, std::uint8_t> index;
  if (bits == 8) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const COLORREF c = bitmap.Pixel(x, y);
        if (index.count(c)) continue;
        if (palette.size() == 256)
          throw EInvalidGraphic("More than 256 colours for an 8-bit bitmap");
        index[c] = static_cast<std::uint8_t>(palette.size());
        palette.push_back(c);
      }
    }
  }
  const std::uint32_t rowBytes = static_cast<std::uint32_t>((w * bits + 31) / 32 * 4);
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(palette.size()) * 4;
  const std::uint32_t imageSize = rowBytes * static_cast<std::uint32_t>(h);
  std::vector<std::uint8_t> out;
  out.reserve(offset + imageSize);
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + imageSize);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(w));
  Put32(out, static_cast<std::uint32_t>(options.TopDown ? -h : h));
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(bits));
  Put32(out, BI_RGB);
  Put32(out, imageSize);
  Put32(out, 3780);  // 96 dots per inch
  Put32(out, 3780);
  Put32(out, static_cast<std::uint32_t>(palette.size()));
  Put32(out, 0);
  for (const COLORREF c : palette) {
    out.push_back(GetBValue(c));
    out.push_back(GetGValue(c));
    out.push_back(GetRValue(c));
    out.push_back(0);
  }
  for (int i = 0; i < h; ++i) {
    const int y = options.TopDown ? i : h - 1 - i;
    const std::size_t start = out.size();
    for (int x = 0; x < w; ++x) {
      const COLORREF c = bitmap.Pixel(x, y);
      if (bits == 8) {
        out.push_back(index[c]);
        continue;
      }
      out.push_back(GetBValue(c));
      out.push_back(GetGValue(c));
      out.push_back(GetRValue(c));
      if (bits == 32) out.push_back(0);
    }
    out.resize(start + rowBytes, 0);
  }
  return out;
}

}  // namespace qv
