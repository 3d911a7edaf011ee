// The geometry the back end gives and the choice of back end.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qv::test
