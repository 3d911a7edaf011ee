// Each case runs in a child process that has loaded nothing yet, with the
// library's override pointing at a file that does not exist.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"

namespace qv {
namespace {

[[noreturn]] void ExpectRefusal(const char* Env, const std::function<void()>& Create,
                                const std::string& Message) {
  ::setenv(Env, "/nonexistent/quorvel-test-library.so", 1);
  try {
    Create();
  } catch (const EAudioException& e) {
    if (Message == e.what()) std::_Exit(0);
    std::fprintf(stderr, "message: %s\n", e.what());
    std::_Exit(2);
  }
  std::fprintf(stderr, "no exception\n");
  std::_Exit(1);
}

TEST(EncoderLibraries, AMissingLibraryIsReportedWhenTheOutputIsCreated) {
  GTEST_FLAG_SET(death_test_style, "fast");
  struct Case {
    const char* env;
    std::function<void()> create;
    const char* message;
  } const cases[] = {
      {"QUORVEL_LIB_MP3LAME", [] { TMP3Out o; }, "libmp3lame.so.0 library could not be loaded."},
      {"QUORVEL_LIB_FLAC", [] { TFLACOut o; }, "libFLAC.so.12 library could not be loaded."},
      {"QUORVEL_LIB_OGG", [] { TVorbisOut o; }, "libogg.so.0 library could not be loaded."},
      {"QUORVEL_LIB_VORBIS", [] { TVorbisOut o; }, "libvorbis.so.0 library could not be loaded."},
      {"QUORVEL_LIB_VORBISENC", [] { TVorbisOut o; },
       "libvorbisenc.so.2 library could not be loaded."},
      {"QUORVEL_LIB_CDRIP", [] { TCDIn o; }, "libcdrip.so could not be loaded."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env);
    EXPECT_EXIT(ExpectRefusal(c.env, c.create, c.message), testing::ExitedWithCode(0), "");
  }
  // The real libraries are found without an override.
  EXPECT_NO_THROW(TMP3Out());
  EXPECT_NO_THROW(TFLACOut());
  EXPECT_NO_THROW(TVorbisOut());
}

}  // namespace
}  // namespace qv
