#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "app/cover/advpicture.h"
#include "app/cover/advpicture_gif.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/picture.h"
#include "platform/msg/clock.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "tests/app/cover/cover_test_util.h"

namespace qv {
namespace {

using testing::TempDir;

// Header, logical screen 0x0102 x 0x0304, then the given bytes.
std::vector<std::uint8_t> GifBytes(std::vector<std::uint8_t> tail) {
  std::vector<std::uint8_t> d = {'G', 'I', 'F', '8', '9', 'a', 0x02, 0x01, 0x04, 0x03, 0, 0, 0};
  d.insert(d.end(), tail.begin(), tail.end());
  return d;
}

TEST(GifFrameScanTest, FrameStartsNeedTheWholeDescriptorInsideTheData) {
  // Extension: packed 0x09 (transparent, disposal 2), delay 0x0105, then the descriptor at
  // left 1, top 2, width 3, height 4.
  const std::vector<std::uint8_t> frame = {0x21, 0xF9, 0x04, 0x09, 0x05, 0x01, 0x00, 0x00, 0x2C,
                                           0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00};
  // Exactly sized copies: AddressSanitizer catches any read past the end.
  for (std::size_t cut = 0; cut <= frame.size(); ++cut) {
    SCOPED_TRACE(cut);
    const auto data = std::make_unique<std::vector<std::uint8_t>>(
        GifBytes(std::vector<std::uint8_t>(frame.begin(), frame.begin() + std::ptrdiff_t(cut))));
    const auto starts = GifFrameStarts(*data);
    EXPECT_EQ(starts.size(), cut == frame.size() ? 1u : 0u);
  }
  const std::vector<std::uint8_t> data = GifBytes(frame);
  const auto starts = GifFrameStarts(data);
  ASSERT_EQ(starts.size(), 1u);
  const TGifFrameInfo info = GifFrameAt(data, starts[0]);
  EXPECT_EQ(info.Delay, 0x0105);
  EXPECT_TRUE(info.Transparent);
  EXPECT_EQ(info.Disposal, 2);
  EXPECT_EQ((Rect{info.Left, info.Top, info.Width, info.Height}), (Rect{1, 2, 3, 4}));
  // A start past the data gives nothing rather than reading on.
  EXPECT_EQ(GifFrameAt(data, data.size() - 3).Width, 0);

  int w = 0;
  int h = 0;
  EXPECT_TRUE(GifScreenSize(data, w, h));
  EXPECT_EQ(w, 0x0102);
  EXPECT_EQ(h, 0x0304);
  // Five bytes are a GIF signature but too short for the screen size.
  const std::vector<std::uint8_t> five = {'G', 'I', 'F', '8', '9'};
  EXPECT_TRUE(IsGifData(five));
  EXPECT_FALSE(GifScreenSize(five, w, h));
  EXPECT_TRUE(GifFrameStarts(five).empty());
}

class AnimatedGifTest : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(AnimatedGifTest, TransparentPixelsAreNotDrawn) {
  // Left half transparent (index 0), right half red, written by PIL.
  const auto path = dir.Path() / "t.gif";
  const std::string script =
      "from PIL import Image\n"
      "im=Image.new('P',(10,10),0)\n"
      "im.putpalette([0,0,0, 255,0,0]+[0]*762)\n"
      "im.paste(1,(5,0,10,10))\n"
      "im.save('" +
      path.string() + "', transparency=0)\n";
  std::ofstream(dir.Path() / "t.py") << script;
  ASSERT_EQ(std::system(("/usr/bin/python3 " + (dir.Path() / "t.py").string()).c_str()), 0);
  TIPicture picture;
  picture.LoadFromBytes(testing::ReadAll(path));
  for (const int scale : {1, 3}) {
    SCOPED_TRACE(scale);
    Bitmap canvas(40, 40);
    canvas.Fill(RGB(0, 255, 0));
    DC dc(&canvas);
    picture.DrawTo(dc, Bounds(2, 2, 10 * scale, 10 * scale));
    EXPECT_EQ(canvas.Pixel(2, 2), RGB(0, 255, 0));
    EXPECT_EQ(canvas.Pixel(2 + 5 * scale - 1, 2 + 5 * scale), RGB(0, 255, 0));
    EXPECT_EQ(canvas.Pixel(2 + 5 * scale, 2 + 5 * scale), RGB(255, 0, 0));
    EXPECT_EQ(canvas.Pixel(2 + 10 * scale - 1, 2 + 10 * scale - 1), RGB(255, 0, 0));
    EXPECT_EQ(canvas.Pixel(2 + 10 * scale, 2), RGB(0, 255, 0));
  }
}

// Runs the animation under a fake clock on a thread of its own, advancing 10 ms at a time,
// and records each frame change with the tick it happened at.
struct Change {
  int frame;
  int tick;
  bool erase;
};
// Runs `Body` with a control showing `gif` on a thread of its own under a fake clock.
void OnAnimationThread(const std::vector<std::uint8_t>& gif,
                       const std::function<void(TAdvPicture& control, FakeClock& clock)>& Body) {
  std::thread([&] {
    auto clock = std::make_shared<FakeClock>();
    MessageQueue::Current().SetClock(clock);
    TAdvPicture control(nullptr);
    control.Picture().LoadFromBytes(gif);
    control.Loaded();
    Body(control, *clock);
  }).join();
}

std::vector<Change> Animate(const std::vector<std::uint8_t>& gif, int ticks) {
  std::vector<Change> changes;
  OnAnimationThread(gif, [&](TAdvPicture& control, FakeClock& clock) {
    int tick = 0;
    bool erase = false;
    control.OnInvalidate = [&](const Rect&, bool e) { erase = e; };
    control.OnFrameChange = [&](TAdvPicture* p) {
      changes.push_back({p->Picture().Frame(), tick, erase});
    };
    control.SetAnimate(true);
    for (tick = 0; tick < ticks; ++tick) {
      clock.Advance(std::chrono::milliseconds(10));
      ProcessMessages();
    }
    control.SetAnimate(false);
  });
  return changes;
}

TEST_F(AnimatedGifTest, AnimationCyclesWithEachFramesOwnDelay) {
  const auto gif = testing::PilAnimatedGif(dir.Path(), 8, 8,
                                           {"(255,0,0)", "(0,255,0)", "(0,0,255)"}, {3, 5, 7}, 1);
  ASSERT_FALSE(gif.empty());
  const std::vector<Change> changes = Animate(gif, 3 + 5 + 7 + 3);
  ASSERT_EQ(changes.size(), 4u);
  const int frames[] = {1, 2, 3, 1};
  const int at[] = {0, 3, 8, 15};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(changes[i].frame, frames[i]);
    EXPECT_EQ(changes[i].tick, at[i]);
    EXPECT_FALSE(changes[i].erase);
  }
}

// The ticks come from the picture's helper control: its window's timer starts with the
// window (also one made again) and ends with it; with Animate off there is none.
TEST_F(AnimatedGifTest, TheHelperControlsWindowDrivesTheTicks) {
  const auto gif = testing::PilAnimatedGif(dir.Path(), 8, 8, {"(255,0,0)", "(0,255,0)"}, {1, 1}, 0);
  ASSERT_FALSE(gif.empty());
  OnAnimationThread(gif, [](TAdvPicture& control, FakeClock& clock) {
    int changes = 0;
    control.OnFrameChange = [&](TAdvPicture*) { ++changes; };
    const auto run = [&](int ticks) {
      changes = 0;
      for (int i = 0; i < ticks; ++i) {
        clock.Advance(std::chrono::milliseconds(10));
        ProcessMessages();
      }
      return changes;
    };
    EXPECT_EQ(control.HelperWindow(), HWND(0));
    control.SetAnimate(true);
    const HWND first = control.HelperWindow();
    auto* helper = dynamic_cast<THelperWnd*>(TWinControl::FromHandle(first));
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(run(4), 4);  // one frame per tick
    helper->RecreateWnd();
    EXPECT_NE(control.HelperWindow(), HWND(0));
    EXPECT_EQ(TWinControl::FromHandle(control.HelperWindow()), helper);
    EXPECT_EQ(run(4), 4);
    control.SetAnimate(false);
    EXPECT_EQ(control.HelperWindow(), HWND(0));
    EXPECT_EQ(TWinControl::FromHandle(first), nullptr);
    EXPECT_EQ(run(4), 0);
  });
}

}  // namespace
}  // namespace qv
