#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/registry.h"
#include "platform/base/stringlist.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

// Writers on several threads each read, change and rewrite the file under its lock;
// none may lose another's value.
TEST(TRegistryThreadsTest, ConcurrentWritersLoseNothing) {
  qv::testing::TempDir dir;
  const std::string file = dir / "registry.reg";
  ::setenv("QUORVEL_REGISTRY", file.c_str(), 1);
  constexpr int kThreads = 4, kValues = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      TRegistry reg;
      if (!reg.OpenKey("Software\\Quorvel\\Load", true)) return;
      for (int i = 0; i < kValues; ++i)
        reg.WriteInteger("t" + std::to_string(t) + "_" + std::to_string(i), t * 1000 + i);
    });
  }
  for (auto& th : threads) th.join();
  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Quorvel\\Load"));
  TStringList names;
  reg.GetValueNames(names);
  EXPECT_EQ(names.Count(), kThreads * kValues);
  EXPECT_EQ(reg.ReadInteger("t3_24"), 3024);
  ::unsetenv("QUORVEL_REGISTRY");
}

}  // namespace
}  // namespace qv
