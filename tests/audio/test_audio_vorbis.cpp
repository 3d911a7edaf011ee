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
    input.MaxChunk = 30001;  // reads that split samples
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

}  // namespace
}  // namespace qv
