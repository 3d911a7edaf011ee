// Pictures decoded by our codecs against PIL (Debian's python3-pil) decoding the same files,
// and malformed files refused cleanly.
#include "platform/gfx/picture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/gif_codec.h"
#include "platform/gfx/jpeg_codec.h"
#include "platform/gfx/png_codec.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace qv {
namespace {

using test::TempDir;

// Makes the fixtures with PIL and dumps PIL's decoding of every picture file in the folder
// (ours included) as "<file>.rgb": "<width> <height>\n" and the RGB bytes.
constexpr const char* kPeer = R"PY(
import os, struct, sys
from PIL import Image
d = sys.argv[1] if len(sys.argv) > 1 else DIR

def pattern(w, h):
    im = Image.new('RGB', (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 7 + y * 3) % 256, (x * y) % 256, (255 - x * 5) % 256)
    return im

def dump(path, im):
    im = im.convert('RGB')
    with open(path + '.rgb', 'wb') as f:
        f.write(b'%d %d\n' % im.size)
        f.write(im.tobytes())

def put(name, data):
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)

def bmp(name, width, height, bits, palette, pixels, compression=0, masks=b'', core=False):
    if core:
        info = struct.pack('<IHHHH', 12, width, height, 1, bits)
        pal = b''.join(bytes((b, g, r)) for (r, g, b) in palette)
    else:
        info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression,
                           len(pixels), 3780, 3780, len(palette), 0) + masks
        pal = b''.join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    offset = 14 + len(info) + len(pal)
    put(name, b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + info + pal
        + pixels)

p = pattern(37, 23)
p.save(os.path.join(d, 'colour.jpg'), quality=85)
p.save(os.path.join(d, 'progressive.jpg'), quality=92, progressive=True, subsampling=0)
p.convert('L').save(os.path.join(d, 'grey.jpg'))
grey = Image.open(os.path.join(d, 'colour.jpg'))
grey.draft('L', grey.size)
assert grey.mode == 'L'
dump(os.path.join(d, 'colour.jpg.grey'), grey)

q = p.quantize(colors=61)
q.save(os.path.join(d, 'plain.gif'), interlace=False)
q.save(os.path.join(d, 'interlaced.gif'), interlace=True)
q.save(os.path.join(d, 'animated.gif'), save_all=True,
       append_images=[pattern(37, 23).transpose(Image.FLIP_LEFT_RIGHT).quantize(colors=20)],
       duration=[50, 70], loop=0)

p.quantize(colors=16).save(os.path.join(d, 'transparent.gif'), transparency=3)
t = Image.open(os.path.join(d, 'transparent.gif'))
with open(os.path.join(d, 'transparent.gif.idx'), 'wb') as f:
    f.write(bytes([t.info['transparency']]) + t.tobytes())

p.save(os.path.join(d, 'rgb24.bmp'))
p.convert('L').save(os.path.join(d, 'grey8.bmp'))
q.save(os.path.join(d, 'palette8.bmp'))
p.convert('1').save(os.path.join(d, 'mono1.bmp'))

pal16 = [(i * 17, 255 - i * 17, (i * 40) % 256) for i in range(16)]
# 4 bits per pixel, 5 x 3: rows of nibbles padded to 4 bytes, bottom-up.
bmp('nibbles4.bmp', 5, 3, 4, pal16,
    bytes([0x01, 0x23, 0x40, 0, 0x56, 0x78, 0x90, 0, 0xAB, 0xCD, 0xE0, 0]))
# The same with a negative height: top-down.
bmp('topdown4.bmp', 5, -3, 4, pal16,
    bytes([0x01, 0x23, 0x40, 0, 0x56, 0x78, 0x90, 0, 0xAB, 0xCD, 0xE0, 0]))
# RLE8 6 x 4: runs, an absolute run, ends of lines, end of picture. (This PIL reads deltas
# and odd RLE4 absolute runs wrongly, so those are checked by hand below.)
bmp('rle8.bmp', 6, 4, 8, pal16,
    bytes([3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 6, 5, 0, 0, 2, 7, 2, 8, 0, 0, 6, 9, 0, 1]),
    compression=1)
# RLE4 5 x 2: a run of alternating nibbles and an absolute run.
bmp('rle4.bmp', 5, 2, 4, pal16, bytes([5, 0x12, 0, 0, 0, 4, 0x34, 0x56, 1, 0x70, 0, 1]),
    compression=2)
# 16 bits, 5-6-5 bit fields, 3 x 2.
px565 = [0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x8410]
bmp('bits565.bmp', 3, 2, 16, [], struct.pack('<3H', *px565[:3]) + b'\0\0'
    + struct.pack('<3H', *px565[3:]) + b'\0\0', compression=3,
    masks=struct.pack('<III', 0xF800, 0x07E0, 0x001F))
# 16 bits, default 5-5-5, 2 x 1.
bmp('bits555.bmp', 2, 1, 16, [], struct.pack('<2H', 0x7C00, 0x03FF))
# The oldest header, 8 bits, 2 x 2.
bmp('core8.bmp', 2, 2, 8, [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 9, 9)],
    bytes([0, 1, 0, 0, 2, 3, 0, 0]), core=True)

for name in sorted(os.listdir(d)):
    if name.endswith(('.jpg', '.gif', '.bmp', '.png')):
        dump(os.path.join(d, name), Image.open(os.path.join(d, name)))
)PY";

struct Decoded {
  int width = 0;
  int height = 0;
  std::string rgb;
};

Decoded ReadDump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Decoded d;
  in >> d.width >> d.height;
  in.get();
  d.rgb.assign(std::istreambuf_iterator<char>(in), {});
  return d;
}

// The first pixel that differs, or "" when the pictures are the same.
std::string Compare(const Bitmap& ours, const Decoded& peer) {
  if (ours.Width() != peer.width || ours.Height() != peer.height)
    return "size " + std::to_string(ours.Width()) + "x" + std::to_string(ours.Height()) +
           " against " + std::to_string(peer.width) + "x" + std::to_string(peer.height);
  if (peer.rgb.size() != static_cast<std::size_t>(peer.width) * peer.height * 3)
    return "short dump";
  for (int y = 0; y < ours.Height(); ++y) {
    for (int x = 0; x < ours.Width(); ++x) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(peer.rgb.data()) +
                      3 * (static_cast<std::size_t>(y) * peer.width + x);
      const COLORREF c = ours.Pixel(x, y);
      if (c != RGB(p[0], p[1], p[2])) {
        std::ostringstream s;
        s << "pixel (" << x << ", " << y << "): ours " << std::hex << c << ", peer "
          << RGB(p[0], p[1], p[2]);
        return s.str();
      }
    }
  }
  return "";
}

Bitmap Sample(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y,
                 RGB(static_cast<std::uint8_t>(x * 11), static_cast<std::uint8_t>(y * 13),
                     static_cast<std::uint8_t>(x * y)));
  return b;
}

class PictureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    // Our writer's files go in first, so the peer reads them back too.
    Bitmap few(7, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) few.SetPixel(x, y, (x + y) % 3 ? 0x204080 : 0xF0E0D0);
    WriteFileBytes(*dir_ / "ours24.bmp", SaveBmp(Sample(13, 7)));
    WriteFileBytes(*dir_ / "ours24td.bmp", SaveBmp(Sample(13, 7), {24, true}));
    WriteFileBytes(*dir_ / "ours32.bmp", SaveBmp(Sample(5, 3), {32, false}));
    WriteFileBytes(*dir_ / "ours8.bmp", SaveBmp(few, {8, false}));
    WriteFileBytes(*dir_ / "ours.png", SavePng(Sample(9, 4)));
    WriteFileBytes(*dir_ / "ours.jpg", SaveJpeg(Sample(16, 16), 95));
    std::string out;
    const std::string program = std::string("DIR = '") + (*dir_ / "") + "'\n" + kPeer;
    status_ = test::RunPython(*dir_, program, &out);
    output_ = out;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(status_, 0) << output_; }

  static std::string Path(const std::string& name) { return *dir_ / name; }
  static Decoded Peer(const std::string& name) { return ReadDump(Path(name) + ".rgb"); }

  static inline TempDir* dir_ = nullptr;
  static inline int status_ = -1;
  static inline std::string output_;
};

TEST_F(PictureTest, DecodesLikeThePeer) {
  const char* files[] = {"colour.jpg",     "progressive.jpg", "grey.jpg",     "plain.gif",
                         "interlaced.gif", "animated.gif",    "rgb24.bmp",    "grey8.bmp",
                         "palette8.bmp",   "mono1.bmp",       "nibbles4.bmp", "topdown4.bmp",
                         "rle8.bmp",       "rle4.bmp",        "bits565.bmp",  "bits555.bmp",
                         "core8.bmp",      "ours.png"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Compare(LoadPictureFile(Path(name)), Peer(name)), "");
  }
}

TEST_F(PictureTest, GreyJpegMatchesLibjpegGreyOutput) {
  const Bitmap grey = LoadPictureFile(Path("colour.jpg"), {.Grayscale = true});
  EXPECT_EQ(Compare(grey, Peer("colour.jpg.grey")), "");
  EXPECT_EQ(grey.Pixel(3, 3) & 0xFF, (grey.Pixel(3, 3) >> 8) & 0xFF);
}

TEST_F(PictureTest, OurFilesReadBackByThePeerAndByUs) {
  struct Case {
    const char* file;
    Bitmap original;
  };
  Bitmap few(7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) few.SetPixel(x, y, (x + y) % 3 ? 0x204080 : 0xF0E0D0);
  const Case cases[] = {{"ours24.bmp", Sample(13, 7)},
                        {"ours24td.bmp", Sample(13, 7)},
                        {"ours32.bmp", Sample(5, 3)},
                        {"ours8.bmp", few},
                        {"ours.png", Sample(9, 4)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Compare(c.original, Peer(c.file)), "");
    EXPECT_EQ(LoadPictureFile(Path(c.file)), c.original);
  }
  // Lossy: the peer and we decode our JPEG alike, and close to what went in.
  const Bitmap jpeg = LoadPictureFile(Path("ours.jpg"));
  EXPECT_EQ(Compare(jpeg, Peer("ours.jpg")), "");
  const Bitmap sample = Sample(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_NEAR(GetRValue(jpeg.Pixel(x, y)), GetRValue(sample.Pixel(x, y)), 24);
}

TEST_F(PictureTest, GifGivesTheFirstImageAndItsOpaquePart) {
  const GifPicture gif = LoadGif(ReadFileBytes(Path("animated.gif")));
  EXPECT_EQ(gif.Image.Width(), 37);
  EXPECT_EQ(gif.Opaque, Region(Rect{0, 0, 37, 23}));
}

TEST_F(PictureTest, GifTransparentPixelsAreLeftOutOfTheOpaqueRegion) {
  const GifPicture gif = LoadGif(ReadFileBytes(Path("transparent.gif")));
  const std::vector<std::uint8_t> idx = ReadFileBytes(Path("transparent.gif.idx"));
  const Decoded peer = Peer("transparent.gif");
  ASSERT_EQ(idx.size(), 1u + 37 * 23);
  int transparent = 0;
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      const bool clear = idx[1 + static_cast<std::size_t>(y) * 37 + x] == idx[0];
      transparent += clear;
      ASSERT_EQ(gif.Opaque.Contains({x, y}), !clear) << x << ", " << y;
      if (clear) continue;
      const auto* p = reinterpret_cast<const std::uint8_t*>(peer.rgb.data()) + 3 * (y * 37 + x);
      ASSERT_EQ(gif.Image.Pixel(x, y), RGB(p[0], p[1], p[2])) << x << ", " << y;
    }
  }
  EXPECT_GT(transparent, 0);
}

TEST_F(PictureTest, MalformedFilesFailCleanly) {
  // Every cut of a file inside its picture data is refused with EInvalidGraphic.
  struct Case {
    const char* file;
    std::size_t keep;  // bytes at the end a cut may drop without harm
  };
  const Case cases[] = {
      {"colour.jpg", 0},     {"progressive.jpg", 0}, {"plain.gif", 2},
      {"interlaced.gif", 2}, {"rgb24.bmp", 0},       {"rle8.bmp", 0},
      {"palette8.bmp", 0},   {"ours.png", 12}};  // a PNG's end chunk holds no picture
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::uint8_t> data = ReadFileBytes(Path(c.file));
    const std::size_t step = std::max<std::size_t>(1, data.size() / 300);
    for (std::size_t n = 0; n + c.keep < data.size(); n += step) {
      SCOPED_TRACE(n);
      EXPECT_THROW((void)LoadPicture(std::span(data.data(), n)), EInvalidGraphic);
    }
  }

  // Damaged bytes may decode to something or be refused, but never crash.
  std::mt19937 rng(11);
  for (const char* file :
       {"colour.jpg", "plain.gif", "interlaced.gif", "rle8.bmp", "palette8.bmp", "nibbles4.bmp"}) {
    SCOPED_TRACE(file);
    const std::vector<std::uint8_t> original = ReadFileBytes(Path(file));
    for (int round = 0; round < 200; ++round) {
      std::vector<std::uint8_t> data = original;
      for (int k = 0; k < 4; ++k) data[rng() % data.size()] = static_cast<std::uint8_t>(rng());
      try {
        (void)LoadPicture(data);
      } catch (const EInvalidGraphic&) {
      }
    }
  }
}

// A BMP whose palette index i is the grey (i, i, i).
std::vector<std::uint8_t> GreyRle(int width, int height, int bits, std::vector<std::uint8_t> rle) {
  const int colours = 1 << bits;
  const std::uint32_t offset = 14 + 40 + 4 * colours;
  std::vector<std::uint8_t> out = {'B', 'M'};
  const auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put32(offset + static_cast<std::uint32_t>(rle.size()));
  put32(0);
  put32(offset);
  put32(40);
  put32(static_cast<std::uint32_t>(width));
  put32(static_cast<std::uint32_t>(height));
  put32(1 | (static_cast<std::uint32_t>(bits) << 16));
  put32(bits == 8 ? 1 : 2);
  put32(static_cast<std::uint32_t>(rle.size()));
  put32(0);
  put32(0);
  put32(static_cast<std::uint32_t>(colours));
  put32(0);
  for (int i = 0; i < colours; ++i) put32(static_cast<std::uint32_t>(i * 0x010101));
  out.insert(out.end(), rle.begin(), rle.end());
  return out;
}

std::vector<std::string> Indexes(const Bitmap& bmp) {
  std::vector<std::string> rows;
  for (int y = 0; y < bmp.Height(); ++y) {
    std::string row;
    for (int x = 0; x < bmp.Width(); ++x) row += static_cast<char>('0' + (bmp.Pixel(x, y) & 0xFF));
    rows.push_back(row);
  }
  return rows;
}

TEST(BmpTest, RunLengthDeltasAndOddAbsoluteRuns) {
  // RLE8 4 x 3, bottom-up: "12" then a delta of (1 right, 1 up), "3", end of line, "4444".
  EXPECT_EQ(Indexes(LoadBmp(GreyRle(4, 3, 8, {1, 1, 1, 2, 0, 2, 1, 1, 1, 3, 0, 0, 4, 4, 0, 1}))),
            (std::vector<std::string>{"4444", "0003", "1200"}));
  // RLE4 5 x 1: an absolute run of three nibbles, padded to a 16-bit boundary, then a run.
  EXPECT_EQ(Indexes(LoadBmp(GreyRle(5, 1, 4, {0, 3, 0x56, 0x70, 2, 0x89, 0, 1}))),
            (std::vector<std::string>{"56789"}));
  // Runs past the right edge are cut; data after the last row is ignored.
  EXPECT_EQ(Indexes(LoadBmp(GreyRle(2, 1, 8, {5, 7, 0, 0, 3, 3, 0, 1}))),
            (std::vector<std::string>{"77"}));
  // A run-length file that ends without its end marker is truncated.
  EXPECT_THROW((void)LoadBmp(GreyRle(2, 2, 8, {2, 7, 0, 0})), EInvalidGraphic);
}

}  // namespace
}  // namespace qv
