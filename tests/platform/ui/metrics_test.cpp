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

TEST(BackendChoice, HeadlessWhenNoDisplayOpens) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  setenv("DISPLAY", ":9876", 1);  // nothing listens there
  unsetenv("QUORVEL_DISPLAY");
  testing::internal::CaptureStderr();
  auto backend = CreateDisplayBackendFromEnvironment();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(backend->Name(), "headless");
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  setenv("QUORVEL_DISPLAY", "x11", 1);
  EXPECT_THROW(CreateDisplayBackendFromEnvironment(), std::runtime_error);
  setenv("QUORVEL_DISPLAY", "headless", 1);
  EXPECT_EQ(CreateDisplayBackendFromEnvironment()->Name(), "headless");
  unsetenv("QUORVEL_DISPLAY");
  if (display)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
}

}  // namespace
}  // namespace qv::test
