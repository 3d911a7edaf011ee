// The geometry the back end gives and the choice of back end.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

TEST(ScreenGeometry, FromTheBackEndsMonitors) {
  auto backend = std::make_unique<HeadlessBackend>(
      std::vector<Monitor>{{{0, 0, 1280, 1024}, {0, 0, 1280, 994}, false},
                           {{1280, 0, 3200, 1080}, {1280, 0, 3200, 1080}, true}});
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
  Rect work;
  ASSERT_TRUE(SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work, Rect(1280, 0, 3200, 1080));
  EXPECT_FALSE(SystemParametersInfo(0x1234, 0, &work, 0));
  StopWindowSystem();
}

// QUORVEL_MONITORS: every entry that no screen can be is refused with its reason; the
// others stay, the first of them the primary.
TEST(ScreenGeometry, MonitorListRefusesWhatNoScreenCanBe) {
  std::vector<std::string> refused;
  auto monitors = ParseMonitorList("1920x1080+0+0,1280x1024-1280+56", refused);
  EXPECT_TRUE(refused.empty());
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_EQ(monitors[0].Bounds, Rect(0, 0, 1920, 1080));
  EXPECT_TRUE(monitors[0].Primary);
  EXPECT_EQ(monitors[1].WorkArea, Rect(-1280, 56, 0, 1080));
  EXPECT_FALSE(monitors[1].Primary);

  const char* wrong[] = {
      "1x1+2147483647+0",   // its right edge overflows
      "100000x100000+0+0",  // far larger than any screen
      "16385x1+0+0",
      "1x1+0-16385",
      "0x768+0+0",
      "-5x5+0+0",
      "99999999999999999999x1+0+0",  // larger than any number
      "1024x768",
      "1024x768+0+0junk",
      "1024 x768+0+0",
      "",
      "16000x10+-16000+0",  // a sign is one sign
  };
  for (const char* entry : wrong) {
    refused.clear();
    EXPECT_TRUE(ParseMonitorList(entry, refused).empty()) << entry;
    ASSERT_EQ(refused.size(), 1u) << entry;
    EXPECT_EQ(
        refused[0].rfind(std::string("QUORVEL_MONITORS entry \"") + entry + "\" ignored: ", 0), 0u)
        << refused[0];
  }
  // Two monitors that each could be a screen, but not together.
  refused.clear();
  monitors = ParseMonitorList("16384x100+0+0,,16384x100-16384+0,1x1+0+16000", refused);
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_EQ(monitors[1].Bounds, Rect(0, 16000, 1, 16001));
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_NE(refused[1].find("together would be larger than 16384"), std::string::npos);
  EXPECT_EQ(ScreenRect(-16384, 0, 16384, 1), Rect(-16384, 0, 0, 1));
  EXPECT_FALSE(ScreenRect(LLONG_MAX, 0, 1, 1).has_value());
}

}  // namespace
}  // namespace qv::test
