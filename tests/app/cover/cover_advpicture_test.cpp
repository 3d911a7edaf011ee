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

}  // namespace
}  // namespace qv
