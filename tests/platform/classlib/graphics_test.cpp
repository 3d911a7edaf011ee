#include "platform/classlib/graphics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/streams.h"
#include "platform/classlib/jpeg.h"
#include "platform/gfx/jpeg_codec.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace qv {
namespace {

using test::Picture;

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kGreen = 0x00FF00;
constexpr COLORREF kBlue = 0xFF0000;

// Four one-pixel quadrants: red, green / blue, black.
std::unique_ptr<TBitmap> Quadrants() {
  auto bmp = std::make_unique<TBitmap>(2, 2);
  bmp->Image().SetPixel(0, 0, kRed);
  bmp->Image().SetPixel(1, 0, kGreen);
  bmp->Image().SetPixel(0, 1, kBlue);
  bmp->Image().SetPixel(1, 1, 0x000000);
  return bmp;
}

TEST(TBitmapTest, ScanLinesAreTheBitmapRowsAndAreChecked) {
  TBitmap bmp(3, 2);
  EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf24bit);
  std::uint8_t* row = bmp.ScanLine(1);
  row[3] = 0x10;  // B G R of pixel (1, 1)
  row[4] = 0x20;
  row[5] = 0x30;
  EXPECT_EQ(COLORREF(bmp.Canvas().Pixel(1, 1)), RGB(0x30, 0x20, 0x10));
  for (int y : {-1, 2, 1000}) {
    SCOPED_TRACE(y);
    try {
      (void)bmp.ScanLine(y);
      FAIL() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_STREQ(e.what(), "Scan line index out of range");
    }
  }
  bmp.SetPixelFormat(PixelFormat::pf32bit);
  EXPECT_EQ(bmp.ScanLine(1)[4 + 2], 0x30);
  EXPECT_EQ(bmp.ScanLine(1)[4 + 3], 0xFF);
}

TEST(TBitmapTest, StreamsRoundTripAndBadDataKeepsThePicture) {
  for (PixelFormat pf : {PixelFormat::pf24bit, PixelFormat::pf32bit}) {
    SCOPED_TRACE(int(pf));
    auto src = Quadrants();
    src->SetPixelFormat(pf);
    TMemoryStream s;
    src->SaveToStream(s);
    s.SetPosition(0);
    TBitmap back;
    int changes = 0;
    back.OnChange = [&](TGraphic*) { ++changes; };
    back.LoadFromStream(s);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Picture(back.Image()), Picture(src->Image()));

    TMemoryStream junk;
    junk.WriteBuffer(std::string_view("BM this is not a bitmap"));
    junk.SetPosition(0);
    EXPECT_THROW(back.LoadFromStream(junk), EInvalidGraphic);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Picture(back.Image()), Picture(src->Image()));
  }
}

}  // namespace
}  // namespace qv
