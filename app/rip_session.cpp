#include "app/rip_session.h"

#include <cstdio>

#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"
#include "cddb/cddb_types.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "tags/id3v2.h"

namespace qv {

namespace {

const char* const kLangMessages[kLangMessageCount] = {
    "Not Connected",
    "unknown CD Audio",
    "Slide",
    "of",
    "Check cover list",
    "Validate cover",
    "No cover was found !",
    "RIP Track N\u00b0",
    "Rip done !",
    "Destination :",
    "CD Ejected !",
    "CD Inserted !",
};

// The file's bytes; nothing when it is missing or unreadable (the picture stays empty).
std::vector<uint8_t> FileBytes(const std::string& Path) {
  try {
    const std::string bytes = ReadFileBytes(Path);
    return {bytes.begin(), bytes.end()};
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

const char* DefaultLangMessage(int Index) {
  return Index >= 0 && Index < kLangMessageCount ? kLangMessages[Index] : "";
}

TRipSession::TRipSession(TRipWindow& Window)
    : Id3Tag(std::make_unique<Tid3v2tag>()),
      window_(Window),
      owner_(std::make_unique<TComponent>(nullptr)) {
  for (int i = 0; i < kLangMessageCount; ++i) LangMessages.emplace_back(kLangMessages[i]);
  CDIn1 = Create<TCDIn>(owner_.get());
  VorbisOut1 = Create<TVorbisOut>(owner_.get());
  MP3Out1 = Create<TMP3Out>(owner_.get());
  FLACOut1 = Create<TFLACOut>(owner_.get());
  VorbisOut1->SetInput(CDIn1);
  MP3Out1->SetInput(CDIn1);
  MP3Out1->BitRate = TMP3BitRate::br192;
  FLACOut1->SetInput(CDIn1);
  FLACOut1->BlockSize = 4608;
  FLACOut1->EnableMidSideStereo = true;
  ripper_ =
      std::make_unique<TCDRipper>(*CDIn1, *MP3Out1, *VorbisOut1, *FLACOut1, *Id3Tag, Log, window_);
  ripper_->OnWarning = [this](const std::string& Text) { Warn(Text); };
}

TRipSession::~TRipSession() {
  Log.WriteLog("Quorvel closing");
  Log.CloseLog();
  // The outputs first: their workers may still be inside the ripper's handlers.
  owner_.reset();
  ripper_.reset();
}

void TRipSession::Start(const std::vector<std::string>& Params) {
  // The run goes on without its log; the user learns why there is none.
  if (std::string why; !Log.OpenLog(kLogFileName, &why))
    Warn("OpenLog : the log " + std::string(kLogFileName) + " cannot be opened: " + why);
  Log.FDebug = true;
  Log.WriteLog("FormCreate started");
  FReady = false;
  LookupDone = false;
  Placeholder = FileBytes("NOCOVER.jpg");
  Cover = Placeholder;

  const auto problem = [this](const std::string& Text) { Warn(Text); };
  Config = LoadConfig(IniFileName(), problem);
  if (!Config.LocalCDDB.empty() && !ForceDirectories(Config.LocalCDDB))
    problem("LoadConfig : CONF localCDDB " + Config.LocalCDDB + " cannot be created");
  if (!Config.GenreFile.empty()) {
    for (std::string& genre : LoadGenreFile(Config.GenreFile, problem))
      Categories.push_back(std::move(genre));
  }
  Options = TRipOptions();
  window_.SelectCddbDrive(0);
  Log.WriteLog("FormCreate : CDRip drive " + CDIn1->DriveName());
  Log.WriteLog("FormCreate : CDDB drive " + window_.CddbDriveName());
  Log.FDebug = false;

  ParseCommandLine(
      Params, Options, [this](int N) { SetCDrive(N); }, [this] { Log.FDebug = true; }, problem);
  MP3Out1->BitRate = Options.BitRate;
  VorbisOut1->Compression = Options.Compression;
  RefreshTrackList();
  if (LogCreateFinished) Log.WriteLog("FormCreate finished");
}

void TRipSession::SetCDrive(int N) {
  if (N >= 0 && N < CDIn1->DrivesCount()) {
    CDIn1->SetCurrentDrive(N);
    CDIn1->Reset();
    Log.WriteLog("SetCDrive : Select CDRip drive " + CDIn1->DriveName());
    window_.SelectCddbDrive(N);
    Log.WriteLog("SetCDrive : Select CDDB drive " + window_.CddbDriveName());
  } else if (N >= 0) {
    // A negative one is no drive number at all, and the command line said so already.
    Warn("SetCDrive : there is no drive " + IntToStr(N) + " (" + IntToStr(CDIn1->DrivesCount()) +
         " found), drive " + IntToStr(CDIn1->CurrentDrive()) + " " + CDIn1->DriveName() +
         " stays selected");
  }
  RefreshTrackList();
}

void TRipSession::Warn(const std::string& Text) {
  Log.Report(Text);
  if (WarningEcho != nullptr) {
    std::fprintf(WarningEcho, "quorvel: %s\n", Text.c_str());
    std::fflush(WarningEcho);
  }
}

void TRipSession::RefreshTrackList() {
  TrackLines.clear();
  DiscLayout.clear();
  Texts = TAlbumTexts();
  CDIn1->Reset();
  const TCDDiscInfo info = CDIn1->DiscInfo();
  if (info != TCDDiscInfo::cdiDiscAudio && info != TCDDiscInfo::cdiDiscMixed &&
      Config.FEmptyEject == 1) {
    CDIn1->Eject();
    return;
  }
  const int count = CDIn1->TracksCount();
  for (int n = 1; n <= count; ++n) TrackLines.push_back("Track " + IntToStr(n));
  DiscLayout = TCDRipper::ReadDiscLayout(*CDIn1);
  window_.SelectTrackLine(TrackLines.empty() ? -1 : 0);
}

void TRipSession::BeginLookup() {
  FReady = false;
  LookupDone = false;
  FDestination.clear();
}

std::string TRipSession::LookupFailed(TLookupFailure Reason) {
  FDestination.clear();
  // Every end of a lookup lets an unattended run rip what it can and end, not only the
  // failed request that makes the disc ready.
  LookupDone = true;
  switch (Reason) {
    case TLookupFailure::NotConnected:
      FReady = true;
      return LangMessages[0];
    case TLookupFailure::NoMatch:
      return LangMessages[1];
    default:
      return "";
  }
}

std::string TRipSession::ApplyEntry(const TCDInfo& Info) {
  Texts.Album = Info.Title;
  Texts.Artist = Info.Artist;
  int found = -1;
  for (size_t i = 0; i < Categories.size() && found < 0; ++i)
    if (SameText(Categories[i], Info.Category)) found = int(i);
  if (found < 0) {
    Categories.push_back(Info.Category);
    found = int(Categories.size()) - 1;
  }
  Texts.Genre = Categories[size_t(found)];
  FYear = Info.Year;
  // The list may be shorter than the entry (a disc changed under the lookup).
  for (size_t n = 0; n < TrackLines.size() && n < Info.TrackTitles.size(); ++n)
    TrackLines[n] = Info.TrackTitles[n];
  FDestination = FillAlbumPlaceholders(Options.FPattern, Texts,
                                       TNameChars{Config.FCDDBChar, Config.FSpaceChar});
  FReady = true;
  LookupDone = true;
  // The folder the files and the cover really go to, not the pattern as written.
  return LangMessages[9] + " " + TCDRipper::AlbumFolder(Options.FBasePath, FDestination);
}

void TRipSession::NewLookup() {
  BeginLookup();
  RefreshTrackList();
  Cover = Placeholder;
}

std::string TRipSession::MediaArrived() {
  if (ripper_->Ripping()) {
    Log.WriteLog("CDEvents : disc arrival ignored during a rip");
    return "";
  }
  return LangMessages[11];
}

std::string TRipSession::MediaRemoved() {
  if (ripper_->Ripping()) {
    Log.WriteLog("CDEvents : disc removal ignored during a rip");
    return "";
  }
  TrackLines.clear();
  DiscLayout.clear();
  Texts = TAlbumTexts();
  // The readiness stays as it was (a new disc's lookup clears it); the names do not.
  FDestination.clear();
  Cover = Placeholder;
  return LangMessages[10];
}

TRipJob TRipSession::MakeJob() const {
  TRipJob job;
  job.FormatIndex = Options.FormatIndex;
  job.FormatText = Options.FormatIndex >= 0 ? FormatItems()[size_t(Options.FormatIndex)] : "";
  const std::vector<std::string> items = BitrateItems(Options.FormatIndex);
  const int item =
      BitrateItemByText(Options.FormatIndex, MP3Out1->BitRate, VorbisOut1->Compression);
  job.BitrateText = item >= 0 && item < int(items.size()) ? items[size_t(item)] : "";
  job.Texts = Texts;
  job.TrackLines = TrackLines;
  job.DiscLayout = DiscLayout;
  job.Destination = FDestination;
  job.Pattern = Options.FPattern;
  job.BasePath = Options.FBasePath;
  job.Chars = TNameChars{Config.FCDDBChar, Config.FSpaceChar};
  job.CoverName = Config.FCoverName;
  job.Cover = Cover;
  job.AutoRip = Options.FAutoRip;
  job.RipTrackText = LangMessages[7];
  job.RipDoneText = LangMessages[8];
  return job;
}

TRipOutcome TRipSession::CDrip() {
  return ripper_->CDrip(MakeJob());
}

void TRipSession::StartTimerFired(bool MayRipNow) {
  timerFired_ = true;
  if (MayRipNow) MaybeAutoRip();
}

void TRipSession::LookupEnded() {
  MaybeAutoRip();
}

void TRipSession::MaybeAutoRip() {
  if (!Options.FAutoRip || !timerFired_ || !(FReady || LookupDone) || autoRip_ ||
      ripper_->Ripping())
    return;
  autoRip_ = CDrip();
  window_.Close();
}

}  // namespace qv
