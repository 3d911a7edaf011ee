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
};

TEST(FLACOut, LosslessAndCompleteStreamInfo) {
  const FlacCase cases[] = {
      {"whole blocks", 4608 * 20, false, 176400},
      {"partial last block", 44100 * 2 + 1001, false, 176400},
      {"unknown size, odd reads", 44100 + 17, true, 999},
  };
  TempDir dir;
  TFLACOut output;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryInput input(MakePcm(c.frames));
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

TEST(FLACOut, PropertyRules) {
  TFLACOut output;
  output.EnableMidSideStereo = false;
  output.SetEnableLooseMidSideStereo(true);
  EXPECT_TRUE(output.EnableMidSideStereo);
  output.SetBestModelSearch(true);
  EXPECT_TRUE(output.EnableMidSideStereo);
  EXPECT_FALSE(output.EnableLooseMidSideStereo());
  EXPECT_TRUE(output.BestModelSearch());

  output.SetFileMode(TFileOutputMode::foAppend);
  EXPECT_EQ(output.FileMode(), TFileOutputMode::foRewrite);

  // A coefficient precision beyond what 16-bit input allows is clipped to 15.
  TempDir dir;
  TMemoryInput input(MakePcm(20000));
  output.QLPCoeffPrecision = 20;
  output.Verify = true;
  output.FileName = dir.File("q.flac");
  ASSERT_TRUE(RunJob(output, input).empty());
  EXPECT_EQ(output.QLPCoeffPrecision, 15);
  EXPECT_EQ(RunCommand("flac -t -s " + Quote(output.FileName)).status, 0);
}

TEST(FLACOut, RefusedSettingsAndFailures) {
  TempDir dir;
  TMemoryInput input(MakePcm(10000));
  TFLACOut output;

  EXPECT_EQ(RunJob(output, input), std::vector<std::string>{"File name is not assigned."});

  struct Bad {
    const char* name;
    uint16_t blockSize, maxLpc;
  } const bad[] = {{"block size below the format's minimum", 8, 0},
                   {"prediction order beyond the format's maximum", 4608, 40}};
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    output.BlockSize = b.blockSize;
    output.MaxLPCOrder = b.maxLpc;
    output.FileName = dir.File("bad.flac");
    std::vector<std::string> seen;
    output.OnThreadException = [&](TAudioOutput*, const std::exception& e) {
      seen.push_back(e.what());
    };
    output.SetInput(&input);
    output.Run();  // the refusal arrives before Run returns
    EXPECT_EQ(seen, std::vector<std::string>{"Failed to initialize FLAC encoder."});
    EXPECT_EQ(output.Status(), TOutputStatus::osIdle);
    EXPECT_FALSE(input.Busy);
    // Nothing half-written is left behind.
    EXPECT_FALSE(std::filesystem::exists(output.FileName));
  }
  output.OnThreadException = nullptr;
  output.BlockSize = 4608;
  output.MaxLPCOrder = 0;

  // A device that takes no data: the header cannot be written.
  output.FileName = "/dev/full";
  EXPECT_EQ(RunJob(output, input), std::vector<std::string>{"Failed to initialize FLAC encoder."});
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));

  // A read error in the middle of the job ends it through the exception event.
  input.ReadErrorAt = 20000;
  input.MaxChunk = 4096;
  output.FileName = dir.File("err.flac");
  EXPECT_EQ(RunJob(output, input), std::vector<std::string>{"Read error"});
  EXPECT_FALSE(input.Busy);
}

}  // namespace
}  // namespace qv
