#include "app/rip_log.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/app/app_test_util.h"

namespace qv {
namespace {

using namespace qv::test;

TEST(RipLogTest, UnwritableFolderLeavesTheLogOff) {
  TRipLog log;
  EXPECT_FALSE(log.OpenLog("/nonexistent-folder/Quorvel.log"));
  log.FDebug = true;
  log.WriteLog("nothing");  // must not fail
}

// Worker threads log their failures while the main thread logs its steps: whole lines only.
TEST(RipLogTest, LinesFromSeveralThreadsStayWhole) {
  ScratchDir dir;
  const std::string path = dir.File("Quorvel.log");
  TRipLog log;
  ASSERT_TRUE(log.OpenLog(path));
  log.FDebug = true;
  const std::string a(300, 'a'), b(300, 'b');
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) log.WriteLog(a);
  });
  for (int i = 0; i < 200; ++i) log.WriteLog(b);
  worker.join();
  log.CloseLog();
  const auto lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 400u);
  for (const auto& line : lines) EXPECT_TRUE(line == a || line == b);
}

}  // namespace
}  // namespace qv
