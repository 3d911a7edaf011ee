#include "audio/audio_lame.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/audio/job_waiter.h"
#include "tests/audio/memory_input.h"
#include "tests/audio/peers.h"

namespace qv {
namespace {

using namespace qv::test;

struct Mp3Info {
  int bitrate = 0, sampleRate = 0;
};

// Bit rate and sample rate from the header of the second frame (the first one
// holds the encoder's info and may be larger).
Mp3Info Inspect(const std::string& File) {
  static constexpr int kRate1[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                   112, 128, 160, 192, 224, 256, 320};
  static constexpr int kRate2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr int kSample[] = {44100, 48000, 32000};
  const auto bytes = ReadBytes(File);
  Mp3Info info;
  size_t pos = 0;
  for (int frame = 0; frame < 2; ++frame) {
    if (pos + 4 > bytes.size() || bytes[pos] != 0xFF || (bytes[pos + 1] & 0xE0) != 0xE0) return {};
    const int version = (bytes[pos + 1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    const int index = bytes[pos + 2] >> 4, rateIndex = (bytes[pos + 2] >> 2) & 3;
    const int padding = (bytes[pos + 2] >> 1) & 1;
    if (index == 0 || index == 15 || rateIndex == 3) return {};
    info.bitrate = (version == 3 ? kRate1 : kRate2)[index] * 1000;
    info.sampleRate = kSample[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
    pos += size_t((version == 3 ? 144 : 72) * info.bitrate / info.sampleRate + padding);
  }
  return info;
}

// Decodes with mpg123 to 16-bit stereo at the file's own rate.
std::vector<uint8_t> Decode(const std::string& File, const std::string& Raw, std::string* Log) {
  const auto r = RunCommand("mpg123 -q -s " + Quote(File) + " > " + Quote(Raw));
  if (Log) *Log = r.output;
  EXPECT_EQ(r.status, 0) << r.output;
  return ReadBytes(Raw);
}

// mp3val finds no damaged frame; a file without tags is fine.
testing::AssertionResult Mp3ValClean(const std::string& File) {
  const auto r = RunCommand("mp3val " + Quote(File));
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("WARNING") != std::string::npos &&
        line.find("No supported tags") == std::string::npos)
      return testing::AssertionFailure() << r.output;
  }
  return testing::AssertionSuccess();
}

// Best match of a window of the source within the first 3000 samples of delay.
double BestCorrelation(const std::vector<double>& Source, const std::vector<double>& Decoded) {
  const size_t start = 20000, length = 2048;
  if (Source.size() < start + length) return 0;
  const std::vector<double> window(Source.begin() + long(start),
                                   Source.begin() + long(start + length));
  double best = 0;
  for (int lag = 0; lag < 3000; ++lag) {
    if (Decoded.size() < start + lag + length) break;
    const std::vector<double> part(Decoded.begin() + long(start + lag),
                                   Decoded.begin() + long(start + lag + length));
    best = std::max(best, Correlation(window, part));
  }
  return best;
}

TEST(MP3Out, EveryBitRateDecodesToTheInputLength) {
  TempDir dir;
  const int frames = 44100 + 123;
  TMemoryInput input(MakePcm(frames));
  input.MaxChunk = 176400;
  TMP3Out output;
  EXPECT_EQ(output.BitRate, TMP3BitRate::br128);
  const auto left = Channel(input.Pcm(), 2, 0);
  for (int rate = int(TMP3BitRate::br8); rate <= int(TMP3BitRate::br320); ++rate) {
    const auto bitRate = TMP3BitRate(rate);
    const int kbps = MP3BitRateKbps(bitRate);
    SCOPED_TRACE(testing::Message() << kbps << " kbit/s");
    output.BitRate = bitRate;
    output.FileName = dir.File("t" + std::to_string(kbps) + ".mp3");
    ASSERT_TRUE(RunJob(output, input).empty());

    EXPECT_TRUE(Mp3ValClean(output.FileName));

    const Mp3Info info = Inspect(output.FileName);
    std::string log;
    const auto decoded = Decode(output.FileName, dir.File("d.raw"), &log);
    if (info.sampleRate == 44100) {
      // 144 kbit/s does not exist for 44.1 kHz; the encoder takes the nearest lower rate.
      EXPECT_EQ(info.bitrate, (bitRate == TMP3BitRate::br144 ? 128 : kbps) * 1000);
      ASSERT_EQ(decoded.size(), input.Pcm().size());
      const double c = Correlation(left, Channel(decoded, 2, 0));
      EXPECT_GT(c, 0.95) << "correlation " << c;
    } else {
      // Low rates make the encoder resample, and some leave no room for its info
      // frame: the length is only kept to within the encoder's delay and padding.
      EXPECT_EQ(info.bitrate, kbps * 1000);
      const double expected = double(frames) * info.sampleRate / 44100.0;
      EXPECT_GE(double(decoded.size() / 4), expected - 1152);
      EXPECT_LE(double(decoded.size() / 4), expected + 3 * 1152);
      // Back at 44.1 kHz the tones must still be there, somewhat delayed.
      const auto back =
          RunCommand("sox -t raw -r " + std::to_string(info.sampleRate) + " -e signed -b 16 -c 2 " +
                     Quote(dir.File("d.raw")) + " -t raw -r 44100 " + Quote(dir.File("b.raw")));
      ASSERT_EQ(back.status, 0) << back.output;
      EXPECT_GT(BestCorrelation(left, Channel(ReadBytes(dir.File("b.raw")), 2, 0)), 0.8);
    }
  }
}

TEST(MP3Out, MonoUnknownSizeAndTags) {
  TempDir dir;
  const int frames = 44100 + 77;
  TMemoryInput mono(MakePcm(frames, 1), 1);
  mono.UnknownSize = true;
  mono.MaxChunk = 5000;  // odd-sized reads keep no half sample behind
  TMP3Out output;
  output.FileName = dir.File("mono.mp3");
  output.Id3TagTitle = "Caf\xc3\xa9 Song";
  output.Id3TagArtist = "Artist";
  output.Id3TagAlbum = "Album";
  output.Id3TagYear = "1999";
  output.Id3TagTrack = "7";
  output.Id3TagComment = "Note";
  ASSERT_TRUE(RunJob(output, mono).empty());
  const auto decoded = Decode(output.FileName, dir.File("m.raw"), nullptr);
  ASSERT_EQ(decoded.size(), size_t(frames) * 4);
  const auto l = Channel(decoded, 2, 0), r = Channel(decoded, 2, 1);
  EXPECT_EQ(l, r);
  EXPECT_GT(Correlation(Channel(mono.Pcm(), 1, 0), l), 0.95);

  // The encoder's ID3v1 block closes the file, in Latin-1.
  const auto bytes = ReadBytes(output.FileName);
  ASSERT_GT(bytes.size(), 128u);
  const std::string tag(bytes.end() - 128, bytes.end());
  EXPECT_EQ(tag.substr(0, 3), "TAG");
  EXPECT_EQ(tag.substr(3, 9), "Caf\xe9 Song");
  EXPECT_EQ(tag.substr(33, 6), "Artist");
  EXPECT_EQ(tag.substr(63, 5), "Album");
  EXPECT_EQ(tag.substr(93, 4), "1999");
  EXPECT_EQ(tag.substr(97, 4), "Note");
  EXPECT_EQ(tag[125], '\0');  // ID3v1.1: the byte before the track number
  EXPECT_EQ(tag[126], '\x07');
}

TEST(MP3Out, StoppedJobLeavesAShorterPlayableFile) {
  TempDir dir;
  TMemoryInput input(MakePcm(44100 * 8));
  input.MaxChunk = 16384;
  TMP3Out output;
  output.FileName = dir.File("stop.mp3");
  ASSERT_EQ(RunAndStop(output, input, 44100 * 4), std::vector<std::string>{});
  std::string log;
  const auto decoded = Decode(output.FileName, dir.File("s.raw"), &log);
  EXPECT_GT(decoded.size(), size_t(44100 * 4));
  EXPECT_LT(decoded.size(), input.Pcm().size());
  // Exactly what was read before the stop: the info frame tells the real length.
  EXPECT_EQ(decoded.size(), size_t(input.Position.load()));
  EXPECT_TRUE(Mp3ValClean(output.FileName));
}

}  // namespace
}  // namespace qv
