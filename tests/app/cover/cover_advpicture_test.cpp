#include <gtest/gtest.h>

#include "app/cover/advpicture.h"
#include "platform/base/streams.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/picture.h"
#include "platform/gfx/png_codec.h"
#include "platform/ui/window_system.h"
#include "tests/app/cover/cover_test_util.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

using testing::SolidBmp;
using testing::SolidJpeg;
using testing::TempDir;

constexpr COLORREF kRed = RGB(200, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

TEST(PicturePlacementTest, FollowsTheTableForEveryPositionAndMode) {
  struct Case {
    TPicturePosition pos;
    TStretchMode mode;
    int W, H, pw, ph;
    Rect expected;
  };
  const Case cases[] = {
      // The cover case: shrunk to 254 x 127 and centred at x = 23.
      {bpCenter, smShrink, 300, 127, 600, 300, {23, 0, 277, 127}},
      // Wider than high relative to the control: fitted to the width.
      {bpCenter, smShrink, 100, 100, 400, 100, {0, 37, 100, 62}},
      {bpTopLeft, smShrink, 300, 127, 600, 300, {0, 0, 254, 127}},
      {bpTopRight, smShrink, 300, 127, 600, 300, {46, 0, 300, 127}},
      {bpBottomLeft, smShrink, 100, 100, 400, 100, {0, 75, 100, 100}},
      {bpBottomRight, smShrink, 300, 127, 600, 300, {46, 0, 300, 127}},
      // A picture that fits is not enlarged.
      {bpCenter, smShrink, 300, 127, 100, 50, {100, 38, 200, 88}},
      {bpBottomRight, smShrink, 300, 127, 100, 50, {200, 77, 300, 127}},
      // smNever: natural size; positions never go negative.
      {bpCenter, smNever, 300, 127, 600, 300, {0, 0, 600, 300}},
      {bpCenter, smNever, 300, 127, 100, 50, {100, 38, 200, 88}},
      {bpTopRight, smNever, 300, 127, 100, 50, {200, 0, 300, 50}},
      {bpBottomLeft, smNever, 300, 127, 100, 50, {0, 77, 100, 127}},
      {bpBottomRight, smNever, 300, 127, 600, 300, {0, 0, 600, 300}},
      {bpStretched, smNever, 300, 127, 10, 10, {0, 0, 300, 127}},
      {bpStretched, smShrink, 300, 127, 600, 300, {0, 0, 300, 127}},
      {bpStretchedWithAspect, smNever, 300, 127, 600, 300, {0, 0, 254, 127}},
      {bpStretchedWithAspect, smNever, 300, 300, 60, 30, {0, 0, 300, 150}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "position " << c.pos << " mode " << c.mode << " " << c.pw
                                      << "x" << c.ph << " in " << c.W << "x" << c.H);
    const std::vector<Rect> r = PicturePlacement(c.pos, c.mode, c.W, c.H, c.pw, c.ph);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], c.expected);
  }
  const std::vector<Rect> tiles = PicturePlacement(bpTiled, smShrink, 250, 120, 100, 50);
  ASSERT_EQ(tiles.size(), 9u);
  EXPECT_EQ(tiles[0], (Rect{0, 0, 100, 50}));
  EXPECT_EQ(tiles[8], (Rect{200, 100, 300, 150}));
  EXPECT_TRUE(PicturePlacement(bpCenter, smShrink, 0, 127, 600, 300).empty());
  EXPECT_TRUE(PicturePlacement(bpCenter, smShrink, 300, 127, 0, 0).empty());
}

class AdvPictureTest : public ::testing::Test {
 protected:
  // A white canvas with the control's client area at (50, 40).
  Bitmap canvas{400, 200};
  DC dc{&canvas};
  TAdvPicture control{nullptr};
  const Rect client = Bounds(50, 40, 300, 127);

  void SetUp() override { canvas.Fill(kWhite); }
  COLORREF At(int x, int y) const { return canvas.Pixel(client.Left + x, client.Top + y); }
};

TEST_F(AdvPictureTest, CoverIsDrawnShrunkAndCentred) {
  control.SetPicturePosition(bpCenter);
  control.SetStretchMode(smShrink);
  control.Picture().LoadFromBytes(SolidBmp(600, 300, kRed));
  control.PaintTo(dc, client);
  // Drawn 254 x 127 from x = 23: the first and last columns are painted, their
  // neighbours outside are not.
  EXPECT_EQ(At(22, 63), kWhite);
  EXPECT_EQ(At(23, 63), kRed);
  EXPECT_EQ(At(276, 63), kRed);
  EXPECT_EQ(At(277, 63), kWhite);
  EXPECT_EQ(At(100, 0), kRed);
  EXPECT_EQ(At(100, 126), kRed);
  // Nothing outside the control.
  EXPECT_EQ(canvas.Pixel(150, 40 + 127), kWhite);
  EXPECT_EQ(canvas.Pixel(150, 39), kWhite);
}

TEST_F(AdvPictureTest, NaturalSizeIsClippedToTheControlAndEmptyPicturesDrawNothing) {
  control.SetPicturePosition(bpTopLeft);
  control.SetStretchMode(smNever);
  control.Picture().LoadFromBytes(SolidBmp(600, 300, kRed));
  control.PaintTo(dc, client);
  EXPECT_EQ(At(299, 126), kRed);
  EXPECT_EQ(At(300, 100), kWhite);
  EXPECT_EQ(At(100, 127), kWhite);

  canvas.Fill(kWhite);
  control.Picture().Clear();
  control.PaintTo(dc, client);
  EXPECT_EQ(At(10, 10), kWhite);
}

TEST_F(AdvPictureTest, AutoSizeAndRepaintRequests) {
  int repaints = 0;
  control.OnInvalidate = [&](const Rect&, bool erase) {
    EXPECT_FALSE(erase);
    ++repaints;
  };
  control.SetAutoSize(true);
  control.Picture().LoadFromBytes(SolidBmp(64, 32, kRed));
  EXPECT_EQ(control.Width(), 64);
  EXPECT_EQ(control.Height(), 32);
  EXPECT_GE(repaints, 1);
  const int before = repaints;
  control.SetPicturePosition(bpCenter);
  control.SetPicturePosition(bpCenter);
  EXPECT_EQ(repaints, before + 1);
}

TEST(IPictureTest, KeepsTheBytesAndReportsTheExtent) {
  TempDir dir;
  const std::vector<std::uint8_t> jpeg = SolidJpeg(120, 80, kRed);
  const auto path = (dir.Path() / "in.jpg").string();
  WriteFileBytes(path, jpeg);
  TIPicture picture;
  int changes = 0;
  picture.OnChange = [&](TGraphic*) { ++changes; };
  picture.LoadFromFile(path);
  ASSERT_FALSE(picture.Empty());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(picture.Width(), 120);
  EXPECT_EQ(picture.Height(), 80);
  picture.PixelsPerInchX = 192;
  picture.PixelsPerInchY = 48;
  EXPECT_EQ(picture.Width(), 240);
  EXPECT_EQ(picture.Height(), 40);
  EXPECT_EQ(picture.GifScreenWidth(), 0);

  const auto out = (dir.Path() / "out.jpg").string();
  picture.SaveToFile(out);
  EXPECT_EQ(testing::ReadAll(out), jpeg);
  TMemoryStream stream;
  picture.SaveToStream(stream);
  EXPECT_EQ(stream.Bytes(), jpeg);

  TIPicture copy;
  copy.Assign(&picture);
  EXPECT_EQ(copy.Data(), jpeg);
  EXPECT_FALSE(copy.Empty());
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
  EXPECT_TRUE(copy.Data().empty());
  TBitmap bitmap;
  EXPECT_THROW(copy.Assign(static_cast<const TGraphic&>(bitmap)), EConvertError);

  // Drawn like any graphic through a canvas.
  Bitmap target(120, 80);
  target.Fill(kWhite);
  DC dc(&target);
  TCanvas canvas;
  canvas.SetHandle(&dc);
  canvas.StretchDraw(Rect{0, 0, 60, 40}, &picture);
  canvas.SetHandle(nullptr);
  const COLORREF c = target.Pixel(30, 20);
  EXPECT_GT(GetRValue(c), 150);
  EXPECT_LT(GetGValue(c), 60);
  EXPECT_EQ(target.Pixel(61, 41), kWhite);
}

TEST(IPictureTest, BadInputLeavesAnEmptyPicture) {
  TempDir dir;
  const std::vector<std::uint8_t> jpeg = SolidJpeg(40, 40, kRed);
  std::vector<std::uint8_t> truncated(jpeg.begin(), jpeg.begin() + jpeg.size() / 3);
  const std::vector<std::uint8_t> png = SavePng(testing::SolidBitmap(8, 8, kRed));
  const std::vector<std::uint8_t> inputs[] = {
      {},
      {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'},
      truncated,
      png,  // the picture service reads JPEG, GIF and BMP only
      {'G', 'I', 'F', '8', '9', 'a', 1},
  };
  for (const auto& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const auto path = (dir.Path() / "bad.bin").string();
    WriteFileBytes(path, bytes);
    TIPicture picture;
    picture.LoadFromBytes(jpeg);
    picture.LoadFromFile(path);  // never raises
    EXPECT_TRUE(picture.Empty());
    EXPECT_TRUE(picture.Data().empty());
    EXPECT_EQ(picture.Width(), 0);

    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    try {
      picture.LoadFromStream(stream);
      ADD_FAILURE() << "no error raised";
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(e.Message() == "Could not load image. Invalid format" ||
                  e.Message() == "Empty image stream created")
          << e.Message();
    }
    EXPECT_TRUE(picture.Empty());
  }
  TIPicture missing;
  missing.LoadFromFile((dir.Path() / "nothing.jpg").string());
  EXPECT_TRUE(missing.Empty());
}

// On a form the control paints on its parent's canvas at its place, and repaints when asked.
class AdvPictureOnFormTest : public test::ClassLibTest {};

TEST_F(AdvPictureOnFormTest, CoverIsDrawnShrunkAndCentredInTheWindow) {
  TForm* form = MakeForm(400, 200);
  form->SetColor(TColor(kWhite));
  auto* control = Create<TAdvPicture>(form);
  EXPECT_EQ(control->Width(), 100);
  EXPECT_EQ(control->Height(), 100);
  control->SetParent(form);
  control->SetBounds(50, 40, 300, 127);
  control->SetPicturePosition(bpCenter);
  control->SetStretchMode(smShrink);
  ShowForm(form);
  const auto at = [&](int x, int y) {
    return SnapshotWindow(form->Handle()).Pixel(50 + x, 40 + y);
  };
  EXPECT_EQ(at(150, 63), kWhite);  // nothing to show yet

  control->Picture().LoadFromBytes(SolidBmp(600, 300, kRed));
  Pump();
  EXPECT_EQ(at(22, 63), kWhite);
  EXPECT_EQ(at(23, 63), kRed);
  EXPECT_EQ(at(276, 63), kRed);
  EXPECT_EQ(at(277, 63), kWhite);
  EXPECT_EQ(at(100, 0), kRed);
  EXPECT_EQ(at(100, 126), kRed);
  EXPECT_EQ(at(100, 127), kWhite);  // below the control

  control->SetPicturePosition(bpTopRight);
  Pump();
  EXPECT_EQ(at(45, 63), kWhite);
  EXPECT_EQ(at(46, 63), kRed);
  EXPECT_EQ(at(23, 63), kWhite);

  control->Picture().Clear();
  control->Invalidate();
  Pump();
  EXPECT_EQ(at(150, 63), kWhite);
}

// A frame change asks the parent to paint again: for a frame that restores to the background
// only the frame's rectangle, erased; otherwise the whole control.
TEST_F(AdvPictureOnFormTest, AnimationInvalidatesOnTheParent) {
  TempDir dir;
  for (const int disposal : {1, 2}) {
    SCOPED_TRACE(disposal);
    const auto gif =
        testing::PilAnimatedGif(dir.Path(), 8, 8, {"(255,0,0)", "(0,255,0)"}, {2, 2}, disposal);
    ASSERT_FALSE(gif.empty());
    TForm* form = MakeForm(400, 200);
    auto* control = Create<TAdvPicture>(form);
    control->SetParent(form);
    control->SetBounds(50, 40, 300, 127);
    control->Picture().LoadFromBytes(gif);
    control->Loaded();
    control->SetAnimate(true);
    ShowForm(form);
    Rect pending;
    ASSERT_FALSE(GetUpdateRect(form->Handle(), &pending, false));
    control->Tick();  // the first tick shows frame 1
    ASSERT_EQ(control->Picture().Frame(), 1);
    ASSERT_TRUE(GetUpdateRect(form->Handle(), &pending, false));
    if (disposal == 2) {
      const TIPicture& p = control->Picture();
      EXPECT_EQ(pending,
                Bounds(50 + p.FrameLeft(), 40 + p.FrameTop(), p.FrameWidth(), p.FrameHeight()));
      EXPECT_LT(pending.Width(), 300);
    } else {
      EXPECT_EQ(pending, Bounds(50, 40, 300, 127));
    }
    control->SetAnimate(false);
    delete form;
  }
}

}  // namespace
}  // namespace qv
