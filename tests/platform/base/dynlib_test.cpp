#include "platform/base/dynlib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qv {
namespace {

TEST(TDynLibTest, LoadsARealLibraryAndResolvesASymbol) {
  ::unsetenv("QUORVEL_LIB_Z");
  TDynLib lib;
  ASSERT_TRUE(lib.Load("libz.so.1")) << lib.ErrorText();
  using ZlibVersion = const char* (*)();
  const auto version = lib.Proc<ZlibVersion>("zlibVersion");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(std::string(version()).substr(0, 2), "1.");
  EXPECT_EQ(lib.Proc<ZlibVersion>("no_such_symbol_here"), nullptr);

  TDynLib moved = std::move(lib);
  EXPECT_FALSE(lib.Loaded());
  EXPECT_TRUE(moved.Loaded());
  EXPECT_EQ(lib.Proc<ZlibVersion>("zlibVersion"), nullptr);
  moved.Unload();
  EXPECT_FALSE(moved.Loaded());
}

}  // namespace
}  // namespace qv
