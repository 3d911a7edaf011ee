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

// A white bitmap drawn with the built-in font, so text pixels are exact.
std::unique_ptr<TBitmap> WhiteBitmap(int w, int h) {
  auto bmp = std::make_unique<TBitmap>(w, h);
  bmp->Image().Fill(kWhite);
  bmp->Canvas().Font().SetName(std::string(kBuiltinFontName));
  bmp->Canvas().Font().SetHeight(0);
  return bmp;
}

int CountPixels(const Bitmap& bmp, COLORREF c, const Rect& area) {
  int n = 0;
  for (int y = area.Top; y < area.Bottom; ++y)
    for (int x = area.Left; x < area.Right; ++x) n += bmp.Pixel(x, y) == c;
  return n;
}

// Four one-pixel quadrants: red, green / blue, black.
std::unique_ptr<TBitmap> Quadrants() {
  auto bmp = std::make_unique<TBitmap>(2, 2);
  bmp->Image().SetPixel(0, 0, kRed);
  bmp->Image().SetPixel(1, 0, kGreen);
  bmp->Image().SetPixel(0, 1, kBlue);
  bmp->Image().SetPixel(1, 1, 0x000000);
  return bmp;
}

std::vector<std::uint8_t> StreamBytes(TMemoryStream& s) {
  return s.Bytes();
}

TEST(TFontTest, SizeAndHeightConvertAt96PixelsPerInch) {
  struct Case {
    int height;
    int size;
  };
  // Heights as the form data stores them and the sizes the class library reports for them.
  for (const Case c :
       {Case{-11, 8}, Case{-19, 14}, Case{-13, 10}, Case{-16, 12}, Case{0, 0}, Case{12, -9}}) {
    SCOPED_TRACE(c.height);
    TFont f;
    f.SetHeight(c.height);
    EXPECT_EQ(f.Size(), c.size);
  }
  for (const Case c : {Case{-11, 8}, Case{-16, 12}, Case{-13, 10}, Case{-27, 20}}) {
    SCOPED_TRACE(c.size);
    TFont f;
    f.SetSize(c.size);
    EXPECT_EQ(f.Height(), c.height);
  }
}

TEST(TFontTest, OnChangeFiresOncePerRealChange) {
  TFont f;
  int changes = 0;
  f.OnChange = [&](TGraphicsObject* sender) {
    EXPECT_EQ(sender, &f);
    ++changes;
  };
  f.SetName("MS Sans Serif");  // the default already
  f.SetHeight(-11);
  f.SetColor(clWindowText);
  EXPECT_EQ(changes, 0);
  f.SetStyle(fsBold);
  f.SetColor(clRed);
  f.SetSize(14);
  EXPECT_EQ(changes, 3);

  TFont other;
  other.SetName("Arial");
  other.SetHeight(-19);
  f.Assign(other);
  EXPECT_EQ(changes, 4);
  EXPECT_TRUE(f.SameAs(other));
  f.Assign(other);
  EXPECT_EQ(changes, 4);
}

TEST(TBrushTest, AColourMakesAClearBrushSolid) {
  TBrush b;
  b.SetStyle(BrushStyle::bsClear);
  b.SetColor(clRed);
  EXPECT_EQ(b.Style(), BrushStyle::bsSolid);
  EXPECT_EQ(b.Color(), clRed);
}

TEST(TCanvasTest, DrawingWithoutADeviceContextIsRefused) {
  TCanvas canvas;
  EXPECT_FALSE(canvas.HandleAllocated());
  try {
    canvas.FillRect({0, 0, 4, 4});
    FAIL() << "no exception";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Canvas does not allow drawing");
  }
}

TEST(TCanvasTest, BrushPenAndFontReachTheBitmap) {
  auto bmp = WhiteBitmap(40, 20);
  TCanvas& c = bmp->Canvas();
  c.Brush().SetColor(clRed);
  c.FillRect({0, 0, 4, 4});
  c.Pen().SetColor(clBlue);
  c.Brush().SetColor(clLime);
  c.Rectangle(10, 0, 16, 6);
  const Bitmap& img = bmp->Image();
  EXPECT_EQ(img.Pixel(3, 3), kRed);
  EXPECT_EQ(img.Pixel(4, 4), kWhite);  // right and bottom edges excluded
  EXPECT_EQ(img.Pixel(10, 0), kBlue);  // the frame in the pen
  EXPECT_EQ(img.Pixel(15, 5), kBlue);
  EXPECT_EQ(img.Pixel(12, 2), kGreen);  // the inside in the brush
  // A clear brush fills nothing.
  c.Brush().SetStyle(BrushStyle::bsClear);
  c.FillRect({20, 0, 30, 10});
  EXPECT_EQ(CountPixels(img, kWhite, {20, 0, 30, 10}), 100);
  // Pixels by colour name resolve system colours.
  c.SetPixel(39, 19, clBtnFace);
  EXPECT_EQ(COLORREF(c.Pixel(39, 19)), ColorToRGB(clBtnFace));
  EXPECT_EQ(c.Pixel(40, 0), -1);  // outside
}

TEST(TCanvasTest, TextUsesTheFontColourAndTheBrushAsBackground) {
  auto bmp = WhiteBitmap(60, 14);
  TCanvas& c = bmp->Canvas();
  c.Font().SetColor(clRed);
  c.Brush().SetColor(clLime);
  const Size ext = c.TextExtent("Ab");
  ASSERT_GT(ext.cx, 0);
  ASSERT_GT(ext.cy, 0);
  c.TextOut(2, 1, "Ab");
  const Bitmap& img = bmp->Image();
  const Rect cell = Bounds(2, 1, ext.cx, ext.cy);
  EXPECT_GT(CountPixels(img, kRed, cell), 0);
  EXPECT_GT(CountPixels(img, kGreen, cell), 0);
  EXPECT_EQ(CountPixels(img, kRed, cell) + CountPixels(img, kGreen, cell), ext.cx * ext.cy);
  EXPECT_EQ(c.PenPos(), (Point{2 + ext.cx, 1}));

  // A colour changed after the canvas selected its font takes effect; a clear brush leaves
  // the background alone.
  c.Font().SetColor(clBlue);
  c.Brush().SetStyle(BrushStyle::bsClear);
  c.TextOut(30, 1, "Ab");
  const Rect cell2 = Bounds(30, 1, ext.cx, ext.cy);
  EXPECT_EQ(CountPixels(img, kRed, cell2), 0);
  EXPECT_EQ(CountPixels(img, kBlue, cell2), CountPixels(img, kRed, cell));
  EXPECT_EQ(CountPixels(img, kWhite, cell2) + CountPixels(img, kBlue, cell2), ext.cx * ext.cy);
}

TEST(TCanvasTest, DirectDrawingOnTheHandleStaysUntilTheCanvasObjectsChange) {
  auto bmp = WhiteBitmap(40, 14);
  TCanvas& c = bmp->Canvas();
  c.Brush().SetStyle(BrushStyle::bsClear);
  c.Font().SetColor(clRed);
  DC* dc = c.Handle();
  dc->SetTextColor(clBlue);
  c.TextOut(0, 0, "W");
  EXPECT_EQ(CountPixels(bmp->Image(), kRed, {0, 0, 40, 14}), 0);
  EXPECT_GT(CountPixels(bmp->Image(), kBlue, {0, 0, 40, 14}), 0);
  c.Font().SetColor(clLime);
  c.TextOut(20, 0, "W");
  EXPECT_GT(CountPixels(bmp->Image(), kGreen, {20, 0, 40, 14}), 0);
}

TEST(TCanvasTest, TextRectCutsTheTextToItsRectangle) {
  auto bmp = WhiteBitmap(60, 14);
  TCanvas& c = bmp->Canvas();
  c.Font().SetColor(clBlack);
  c.Brush().SetColor(clLime);
  const Rect r{5, 0, 15, 14};
  c.TextRect(r, 5, 0, "WWWWWWWW");
  const Bitmap& img = bmp->Image();
  EXPECT_EQ(CountPixels(img, 0x000000, r) + CountPixels(img, kGreen, r), r.Width() * r.Height());
  EXPECT_GT(CountPixels(img, 0x000000, r), 0);
  EXPECT_EQ(CountPixels(img, kWhite, {15, 0, 60, 14}), 45 * 14);
  EXPECT_EQ(CountPixels(img, kWhite, {0, 0, 5, 14}), 5 * 14);
  // The clip does not outlive the call.
  c.FillRect({0, 0, 60, 14});
  EXPECT_EQ(CountPixels(img, kGreen, {0, 0, 60, 14}), 60 * 14);
}

TEST(TCanvasTest, AttachedDeviceContextDrawsWhereTheWindowSystemPutsIt) {
  Bitmap back(20, 10);
  back.Fill(kWhite);
  DC dc(&back);
  dc.SetDeviceOrigin({8, 2});
  TCanvas c;
  c.SetHandle(&dc);
  c.Brush().SetColor(clBlue);
  c.FillRect({0, 0, 2, 2});
  EXPECT_EQ(back.Pixel(8, 2), kBlue);
  EXPECT_EQ(back.Pixel(9, 3), kBlue);
  EXPECT_EQ(back.Pixel(0, 0), kWhite);
  EXPECT_EQ(CountPixels(back, kBlue, back.BoundsRect()), 4);
  c.SetHandle(nullptr);
  EXPECT_THROW(c.FillRect({0, 0, 1, 1}), EInvalidGraphicOperation);
}

TEST(TCanvasTest, DrawStretchDrawAndCopyRect) {
  auto src = Quadrants();
  auto dst = WhiteBitmap(12, 6);
  TCanvas& c = dst->Canvas();
  c.Draw(0, 0, src.get());
  c.StretchDraw({4, 0, 8, 4}, src.get());
  c.CopyRect({8, 0, 12, 2}, src->Canvas(), {0, 0, 2, 1});
  c.Draw(0, 4, nullptr);  // nothing, no failure
  TBitmap empty;
  c.Draw(0, 4, &empty);
  EXPECT_EQ(Picture(dst->Image()), Picture({
                                       "rg..rrggrrgg",
                                       "b#..rrggrrgg",
                                       "....bb##....",
                                       "....bb##....",
                                       "............",
                                       "............",
                                   }));
}

TEST(TBitmapTest, CanvasFollowsTheBitmapThroughResizes) {
  TBitmap bmp(4, 4);
  TCanvas& c = bmp.Canvas();
  c.Brush().SetColor(clRed);
  c.FillRect({0, 0, 100, 100});
  bmp.SetSize(30, 20);
  EXPECT_EQ(bmp.Width(), 30);
  EXPECT_EQ(bmp.Height(), 20);
  EXPECT_EQ(bmp.Image().Pixel(3, 3), kRed);  // kept
  EXPECT_EQ(bmp.Image().Pixel(29, 19), 0u);  // new pixels are black
  c.FillRect({0, 0, 100, 100});              // reaches the new area
  EXPECT_EQ(CountPixels(bmp.Image(), kRed, bmp.Image().BoundsRect()), 600);
  bmp.SetWidth(2);
  bmp.SetHeight(3);
  c.Brush().SetColor(clBlue);
  c.FillRect({0, 0, 100, 100});  // stays inside the smaller bitmap (ASan watches)
  EXPECT_EQ(CountPixels(bmp.Image(), kBlue, bmp.Image().BoundsRect()), 6);
  bmp.SetSize(0, 5);
  EXPECT_TRUE(bmp.Empty());
  c.FillRect({0, 0, 100, 100});
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

TEST(TBitmapTest, FilesAreReplacedWholeOrNotAtAll) {
  test::TempDir dir;
  auto src = Quadrants();
  const std::string file = dir / "q.bmp";
  src->SaveToFile(file);
  TBitmap back;
  back.LoadFromFile(file);
  EXPECT_EQ(Picture(back.Image()), Picture(src->Image()));
  EXPECT_THROW(back.LoadFromFile(dir / "missing.bmp"), EFOpenError);
  EXPECT_EQ(back.Width(), 2);
  EXPECT_THROW(src->SaveToFile(dir / "no/such/folder/q.bmp"), Exception);
}

// A 16 x 8 JPEG: left half red, right half blue.
std::vector<std::uint8_t> TwoColourJpeg() {
  TBitmap bmp(16, 8);
  bmp.Canvas().Brush().SetColor(clRed);
  bmp.Canvas().FillRect({0, 0, 8, 8});
  bmp.Canvas().Brush().SetColor(clBlue);
  bmp.Canvas().FillRect({8, 0, 16, 8});
  return SaveJpeg(bmp.Image(), 95);
}

bool Near(COLORREF a, COLORREF b, int tolerance = 24) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST(TJPEGImageTest, KeepsTheBytesAndDecodesInColourOrGrey) {
  const std::vector<std::uint8_t> bytes = TwoColourJpeg();
  TMemoryStream in;
  in.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  in.SetPosition(0);
  TJPEGImage jpeg;
  EXPECT_TRUE(jpeg.Empty());
  jpeg.LoadFromStream(in);
  EXPECT_FALSE(jpeg.Empty());
  EXPECT_EQ(jpeg.Width(), 16);
  EXPECT_EQ(jpeg.Height(), 8);
  TMemoryStream out;
  jpeg.SaveToStream(out);
  EXPECT_EQ(StreamBytes(out), bytes);  // written back unchanged

  auto dst = WhiteBitmap(20, 8);
  dst->Canvas().Draw(2, 0, &jpeg);
  EXPECT_TRUE(Near(dst->Image().Pixel(4, 4), kRed)) << std::hex << dst->Image().Pixel(4, 4);
  EXPECT_TRUE(Near(dst->Image().Pixel(15, 4), kBlue)) << std::hex << dst->Image().Pixel(15, 4);
  EXPECT_EQ(dst->Image().Pixel(1, 4), kWhite);
  EXPECT_EQ(dst->Image().Pixel(18, 4), kWhite);

  int changes = 0;
  jpeg.OnChange = [&](TGraphic*) { ++changes; };
  jpeg.SetGrayscale(true);
  EXPECT_EQ(changes, 1);
  const COLORREF grey = jpeg.Image().Pixel(3, 3);
  EXPECT_EQ(GetRValue(grey), GetGValue(grey));
  EXPECT_EQ(GetGValue(grey), GetBValue(grey));
  EXPECT_GT(GetRValue(grey), 40);  // red's luminance, not black
  EXPECT_LT(GetRValue(grey), 120);
  out.Clear();
  jpeg.SaveToStream(out);
  EXPECT_EQ(StreamBytes(out), bytes);  // grey is only how it shows
  jpeg.SetGrayscale(true);
  EXPECT_EQ(changes, 1);
}

TEST(TJPEGImageTest, RefusesWhatItCannotDoAndKeepsItsPicture) {
  const std::vector<std::uint8_t> bytes = TwoColourJpeg();
  test::TempDir dir;
  const std::string file = dir / "cover.jpg";
  WriteFileAtomically(file, std::span<const std::uint8_t>(bytes));
  TJPEGImage jpeg;
  jpeg.LoadFromFile(file);

  std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 40);
  TMemoryStream bad;
  bad.WriteBuffer(cut.data(), int64_t(cut.size()));
  bad.SetPosition(0);
  EXPECT_THROW(jpeg.LoadFromStream(bad), EInvalidGraphic);
  TMemoryStream none;
  EXPECT_THROW(jpeg.LoadFromStream(none), EInvalidGraphic);
  EXPECT_EQ(jpeg.Width(), 16);
  TMemoryStream out;
  jpeg.SaveToStream(out);
  EXPECT_EQ(StreamBytes(out), bytes);

  try {
    jpeg.SetWidth(3);
    FAIL() << "no exception";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Cannot change the size of a JPEG image");
  }
  TBitmap bmp(2, 2);
  try {
    jpeg.Assign(bmp);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TBitmap to a TJPEGImage");
  }
  // The other way a JPEG picture becomes a bitmap of its pixels.
  bmp.Assign(jpeg);
  EXPECT_EQ(bmp.Width(), 16);
  EXPECT_EQ(Picture(bmp.Image()), Picture(jpeg.Image()));
}

TEST(TPictureTest, LoadsByExtensionAndKeepsItsGraphicOnFailure) {
  test::TempDir dir;
  const std::vector<std::uint8_t> jpegBytes = TwoColourJpeg();
  const std::string jpg = dir / "COVER.JPG";
  WriteFileAtomically(jpg, std::span<const std::uint8_t>(jpegBytes));
  const std::string bmpFile = dir / "q.bmp";
  Quadrants()->SaveToFile(bmpFile);
  const std::string gif = dir / "a.gif";
  WriteFileAtomically(gif, std::string_view("GIF89a"));
  const std::string badJpg = dir / "bad.jpeg";
  WriteFileAtomically(badJpg, std::string_view("not a jpeg"));

  TPicture pic;
  int changes = 0;
  pic.OnChange = [&](TPicture* sender) {
    EXPECT_EQ(sender, &pic);
    ++changes;
  };
  EXPECT_EQ(pic.Graphic(), nullptr);
  EXPECT_EQ(pic.Width(), 0);
  pic.LoadFromFile(jpg);
  EXPECT_NE(dynamic_cast<TJPEGImage*>(pic.Graphic()), nullptr);
  EXPECT_EQ(pic.Width(), 16);
  EXPECT_EQ(changes, 1);

  try {
    pic.LoadFromFile(gif);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Unknown picture file extension (.gif)");
  }
  EXPECT_THROW(pic.LoadFromFile(badJpg), EInvalidGraphic);
  EXPECT_THROW(pic.LoadFromFile(dir / "missing.jpg"), EFOpenError);
  EXPECT_NE(dynamic_cast<TJPEGImage*>(pic.Graphic()), nullptr);
  EXPECT_EQ(pic.Width(), 16);
  EXPECT_EQ(changes, 1);

  pic.LoadFromFile(bmpFile);
  ASSERT_NE(dynamic_cast<TBitmap*>(pic.Graphic()), nullptr);
  EXPECT_EQ(changes, 2);
  // Drawing on the picture's bitmap is a change of the picture.
  pic.Bitmap().Canvas().SetPixel(0, 0, clWhite);
  EXPECT_EQ(changes, 3);
}

TEST(TPictureTest, AssignCopiesAndBitmapReplacesOtherGraphics) {
  test::TempDir dir;
  const std::vector<std::uint8_t> jpegBytes = TwoColourJpeg();
  const std::string jpg = dir / "c.jpeg";
  WriteFileAtomically(jpg, std::span<const std::uint8_t>(jpegBytes));
  TPicture a;
  a.LoadFromFile(jpg);
  TPicture b;
  b.Assign(&a);
  ASSERT_NE(b.Graphic(), nullptr);
  EXPECT_NE(b.Graphic(), a.Graphic());
  static_cast<TJPEGImage*>(b.Graphic())->SetGrayscale(true);
  EXPECT_FALSE(static_cast<TJPEGImage*>(a.Graphic())->Grayscale());
  const std::string saved = dir / "saved.jpg";
  b.SaveToFile(saved);
  TMemoryStream reread;
  reread.LoadFromFile(saved);
  EXPECT_EQ(reread.Bytes(), jpegBytes);

  TBitmap& bmp = b.Bitmap();  // a JPEG picture gives way to an empty bitmap
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(b.Graphic(), &bmp);
  EXPECT_EQ(&b.Bitmap(), &bmp);
  b.Assign(nullptr);
  EXPECT_EQ(b.Graphic(), nullptr);
  a.Assign(&a);
  EXPECT_EQ(a.Width(), 16);
  a.SetGraphic(nullptr);
  EXPECT_EQ(a.Graphic(), nullptr);
}

}  // namespace
}  // namespace qv
