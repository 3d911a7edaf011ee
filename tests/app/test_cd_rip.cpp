#include "app/cd_rip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/rip_session.h"
#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_vorbis.h"
#include "cddb/cddb_types.h"
#include "tests/app/app_test_util.h"
#include "tests/app/headless_window.h"
#include "tests/platform/base/file_size_limit.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

using namespace qv::test;

// A generated disc image in the drive list, a scratch folder as the current folder (the log
// and "NOCOVER.jpg" live there) and an INI file; then the session as the window creates it.
class CDripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::getcwd(oldCwd_, sizeof oldCwd_);
    ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
    WriteText(dir_.File("NOCOVER.jpg"), "placeholder picture bytes");
    WriteText(dir_.File("q.ini"), "[CONF]\nCDDB_Char=-\n");
    ::setenv("QUORVEL_INI", dir_.File("q.ini").c_str(), 1);
  }
  void TearDown() override {
    session_.reset();
    ::unsetenv("QUORVEL_CDROM");
    ::unsetenv("QUORVEL_INI");
    ::chdir(oldCwd_);
  }

  void MakeDisc(std::vector<uint32_t> Sectors, uint32_t DataSectors = 0) {
    for (uint32_t n : Sectors) spec_.AudioTracks.push_back({n});
    spec_.DataSectors = DataSectors;
    spec_.Seed = 3;
    toc_ = WriteDiscImage(spec_, dir_.File("disc.cue"));
    ::setenv("QUORVEL_CDROM", dir_.File("disc.cue").c_str(), 1);
  }

  TRipSession& Start(const std::vector<std::string>& Params) {
    session_ = std::make_unique<TRipSession>(window_);
    session_->Start(Params);
    return *session_;
  }

  static TCDInfo Entry() {
    TCDInfo info;
    info.Artist = "AC/DC";
    info.Title = "Live: Donington";
    info.Year = "1992";
    info.Category = "rock";
    info.TrackTitles[0] = "Thunderstruck";
    info.TrackTitles[1] = "Who Made Who?";
    info.TrackTitles[2] = "Hells Bells";
    return info;
  }

  // The PCM of audio track `Track` as the image holds it.
  std::string TrackPcm(int Track) const {
    const std::string bin = ReadText(dir_.File("disc.bin"));
    const auto& t = toc_.Tracks.at(size_t(Track - 1));
    return bin.substr(size_t(t.StartLsn) * 2352,
                      size_t(spec_.AudioTracks[Track - 1].Sectors) * 2352);
  }

  ScratchDir dir_;
  char oldCwd_[4096] = {};
  DiscSpec spec_;
  CdToc toc_;
  THeadlessWindow window_;
  std::unique_ptr<TRipSession> session_;
};

TEST_F(CDripTest, FlacFilesAreBitExactAndNamedByTheEntry) {
  MakeDisc({150, 113, 90});
  TRipSession& s = Start({"-format=FLAC", "-pathtoenc=" + dir_.File("out/"), "-debug"});
  s.BeginLookup();
  const std::string status = s.ApplyEntry(Entry());
  EXPECT_EQ(status, "Destination : " + dir_.File("out/AC-DC/Live- Donington/"));
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.ExitStatus(), 0);
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"AC-DC/Live- Donington/01 - Thunderstruck.flac",
                                      "AC-DC/Live- Donington/02 - Who Made Who-.flac",
                                      "AC-DC/Live- Donington/03 - Hells Bells.flac",
                                      "AC-DC/Live- Donington/cover.jpg"}));
  // The cover is the shown picture, the placeholder included.
  EXPECT_EQ(ReadText(dir_.File("out/AC-DC/Live- Donington/cover.jpg")),
            "placeholder picture bytes");
  for (int track = 1; track <= 3; ++track) {
    SCOPED_TRACE(track);
    const std::string& file = outcome.Files.at(size_t(track - 1));
    const auto decoded = RunCommand(
        "flac -s -d -c --force-raw-format --endian=little "
        "--sign=signed " +
        Quote(file) + " > " + Quote(file + ".raw"));
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    EXPECT_TRUE(ReadText(file + ".raw") == TrackPcm(track));
    std::remove((file + ".raw").c_str());
    // No tags of any kind.
    const auto tags = RunCommand("metaflac --export-tags-to=- " + Quote(file));
    EXPECT_EQ(tags.output, "");
  }
  EXPECT_EQ(window_.Status(), "Rip done !");
  EXPECT_EQ(window_.Progress(), 100);
  EXPECT_FALSE(window_.RippingControls());
  EXPECT_FALSE(window_.Closed());

  const auto log = Lines(ReadText(dir_.File("Quorvel.log")));
  const std::vector<std::string> head(log.begin(), log.begin() + 4);
  EXPECT_EQ(head[0], "FormCreate started");
  EXPECT_EQ(head[1].rfind("FormCreate : CDRip drive ", 0), 0u);
  EXPECT_EQ(head[2].rfind("FormCreate : CDDB drive ", 0), 0u);
  EXPECT_EQ(head[3], "FormCreate finished");
  for (const char* line :
       {"CDrip : Starting", "CDRip : audioFormat FLAC", "CDRip : bitrate ",
        "CDrip : DiscInfo OK cdiDiscMixed or cdiDiscAudio", "CDrip : Process 3 tracks",
        "CDrip : Process track number 2", "CDrip : start ripping", "CDrip : ripping done"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end());
  }
}

TEST_F(CDripTest, Mp3FramesCarryTheEntrysTexts) {
  MakeDisc({120, 100});
  TRipSession& s = Start({"-pathtoenc=" + dir_.File("out/"), "-bitrate=128",
                          "-filename=%genre%\\%Year% %ALBUM%\\%TRACKNB%. %trackname%"});
  s.BeginLookup();
  s.ApplyEntry(Entry());
  const TRipOutcome outcome = s.CDrip();
  ASSERT_EQ(outcome.ExitStatus(), 0);
  ASSERT_EQ(outcome.Files.size(), 2u);
  EXPECT_EQ(outcome.Files[1], dir_.File("out/rock/1992 Live- Donington/02. Who Made Who-.mp3"));
  const std::string script =
      "import sys, mutagen.id3, mutagen.mp3\n"
      "t = mutagen.id3.ID3(sys.argv[1], translate=False)\n"
      "year = 'TDRC' if t.version[1] == 4 else 'TYER'\n"
      "for k in ('TIT2','TPE1','TALB',year,'TCON','TRCK'):\n"
      "  print(k, str(t[k]) if k in t else '-')\n"
      "print('kbps', round(mutagen.mp3.MP3(sys.argv[1]).info.bitrate / 1000))\n";
  WriteText(dir_.File("tags.py"), script);
  const auto r =
      RunCommand("/usr/bin/python3 " + Quote(dir_.File("tags.py")) + " " + Quote(outcome.Files[1]));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "TIT2 Who Made Who?\nTPE1 AC/DC\nTALB Live: Donington\nTYER 1992\nTCON rock\n"
            "TRCK 02\nkbps 128\n");
  const auto decode = RunCommand("mpg123 -q -t " + Quote(outcome.Files[0]));
  EXPECT_EQ(decode.status, 0) << decode.output;
}

TEST_F(CDripTest, OggFilesGetExactlyThreeCommentsEach) {
  MakeDisc({90, 80, 70});
  TRipSession& s = Start({"-format=OGG", "-compression=0.5", "-pathtoenc=" + dir_.File("o/")});
  s.BeginLookup();
  s.ApplyEntry(Entry());
  const TRipOutcome outcome = s.CDrip();
  ASSERT_EQ(outcome.ExitStatus(), 0);
  WriteText(dir_.File("c.py"),
            "import sys, mutagen.oggvorbis\n"
            "for f in sys.argv[1:]:\n"
            "  print(sorted((k.upper(), v) for k, v in mutagen.oggvorbis.OggVorbis(f).tags))\n");
  std::string args;
  for (const auto& f : outcome.Files) args += " " + Quote(f);
  const auto r = RunCommand("/usr/bin/python3 " + Quote(dir_.File("c.py")) + args);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "[('ALBUM', 'Live: Donington'), ('ARTIST', 'AC/DC'), ('TITLE', 'Thunderstruck')]\n"
            "[('ALBUM', 'Live: Donington'), ('ARTIST', 'AC/DC'), ('TITLE', 'Who Made Who?')]\n"
            "[('ALBUM', 'Live: Donington'), ('ARTIST', 'AC/DC'), ('TITLE', 'Hells Bells')]\n");
  EXPECT_EQ(RunCommand("ogginfo " + Quote(outcome.Files[2])).status, 0);
}

// Without a lookup result (or after a failed one) the names come from the fields as they
// are, never from the previous disc, and stay distinct.
TEST_F(CDripTest, WithoutAnEntryTracksGetDistinctSafeNames) {
  MakeDisc({60, 60});
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/")});
  s.BeginLookup();
  s.ApplyEntry(Entry());  // a previous disc's entry ...
  s.RefreshTrackList();
  s.BeginLookup();
  EXPECT_EQ(s.LookupFailed(TRipSession::TLookupFailure::NoMatch), "unknown CD Audio");
  // ... this disc's lookup found nothing: not ready, but ended, so an unattended run rips it.
  EXPECT_FALSE(s.FReady);
  EXPECT_TRUE(s.LookupDone);
  EXPECT_EQ(s.LookupFailed(TRipSession::TLookupFailure::NotConnected), "Not Connected");
  EXPECT_TRUE(s.FReady);  // a failed request makes the disc ready
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.ExitStatus(), 0);
  EXPECT_EQ(FilesBelow(dir_.File("o")),
            (std::vector<std::string>{"Unknown Artist/Unknown Album/01 - Track 1.flac",
                                      "Unknown Artist/Unknown Album/02 - Track 2.flac",
                                      "Unknown Artist/Unknown Album/cover.jpg"}));
}

TEST_F(CDripTest, RepeatedTitlesDoNotOverwriteEachOther) {
  MakeDisc({40, 40, 40});
  TRipSession& s =
      Start({"-format=flac", "-pathtoenc=" + dir_.File("o/"), "-filename=%TRACKNAME%"});
  TCDInfo info = Entry();
  info.TrackTitles[0] = info.TrackTitles[1] = info.TrackTitles[2] = "Intro";
  s.ApplyEntry(info);
  EXPECT_EQ(s.CDrip().ExitStatus(), 0);
  EXPECT_EQ(
      FilesBelow(dir_.File("o")),
      (std::vector<std::string>{"Intro (2).flac", "Intro (3).flac", "Intro.flac", "cover.jpg"}));
}

// "-auto": the rip starts when both the start timer has ticked and the lookup has ended,
// in either order, once; a lookup that ends late still starts it.
TEST_F(CDripTest, AutoRipStartsWhenTimerAndLookupAreBothDone) {
  MakeDisc({30});
  TRipSession& s = Start({"-auto", "-format=flac", "-pathtoenc=" + dir_.File("a/")});
  s.LookupEnded();  // the lookup has not ended: nothing is ready
  s.StartTimerFired();
  EXPECT_FALSE(s.AutoRipDone());
  s.LookupFailed();
  s.LookupEnded();
  ASSERT_TRUE(s.AutoRipDone());
  EXPECT_EQ(s.AutoRipOutcome().ExitStatus(), 0);
  EXPECT_TRUE(window_.Closed());
  s.LookupEnded();
  s.StartTimerFired();
  EXPECT_EQ(FilesBelow(dir_.File("a")).size(), 2u);  // one track and the cover, once

  THeadlessWindow other;
  TRipSession manual(other);
  manual.Start({"-format=flac", "-pathtoenc=" + dir_.File("b/")});
  manual.LookupFailed();
  manual.LookupEnded();
  manual.StartTimerFired();
  EXPECT_FALSE(manual.AutoRipDone());
  EXPECT_FALSE(std::filesystem::exists(dir_.File("b")));
}

// A title as long as a file name may be still leaves room for the extension and the
// temporary name.
TEST_F(CDripTest, LongTitlesStillGiveAFile) {
  MakeDisc({40});
  TRipSession& s =
      Start({"-format=flac", "-pathtoenc=" + dir_.File("o/"), "-filename=%TRACKNAME%"});
  TCDInfo info = Entry();
  info.TrackTitles[0] = std::string(300, 'x');
  s.ApplyEntry(info);
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.ExitStatus(), 0);
  ASSERT_EQ(outcome.Files.size(), 1u);
  EXPECT_EQ(std::filesystem::path(outcome.Files[0]).filename().string().size(), 255u - 15u);
}

// ESC during a long track: the output stops, its partial file goes, and no later track is
// written.
TEST_F(CDripTest, AbortLeavesNoPartialFile) {
  MakeDisc({6000, 50});
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/"), "-auto"});
  s.LookupFailed();
  window_.OnTask = [this] {
    if (window_.Progress() >= 5) window_.RequestAbort();
  };
  const TRipOutcome outcome = s.CDrip();
  EXPECT_TRUE(outcome.Aborted);
  EXPECT_EQ(outcome.Written, 0);
  EXPECT_EQ(outcome.ExitStatus(), 2);
  EXPECT_EQ(FilesBelow(dir_.File("o")),
            std::vector<std::string>{"Unknown Artist/Unknown Album/cover.jpg"});
  // The window is closing: the controls stay as the rip left them.
  EXPECT_TRUE(window_.RippingControls());
  EXPECT_EQ(s.FLACOut1->Status(), TOutputStatus::osIdle);
}

TEST_F(CDripTest, FailedTracksAreCountedAndLeaveNothing) {
  MakeDisc({40, 40, 40});
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/"),
                          "-filename=%TRACKNAME%\\%TRACKNB%", "-auto"});
  TCDInfo info = Entry();
  info.TrackTitles[1] = "Blocked";
  s.ApplyEntry(info);
  std::filesystem::create_directories(dir_.File("o"));
  WriteText(dir_.File("o/Blocked"), "a file where track 2's folder would go");
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.Written, 2);
  EXPECT_EQ(outcome.Failed, 1);
  EXPECT_EQ(outcome.ExitStatus(), 1);
  EXPECT_EQ(window_.Status(), "Rip done ! (1 failed)");
  EXPECT_FALSE(window_.RippingControls());  // re-enabled after a failure too
  EXPECT_TRUE(window_.Closed());            // an unattended rip still ends
  EXPECT_EQ(FilesBelow(dir_.File("o")),
            (std::vector<std::string>{"Blocked", "Hells Bells/03.flac", "Thunderstruck/01.flac",
                                      "cover.jpg"}));
  // Failures are logged even without -debug.
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("CDrip : track 2 failed : "),
            std::string::npos);
}

// A link put in the place of the rip's temporary file once its name is reserved, before the
// encoder starts, is never written through: the file it leads to stays as it was, and the
// track fails.
TEST_F(CDripTest, LinkPlantedAsTheTemporaryFileIsNeverWrittenThrough) {
  MakeDisc({40});
  const std::string victim = dir_.File("victim");
  WriteText(victim, "keep");
  for (const char* format : {"flac", "mp3"}) {
    SCOPED_TRACE(format);
    const std::string out = dir_.File(std::string(format) + "/");
    session_.reset();
    TRipSession& s = Start({std::string("-format=") + format, "-pathtoenc=" + out});
    s.LookupFailed();
    int planted = 0;
    window_.OnCddbDriveName = [&] {
      std::error_code ec;
      for (const auto& e :
           std::filesystem::directory_iterator(out + "Unknown Artist/Unknown Album", ec)) {
        if (!e.path().filename().string().ends_with(".tmp")) continue;
        std::filesystem::remove(e.path());
        std::filesystem::create_symlink(victim, e.path());
        ++planted;
      }
    };
    const TRipOutcome outcome = s.CDrip();
    window_.OnCddbDriveName = nullptr;
    EXPECT_EQ(planted, 1);
    EXPECT_TRUE(ReadText(victim) == "keep") << "written through the link";
    EXPECT_EQ(outcome.Written, 0);
    EXPECT_EQ(outcome.Failed, 1);
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"Unknown Artist/Unknown Album/cover.jpg"});
  }
}

// Failures that end a track are logged whatever -debug says, with their reason: a full disc
// (here the file-size limit) during a FLAC rip, and a track the disc does not have.
TEST_F(CDripTest, TrackFailuresAreLoggedWithTheirReason) {
  MakeDisc({300});
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/")});
  s.LookupFailed();
  s.TrackLines.push_back("Track 2");  // one more than the disc holds
  s.Log.FDebug = true;                // for the worker thread's own line
  TRipOutcome outcome;
  {
    qv::testing::FileSizeLimit limit(16384);
    ASSERT_TRUE(limit.ok());
    outcome = s.CDrip();
  }
  EXPECT_EQ(outcome.Failed, 2);
  const std::string log = ReadText(dir_.File("Quorvel.log"));
  EXPECT_NE(log.find("CDrip : track 1 failed : Failed to encode data. Cannot write file"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("File too large"), std::string::npos) << log;
  EXPECT_NE(log.find("FLAC : Thread Exception : Failed to encode data. Cannot write file"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("CDrip : track 2 failed : Track out of range."), std::string::npos) << log;
}

TEST_F(CDripTest, EncoderRefusingItsSettingsFailsEveryTrack) {
  MakeDisc({40, 40});
  TRipSession& s = Start({"-format=ogg", "-pathtoenc=" + dir_.File("o/")});
  s.VorbisOut1->Compression = -5.0f;  // the command line no longer lets this through
  s.LookupFailed();
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.Failed, 2);
  EXPECT_EQ(outcome.ExitStatus(), 2);
  EXPECT_EQ(FilesBelow(dir_.File("o")),
            std::vector<std::string>{"Unknown Artist/Unknown Album/cover.jpg"});
}

// A tag rewrite that fails (a full disc; here the file-size limit lets the encoder write its
// file but not the larger tagged one) fails the track: nothing stays under the final name or
// the temporary one, and the failure is logged.
TEST_F(CDripTest, Mp3WhoseTagsCannotBeWrittenIsAFailedTrack) {
  MakeDisc({40});
  TRipSession& s = Start({"-format=mp3", "-pathtoenc=" + dir_.File("whole/")});
  s.ApplyEntry(Entry());
  const TRipOutcome whole = s.CDrip();
  ASSERT_EQ(whole.Files.size(), 1u);
  const auto tagged = std::filesystem::file_size(whole.Files[0]);
  s.Options.FBasePath = dir_.File("full/");
  TRipOutcome full;
  {
    qv::testing::FileSizeLimit limit(tagged - 1);
    ASSERT_TRUE(limit.ok());
    full = s.CDrip();
  }
  EXPECT_EQ(full.Written, 0);
  EXPECT_EQ(full.Failed, 1);
  EXPECT_EQ(full.ExitStatus(), 2);
  EXPECT_EQ(FilesBelow(dir_.File("full")),
            std::vector<std::string>{"AC-DC/Live- Donington/cover.jpg"});
  EXPECT_NE(
      ReadText(dir_.File("Quorvel.log")).find("CDrip : track 1 failed : ID3v2 tag not written"),
      std::string::npos);
}

TEST_F(CDripTest, DataTracksAreSkippedAndDataDiscsNotRipped) {
  MakeDisc({40, 40}, 30);
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/")});
  EXPECT_EQ(s.TrackLines.size(), 3u);
  s.LookupFailed();
  const TRipOutcome outcome = s.CDrip();
  EXPECT_EQ(outcome.Written, 2);
  EXPECT_EQ(outcome.Failed, 0);
  EXPECT_EQ(outcome.ExitStatus(), 0);
}

// A disc arriving or leaving while a rip runs does not disturb it; outside a rip the window
// is cleared, or an arrival answers its text and leaves the lookup to the window.
TEST_F(CDripTest, MediaEventsWaitForTheRip) {
  MakeDisc({200, 60});
  TRipSession& s = Start({"-format=flac", "-pathtoenc=" + dir_.File("o/")});
  s.ApplyEntry(Entry());
  std::vector<std::string> answers;
  window_.OnTask = [&] {
    if (answers.empty() && window_.Progress() > 0) {
      answers.push_back(s.MediaRemoved());
      answers.push_back(s.MediaArrived());
    }
  };
  const TRipOutcome outcome = s.CDrip();
  window_.OnTask = nullptr;
  EXPECT_EQ(answers, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(outcome.ExitStatus(), 0);
  EXPECT_EQ(outcome.Files.at(1), dir_.File("o/AC-DC/Live- Donington/02 - Who Made Who-.flac"));

  s.Cover = {1, 2, 3};
  EXPECT_EQ(s.MediaRemoved(), "CD Ejected !");
  EXPECT_TRUE(s.TrackLines.empty());
  EXPECT_EQ(s.Texts.Artist, "");
  EXPECT_EQ(s.FDestination, "");
  EXPECT_TRUE(s.FReady);  // a removal leaves the readiness; the next lookup clears it
  EXPECT_EQ(s.Cover, s.Placeholder);
  // An arrival only answers its text and reads nothing: the lookup the window starts on it
  // refreshes the track list, once.
  EXPECT_EQ(s.MediaArrived(), "CD Inserted !");
  EXPECT_TRUE(s.TrackLines.empty());
  EXPECT_TRUE(s.FReady);
  s.NewLookup();
  EXPECT_FALSE(s.FReady);
  EXPECT_FALSE(s.LookupDone);
  EXPECT_EQ(s.TrackLines, (std::vector<std::string>{"Track 1", "Track 2"}));
}

// The "Destination :" line names the folder the files and the cover really go to, not the
// pattern as written.
TEST_F(CDripTest, DestinationLineShowsTheRealFolder) {
  MakeDisc({30});
  struct Case {
    const char* pattern;
    const char* folder;  // below the base folder
  } const cases[] = {
      {"..\\..\\%TRACKNAME%", "__/__/"},
      {"/tmp/x/%TRACKNAME%", "tmp/x/"},
      {"%ARTIST%/%TRACKNB%/%TRACKNAME%", "AC-DC/"},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const std::string base = dir_.File("o" + std::to_string(++run) + "/");
    TRipSession& s =
        Start({"-format=flac", "-pathtoenc=" + base, std::string("-filename=") + c.pattern});
    const std::string folder = base + c.folder;
    EXPECT_EQ(s.ApplyEntry(Entry()), "Destination : " + folder);
    const TRipOutcome outcome = s.CDrip();
    ASSERT_EQ(outcome.Files.size(), 1u);
    EXPECT_EQ(outcome.Files[0].rfind(folder, 0), 0u) << outcome.Files[0];
    EXPECT_TRUE(std::filesystem::exists(folder + "cover.jpg"));
  }
}

}  // namespace
}  // namespace qv
