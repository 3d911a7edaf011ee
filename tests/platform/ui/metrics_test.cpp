// The fixed system metrics, virtual keys from X keysyms, registered messages, and the
// geometry the back end gives.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

TEST(SystemMetrics, FixedTable) {
  const std::pair<int, int> table[] = {
      {SM_CXFRAME, 4},  {SM_CYFRAME, 4},    {SM_CYCAPTION, 19},  {SM_CYSMCAPTION, 15},
      {SM_CYMENU, 19},  {SM_CXVSCROLL, 16}, {SM_CYHSCROLL, 16},  {SM_CXSMICON, 16},
      {SM_CXBORDER, 1}, {SM_CXEDGE, 2},     {SM_CXMENUSIZE, 18}, {9999, 0},
  };
  for (const auto& [index, value] : table) {
    SCOPED_TRACE(index);
    EXPECT_EQ(GetSystemMetrics(index), value);
  }
}

TEST(VirtualKeys, FromKeysyms) {
  const std::pair<std::uint32_t, unsigned> table[] = {
      {'a', 'A'},
      {'Z', 'Z'},
      {'7', '7'},
      {'&', '7'},
      {' ', VK_SPACE},
      {0xFF0D, VK_RETURN},
      {0xFF1B, VK_ESCAPE},
      {0xFF08, VK_BACK},
      {0xFF09, VK_TAB},
      {0xFE20, VK_TAB},
      {0xFF51, VK_LEFT},
      {0xFF54, VK_DOWN},
      {0xFFFF, VK_DELETE},
      {0xFFBE, VK_F1},
      {0xFFC9, VK_F12},
      {0xFFE1, VK_SHIFT},
      {0xFFE4, VK_CONTROL},
      {0xFFE9, VK_MENU},
      {0xFFB5, VK_NUMPAD0 + 5},
      {0xFF8D, VK_RETURN},
      {',', VK_OEM_COMMA},
      {0xE9, 0},
      {0x12345, 0},
  };
  for (const auto& [keysym, vk] : table) {
    SCOPED_TRACE(keysym);
    EXPECT_EQ(VirtualKeyFromKeysym(keysym), vk);
  }
  EXPECT_TRUE(IsExtendedKey(VK_LEFT));
  EXPECT_FALSE(IsExtendedKey('A'));
}

TEST(RegisteredMessages, SameNameSameNumber) {
  const UINT a = RegisterWindowMessage("TaskbarCreated");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage("taskbarcreated"), a);
  EXPECT_NE(RegisterWindowMessage("Something else"), a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

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

TEST(ScreenGeometry, MonitorsFromTheEnvironment) {
  setenv("QUORVEL_MONITORS", "800x600+0+0,1024x768+800+0,bogus", 1);
  testing::internal::CaptureStderr();
  const auto backend = HeadlessBackend::FromEnvironment();
  const std::string err = testing::internal::GetCapturedStderr();
  unsetenv("QUORVEL_MONITORS");
  ASSERT_EQ(backend->Monitors().size(), 2u);
  EXPECT_EQ(backend->Monitors()[1].Bounds, Rect(800, 0, 1824, 768));
  EXPECT_NE(err.find("bogus"), std::string::npos);
}

TEST(BackendChoice, TheProgramsHeadlessBackEndKeepsRealTime) {
  auto backend = HeadlessBackend::FromEnvironment();
  EXPECT_EQ(backend->Clock(), nullptr);
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  int ticks = 0;
  const HWND timer = AllocateHWnd([&](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_TIMER) ++ticks;
    return 0;
  });
  SetTimer(timer, 1, 10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  EXPECT_EQ(PumpUntil([&] { return ticks > 0; }, deadline), PumpResult::Done);
  DeallocateHWnd(timer);
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
