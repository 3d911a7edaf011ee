#include "audio/audio_flac.h"

#include <gtest/gtest.h>

#include "tests/audio/job_waiter.h"
#include "tests/audio/memory_input.h"
#include "tests/audio/peers.h"

namespace qv {
namespace {

using namespace qv::test;

std::string Metaflac(const std::string& Option, const std::string& File) {
  auto r = RunCommand("metaflac " + Option + " " + Quote(File));
  while (!r.output.empty() && r.output.back() == '\n') r.output.pop_back();
  return r.output;
}

struct FlacCase {
  const char* name;
  int frames;
  bool unknownSize;
  int maxChunk;
  bool inPlace = false;
  int bits = 16;
};

TEST(FLACOut, LosslessAndCompleteStreamInfo) {
  const FlacCase cases[] = {
      {"whole blocks", 4608 * 20, false, 176400},
      {"partial last block", 44100 * 2 + 1001, false, 176400},
      {"unknown size, odd reads", 44100 + 17, true, 999},
      // Read where the input holds the audio, samples split between reads.
      {"odd reads in place", 44100 + 17, false, 999, true},
      {"24-bit, odd reads in place", 44100 * 2, false, 1001, true, 24},
      {"24-bit, copied", 44100 * 2 + 1, false, 4000, false, 24},
  };
  TempDir dir;
  TFLACOut output;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Any bytes are 24-bit samples: 16-bit audio's bytes regrouped.
    std::vector<uint8_t> pcm = MakePcm(c.bits == 24 ? (c.frames * 3 + 1) / 2 : c.frames);
    pcm.resize(size_t(c.frames) * 2 * size_t(c.bits / 8));
    TMemoryInput input(std::move(pcm));
    input.Bits = c.bits;
    input.InPlace = c.inPlace;
    input.UnknownSize = c.unknownSize;
    input.MaxChunk = c.maxChunk;
    output.FileName = dir.File("t.flac");
    ASSERT_TRUE(RunJob(output, input).empty());
    const auto test = RunCommand("flac -t -s " + Quote(output.FileName));
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_EQ(Metaflac("--show-md5sum", output.FileName), Md5Of(input.Pcm(), dir.File("pcm")));
    EXPECT_EQ(Metaflac("--show-total-samples", output.FileName), std::to_string(c.frames));
    EXPECT_EQ(Metaflac("--show-max-blocksize", output.FileName), "4608");
    EXPECT_EQ(input.Flushes, 1);
  }
}

TEST(FLACOut, StoppedJobLeavesAShorterValidFile) {
  TempDir dir;
  TMemoryInput input(MakePcm(44100 * 10));
  input.MaxChunk = 16384;
  TFLACOut output;
  output.FileName = dir.File("stop.flac");
  ASSERT_EQ(RunAndStop(output, input, 44100 * 4), std::vector<std::string>{});
  const auto test = RunCommand("flac -t -s " + Quote(output.FileName));
  EXPECT_EQ(test.status, 0) << test.output;
  const long samples = std::stol(Metaflac("--show-total-samples", output.FileName));
  EXPECT_GT(samples, 0);
  EXPECT_LT(samples, 44100 * 10);
  // Exactly the audio that was encoded, and the stream information agrees.
  const std::vector<uint8_t> prefix(input.Pcm().begin(), input.Pcm().begin() + samples * 4);
  EXPECT_EQ(Metaflac("--show-md5sum", output.FileName), Md5Of(prefix, dir.File("pcm")));
}

}  // namespace
}  // namespace qv
