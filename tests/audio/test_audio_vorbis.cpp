#include "audio/audio_vorbis.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/audio/job_waiter.h"
#include "tests/audio/memory_input.h"
#include "tests/audio/peers.h"

namespace qv {
namespace {

using namespace qv::test;

// ogginfo's verdict: the lines it warns with, empty when the file is sound.
std::string OggWarnings(const std::string& File, std::string* Report = nullptr) {
  const auto r = RunCommand("ogginfo " + Quote(File));
  if (Report) *Report = r.output;
  std::string warnings;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);)
    if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos)
      warnings += line + "\n";
  if (r.status != 0) warnings += "exit status " + std::to_string(r.status);
  return warnings;
}

// Sample frames oggdec decodes (all chained streams together).
long DecodedFrames(const std::string& File, const std::string& Raw) {
  const auto r = RunCommand("oggdec -Q -R -b 16 -e 0 -s 1 -o " + Quote(Raw) + " " + Quote(File));
  EXPECT_EQ(r.status, 0) << r.output;
  return long(ReadBytes(Raw).size() / 4);
}

std::vector<std::string> CommentsOf(const std::string& File) {
  const auto r = RunCommand("vorbiscomment -l " + Quote(File));
  std::vector<std::string> out;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) out.push_back(line);
  return out;
}

TEST(VorbisOut, QualityModeWithCommentsInStereoAndMono) {
  TempDir dir;
  for (const int channels : {2, 1}) {
    SCOPED_TRACE(channels);
    const int frames = channels == 2 ? 44100 * 2 + 555 : 30000;
    TMemoryInput input(MakePcm(frames, channels), channels);
    input.MaxChunk = 30001;         // reads that split samples
    input.InPlace = channels == 2;  // read where the input holds the audio, or copied
    TVorbisOut output;
    output.FileName = dir.File("q.ogg");
    output.Comments = {"ARTIST=First", "TITLE=Song = one", "ARTIST=Second", "noequals", "ALBUM="};
    ASSERT_TRUE(RunJob(output, input).empty());
    EXPECT_TRUE(output.Comments.empty());

    std::string report;
    EXPECT_EQ(OggWarnings(output.FileName, &report), "") << report;
    EXPECT_NE(report.find("Nominal bitrate"), std::string::npos);
    EXPECT_NE(report.find("Channels: " + std::to_string(channels)), std::string::npos) << report;
    const auto r =
        RunCommand("oggdec -Q -R -o " + Quote(dir.File("q.raw")) + " " + Quote(output.FileName));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto decoded = ReadBytes(dir.File("q.raw"));
    ASSERT_EQ(decoded.size(), input.Pcm().size());
    for (int c = 0; c < channels; ++c)
      EXPECT_GT(Correlation(Channel(input.Pcm(), channels, c), Channel(decoded, channels, c)),
                0.95);
    // Repeated names keep their own values; a line without a name adds nothing.
    EXPECT_EQ(
        CommentsOf(output.FileName),
        (std::vector<std::string>{"ARTIST=First", "TITLE=Song = one", "ARTIST=Second", "ALBUM="}));
  }
}

TEST(VorbisOut, ManagedBitRates) {
  struct Case {
    TVorbisBitRate nominal;
    int bps;
  } const cases[] = {{TVorbisBitRate::br128, 128000}, {TVorbisBitRate::br56, 56000}};
  TempDir dir;
  TMemoryInput input(MakePcm(44100 * 2));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bps);
    TVorbisOut output;  // a maximum raised by an earlier nominal rate would stay
    output.SetDesiredNominalBitrate(c.nominal);
    output.FileName = dir.File("m.ogg");
    ASSERT_TRUE(RunJob(output, input).empty());
    std::string report;
    EXPECT_EQ(OggWarnings(output.FileName, &report), "") << report;
    const std::string kbps = std::to_string(c.bps / 1000) + ".000000 kb/s";
    // A nominal rate alone makes minimum, nominal and maximum all equal.
    EXPECT_NE(report.find("Nominal bitrate: " + kbps), std::string::npos) << report;
    EXPECT_NE(report.find("Upper bitrate: " + kbps), std::string::npos) << report;
    EXPECT_NE(report.find("Lower bitrate: " + kbps), std::string::npos) << report;
    EXPECT_EQ(DecodedFrames(output.FileName, dir.File("m.raw")), 44100 * 2);
  }
}

TEST(VorbisOut, StoppedJobEndsItsStream) {
  TempDir dir;
  TMemoryInput input(MakePcm(44100 * 10));
  input.MaxChunk = 16384;
  TVorbisOut output;
  output.FileName = dir.File("stop.ogg");
  ASSERT_EQ(RunAndStop(output, input, 44100 * 4), std::vector<std::string>{});
  std::string report;
  EXPECT_EQ(OggWarnings(output.FileName, &report), "") << report;
  const long frames = DecodedFrames(output.FileName, dir.File("s.raw"));
  EXPECT_GT(frames, 44100);
  EXPECT_LT(frames, 44100 * 10);
  EXPECT_EQ(frames, input.Position.load() / 4);  // all that was read, nothing more
}

TEST(VorbisOut, AppendedStreamsFormAValidChain) {
  TempDir dir;
  TMemoryInput first(MakePcm(44100, 2, 1));
  TMemoryInput second(MakePcm(30000, 2, 2));
  TVorbisOut output;
  output.FileName = dir.File("chain.ogg");
  output.SetFileMode(TFileOutputMode::foAppend);
  output.Comments = {"TITLE=one"};
  ASSERT_TRUE(RunJob(output, first).empty());  // no file yet: created
  const auto size = std::filesystem::file_size(output.FileName);
  output.Comments = {"TITLE=two"};
  ASSERT_TRUE(RunJob(output, second).empty());
  EXPECT_GT(std::filesystem::file_size(output.FileName), size);
  std::string report;
  EXPECT_EQ(OggWarnings(output.FileName, &report), "") << report;
  EXPECT_NE(report.find("New logical stream (#2"), std::string::npos) << report;
  EXPECT_EQ(DecodedFrames(output.FileName, dir.File("c.raw")), 44100 + 30000);

  // In rewrite mode the file starts over.
  output.SetFileMode(TFileOutputMode::foRewrite);
  ASSERT_TRUE(RunJob(output, second).empty());
  EXPECT_EQ(DecodedFrames(output.FileName, dir.File("c.raw")), 30000);
}

}  // namespace
}  // namespace qv
