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

TEST(TDynLibTest, TheOverrideReplacesTheDefaultName) {
  ::setenv("QUORVEL_LIB_Z", "/nonexistent/libz-missing.so", 1);
  TDynLib lib;
  EXPECT_FALSE(lib.Load("libz.so.1"));  // no fall-back to the default name
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.LoadedName(), "/nonexistent/libz-missing.so");
  EXPECT_NE(lib.ErrorText().find("libz-missing.so"), std::string::npos);
  EXPECT_EQ(lib.Symbol("zlibVersion"), nullptr);

  // The override may name a real library under another name.
  ::setenv("QUORVEL_LIB_MP3LAME", "libz.so.1", 1);
  TDynLib other;
  EXPECT_TRUE(other.Load("libmp3lame.so.0"));
  EXPECT_NE(other.Symbol("zlibVersion"), nullptr);
  ::unsetenv("QUORVEL_LIB_MP3LAME");
  // An empty override counts as unset.
  ::setenv("QUORVEL_LIB_Z", "", 1);
  EXPECT_TRUE(lib.Load("libz.so.1"));
  ::unsetenv("QUORVEL_LIB_Z");
}

}  // namespace
}  // namespace qv
