#include "platform/base/dynlib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qv {
namespace {

TEST(TDynLibTest, OverrideVariableNames) {
  const struct {
    const char *lib, *var;
  } cases[] = {
      {"libmp3lame.so.0", "QUORVEL_LIB_MP3LAME"},
      {"libFLAC.so.12", "QUORVEL_LIB_FLAC"},
      {"libvorbisenc.so.2", "QUORVEL_LIB_VORBISENC"},
      {"libogg.so.0", "QUORVEL_LIB_OGG"},
      {"/opt/q/libcdrip.so", "QUORVEL_LIB_CDRIP"},
      {"libz.so.1", "QUORVEL_LIB_Z"},
      {"cdrip", "QUORVEL_LIB_CDRIP"},
      {"libfoo-1.2.so", "QUORVEL_LIB_FOO_1_2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lib);
    EXPECT_EQ(TDynLib::OverrideVariable(c.lib), c.var);
  }
}

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
