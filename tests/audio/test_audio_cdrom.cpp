#include "audio/audio_cdrom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"
#include "tests/audio/job_waiter.h"
#include "tests/audio/peers.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

using namespace qv::test;

// An enhanced CD: three short audio tracks (the second with copy and
// pre-emphasis bits) and a data track in a second session.
class CDInTest : public testing::Test {
 protected:
  void SetUp() override {
    spec_.AudioTracks = {{150, false, false}, {113, true, true}, {90, false, false}};
    spec_.DataSectors = 40;
    spec_.Seed = 7;
    cue_ = dir_.File("disc.cue");
    toc_ = WriteDiscImage(spec_, cue_);
    ::setenv("QUORVEL_CDROM", cue_.c_str(), 1);
    cd_ = std::make_unique<TCDIn>();
    bin_ = ReadBytes(dir_.File("disc.bin"), size_t(150 + 113 + 90) * 2352);
  }
  void TearDown() override {
    cd_.reset();
    ::unsetenv("QUORVEL_CDROM");
  }

  // The track's audio as the image holds it.
  std::vector<uint8_t> TrackPcm(int Track) const {
    const auto& t = toc_.Tracks.at(size_t(Track - 1));
    const size_t from = size_t(t.StartLsn) * 2352;
    return {
        bin_.begin() + long(from),
        bin_.begin() + long(from + size_t(spec_.AudioTracks.at(size_t(Track - 1)).Sectors) * 2352)};
  }
  void SelectTrack(int Track) {
    cd_->SetStartTrack(Track);
    cd_->SetEndTrack(Track);
  }

  TempDir dir_;
  DiscSpec spec_;
  CdToc toc_;
  std::string cue_;
  std::unique_ptr<TCDIn> cd_;
  std::vector<uint8_t> bin_;
};

// A 200-second track before a data track keeps every sector unless the data
// track really lies in a second session, the gap between them absent: the
// CD-Extra layout keeps that gap as the data track's pregap; a single-session
// image has the data track right after the audio, the gap not in the file.
TEST_F(CDInTest, LastAudioTrackBeforeDataKeepsEverySector) {
  struct Case {
    const char* name;
    uint32_t gap;
    const char* cueLine;  // added before the data track's INDEX 01
  } const cases[] = {
      {"CD-Extra", kSessionGapSectors, nullptr},
      {"one session, no gap", 0, nullptr},
      {"one session, gap left out of the file", 0, "    PREGAP 02:32:00\n"},
  };
  const uint32_t sectors = 200 * 75;
  spec_.AudioTracks = {{75}, {sectors}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    spec_.SessionGap = c.gap;
    toc_ = WriteDiscImage(spec_, cue_);
    if (c.cueLine != nullptr) {
      std::ifstream in(cue_);
      std::string cue((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      cue.insert(cue.rfind("    INDEX 01"), c.cueLine);
      std::ofstream(cue_, std::ios::trunc) << cue;
    }
    SelectTrack(2);
    EXPECT_EQ(cd_->GetSize(), int64_t(sectors) * 2352);
    cd_->Init();
    std::vector<uint8_t> got, buffer(65536);
    while (const int n = cd_->GetData(buffer.data(), int(buffer.size())))
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    cd_->Flush();
    const auto bin = ReadBytes(dir_.File("disc.bin"));
    EXPECT_EQ(got.size(), size_t(sectors) * 2352);
    EXPECT_TRUE(got.size() <= bin.size() - 75 * 2352 &&
                std::equal(got.begin(), got.end(), bin.begin() + 75 * 2352));
  }
}

TEST_F(CDInTest, RangeErrorsEndTheJobWithTheirTexts) {
  struct Case {
    int start, end;
    const char* message;
  } const cases[] = {
      {0, 1, "The start track out of range"}, {5, 5, "The start track out of range"},
      {4, 4, "Trying to rip a data track"},   {1, 5, "The end track out of range"},
      {3, 2, "The end track out of range"},   {1, -1, "The end track out of range"},
  };
  TFLACOut output;
  output.FileName = dir_.File("x.flac");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
    cd_->SetStartTrack(c.start);
    cd_->SetEndTrack(c.end);
    EXPECT_EQ(RunJob(output, *cd_), std::vector<std::string>{c.message});
    EXPECT_FALSE(cd_->Busy);
  }
}

TEST_F(CDInTest, RipsEachTrackToFLACBitExact) {
  TFLACOut output;
  for (int track = 1; track <= 3; ++track) {
    SCOPED_TRACE(track);
    SelectTrack(track);
    output.FileName = dir_.File("t" + std::to_string(track) + ".flac");
    int lastProgress = -2;
    JobWaiter waiter(output);
    output.OnProgress = [&](TAudioOutput* o) { lastProgress = o->Progress(); };
    output.SetInput(cd_.get());
    output.Run();
    ASSERT_TRUE(waiter.WaitEnded(1));
    ASSERT_TRUE(WaitFor([&] { return output.Status() == TOutputStatus::osIdle; }));
    EXPECT_TRUE(waiter.Errors().empty());
    EXPECT_EQ(lastProgress, 100);
    const auto test = RunCommand("flac -t -s " + Quote(output.FileName));
    EXPECT_EQ(test.status, 0) << test.output;
    auto md5 = RunCommand("metaflac --show-md5sum " + Quote(output.FileName)).output;
    EXPECT_EQ(md5.substr(0, 32), Md5Of(TrackPcm(track), dir_.File("pcm")));
    auto samples = RunCommand("metaflac --show-total-samples " + Quote(output.FileName)).output;
    EXPECT_EQ(std::stol(samples), long(spec_.AudioTracks[size_t(track - 1)].Sectors) * 588);
  }
}

// The lossy encoders take the drive's audio too: track 1 at 128 kbit/s, track 2 to Ogg.
TEST_F(CDInTest, RipsToMP3AndOggVorbis) {
  TMP3Out mp3;
  SelectTrack(1);
  mp3.FileName = dir_.File("t.mp3");
  ASSERT_TRUE(RunJob(mp3, *cd_).empty());
  const auto r =
      RunCommand("mpg123 -q -s " + Quote(mp3.FileName) + " > " + Quote(dir_.File("t.raw")));
  ASSERT_EQ(r.status, 0) << r.output;
  const auto decoded = ReadBytes(dir_.File("t.raw"));
  const auto source = TrackPcm(1);
  ASSERT_EQ(decoded.size(), source.size());
  for (int channel = 0; channel < 2; ++channel)
    EXPECT_GT(Correlation(Channel(source, 2, channel), Channel(decoded, 2, channel)), 0.95);

  TVorbisOut ogg;
  SelectTrack(2);
  ogg.FileName = dir_.File("t.ogg");
  ASSERT_TRUE(RunJob(ogg, *cd_).empty());
  const auto info = RunCommand("ogginfo " + Quote(ogg.FileName));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("WARNING"), std::string::npos) << info.output;
  const auto dec =
      RunCommand("oggdec -Q -R -o " + Quote(dir_.File("o.raw")) + " " + Quote(ogg.FileName));
  ASSERT_EQ(dec.status, 0) << dec.output;
  EXPECT_EQ(ReadBytes(dir_.File("o.raw")).size(), TrackPcm(2).size());
}

TEST_F(CDInTest, ReadErrorEndsTheRangeWithoutStaleAudio) {
  SelectTrack(1);
  cd_->Init();
  // The image loses its end while the range is open: the first second of
  // track 1 is still there, the second is not.
  std::filesystem::resize_file(dir_.File("disc.bin"), 100 * 2352);
  std::vector<uint8_t> got;
  std::vector<uint8_t> buffer(16384);
  try {
    for (;;) {
      const int n = cd_->GetData(buffer.data(), int(buffer.size()));
      if (n == 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    ADD_FAILURE() << "the range ended normally after " << got.size() << " bytes";
  } catch (const EAudioException& e) {
    // The message names the image that failed, as the disc check would.
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("Read error on the disc: ", 0), 0u) << what;
    EXPECT_NE(what.find(dir_.File("disc.bin")), std::string::npos) << what;
  }
  // Only audio that was really read came out, and the failed chunk is not
  // delivered again.
  const auto pcm = TrackPcm(1);
  ASSERT_LE(got.size(), 100u * 2352);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin()));
  EXPECT_THROW((void)cd_->GetData(buffer.data(), int(buffer.size())), EAudioException);
  cd_->Flush();
  EXPECT_FALSE(cd_->Busy);
}

}  // namespace
}  // namespace qv
