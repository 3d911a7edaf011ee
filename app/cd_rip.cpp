#include "app/cd_rip.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "app/rip_log.h"
#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "tags/id3v2.h"

namespace qv {

namespace {

bool IsAudioDisc(TCDDiscInfo Info) {
  return Info == TCDDiscInfo::cdiDiscAudio || Info == TCDDiscInfo::cdiDiscMixed;
}

// A final name not yet used in this rip: titles may repeat, and a pattern may leave out the
// track number.
std::string DistinctName(const std::string& Path, const std::string& Ext,
                         std::set<std::string>& Used) {
  // The file name with extension and a " (NN)" must still fit in the file system's 255 bytes,
  // with room to spare.
  const std::string folder = ExtractFilePath(Path);
  const size_t room = 255 - Ext.size() - 5 - 10;
  const std::string base = folder + Utf8Truncate(ExtractFileName(Path), room);
  std::string name = base + Ext;
  for (int n = 2; Used.count(name) != 0; ++n) name = base + " (" + IntToStr(n) + ")" + Ext;
  Used.insert(name);
  return name;
}

// Makes `Folder` with its missing parents; throws with the system's reason.
void MakeFolder(const std::string& Folder) {
  if (Folder.empty()) return;
  errno = 0;
  if (ForceDirectories(Folder)) return;
  const int error = errno;
  std::string reason = error != 0 ? std::strerror(error) : "unknown reason";
  // Something that is no folder stands in the way: mkdir says "File exists".
  if (error == EEXIST) reason = std::strerror(ENOTDIR);
  throw Exception("Cannot create the folder " + Folder + " : " + reason);
}

constexpr const char* kDiscChanged =
    "The disc in the drive is not the one looked up any more: the rip is stopped";

}  // namespace

int TRipOutcome::ExitStatus() const {
  if (Written == 0) return 2;
  return Failed == 0 && !Aborted && !DiscChanged ? 0 : 1;
}

std::vector<int> TCDRipper::ReadDiscLayout(TCDIn& CDIn) {
  std::vector<int> layout;
  try {
    for (const TCDTrackInfo& info : CDIn.TracksInfo())
      layout.push_back(MSFToFrames(info.Length) * 2 + (info.DataTrack ? 1 : 0));
  } catch (const std::exception&) {
    layout.clear();  // no table of contents: no disc that could be the one looked up
  }
  return layout;
}

bool TCDRipper::SameDisc(const std::vector<int>& Disc) {
  return Disc.empty() || ReadDiscLayout(cdIn_) == Disc;
}

TCDRipper::TCDRipper(TCDIn& CDIn, TMP3Out& MP3Out, TVorbisOut& VorbisOut, TFLACOut& FLACOut,
                     Tid3v2tag& Id3Tag, TRipLog& Log, TRipWindow& Window)
    : cdIn_(CDIn),
      mp3Out_(MP3Out),
      vorbisOut_(VorbisOut),
      flacOut_(FLACOut),
      id3Tag_(Id3Tag),
      log_(Log),
      window_(Window) {
  for (TAudioOutput* output :
       {static_cast<TAudioOutput*>(&flacOut_), static_cast<TAudioOutput*>(&mp3Out_),
        static_cast<TAudioOutput*>(&vorbisOut_)}) {
    output->OnProgress = [this](TAudioOutput* Sender) { OutputProgress(Sender); };
    output->OnDone = [this](TAudioOutput*) {
      window_.PostToMain([job = job_] { job->Ended = true; });
    };
  }
  flacOut_.OnThreadException = [this](TAudioOutput* Sender, const std::exception& E) {
    FLACOut1ThreadException(Sender, E);
  };
  mp3Out_.OnThreadException = [this](TAudioOutput* Sender, const std::exception& E) {
    MP3Out1ThreadException(Sender, E);
  };
  vorbisOut_.OnThreadException = [this](TAudioOutput* Sender, const std::exception& E) {
    VorbisOut1ThreadException(Sender, E);
  };
}

TCDRipper::~TCDRipper() = default;

// The outputs' events run on their worker threads: they touch no control, they post.
void TCDRipper::OutputProgress(TAudioOutput* Sender) {
  const int progress = Sender->Progress();
  TRipWindow* const window = &window_;
  window->PostToMain([window, progress, job = job_] {
    window->SetProgress(progress);
    // The track's file goes to the device while it is encoded, from this thread, which only
    // waits meanwhile: the sync before its rename then has little left to wait for.
    if (job->File != nullptr) job->File->StartWriteBack();
  });
}

void TCDRipper::MP3Out1ThreadException(TAudioOutput*, const std::exception& E) {
  ThreadException("MP3", E);
}

void TCDRipper::VorbisOut1ThreadException(TAudioOutput*, const std::exception& E) {
  ThreadException("Ogg Vorbis", E);
}

void TCDRipper::FLACOut1ThreadException(TAudioOutput*, const std::exception& E) {
  ThreadException("FLAC", E);
}

void TCDRipper::ThreadException(const char* Name, const std::exception& E) {
  const std::string error = E.what();
  log_.WriteLog(std::string(Name) + " : Thread Exception : " + error);
  window_.PostToMain([job = job_, error] {
    job->Error = error;
    job->Ended = true;
  });
}

std::string TCDRipper::AlbumFolder(const std::string& BasePath, const std::string& Destination) {
  std::string fixed = Destination;
  size_t cut = std::string::npos;
  for (const char* placeholder : {"%TRACKNB%", "%TRACKNAME%"}) {
    const std::string upper = UpperCase(fixed);
    const size_t at = upper.find(placeholder);
    if (at != std::string::npos && (cut == std::string::npos || at < cut)) cut = at;
  }
  if (cut != std::string::npos) fixed = fixed.substr(0, cut);
  return FolderPart(TrackFileName(BasePath, fixed + "x", 1, "", {}));
}

TRipOutcome TCDRipper::CDrip(const TRipJob& Job) {
  TRipOutcome outcome;
  log_.WriteLog("CDrip : Starting");
  log_.WriteLog("CDRip : audioFormat " + Job.FormatText);
  log_.WriteLog("CDRip : bitrate " + Job.BitrateText);
  if (!IsAudioDisc(cdIn_.DiscInfo())) {
    // A disc that is not audio is no fault; one that cannot be read says why, whatever -debug
    // says, or an unreadable disc image would pass for an empty drive.
    outcome.DiscError = cdIn_.DiscError();
    if (!outcome.DiscError.empty()) {
      log_.Report("CDrip : " + outcome.DiscError);
      window_.SetStatus(outcome.DiscError);
    }
    return outcome;
  }
  log_.WriteLog("CDrip : DiscInfo OK cdiDiscMixed or cdiDiscAudio");

  TAudioFileOut* output = nullptr;
  switch (Job.FormatIndex) {
    case 0:
      output = &mp3Out_;
      break;
    case 1:
      output = &vorbisOut_;
      break;
    case 2:
      output = &flacOut_;
      break;
    default:
      // An unknown "-format" leaves no output to drive.
      window_.SetStatus("No audio format selected !");
      log_.WriteLog("CDrip : no audio format selected");
      if (Job.AutoRip) window_.Close();
      return outcome;
  }
  const std::string ext = FormatExtension(Job.FormatIndex);
  outcome.Started = true;
  ripping_ = true;
  window_.SetRipping(true);
  // Whatever escapes the loop must not leave RIP and CDDB disabled for good.
  struct TControlsBack {
    TCDRipper& ripper;
    bool armed = true;
    ~TControlsBack() {
      if (!armed) return;
      ripper.ripping_ = false;
      try {
        ripper.window_.SetRipping(false);
      } catch (...) {
        // Already unwinding from another failure; that one is reported.
      }
    }
  } controlsBack{*this};

  // Without a finished lookup the names come from the fields as they are now, never from
  // the previous disc.
  const std::string destination = Job.Destination.empty()
                                      ? FillAlbumPlaceholders(Job.Pattern, Job.Texts, Job.Chars)
                                      : Job.Destination;
  const std::string folder = AlbumFolder(Job.BasePath, destination);
  log_.WriteLog("CDrip : Final Path : " + folder);
  cleaned_.clear();
  // One that cannot be made fails each track with the reason.
  if (!folder.empty()) ForceDirectories(folder);
  SaveCover(Job, folder);

  const int count = int(Job.TrackLines.size());
  log_.WriteLog("CDrip : Process " + IntToStr(count) + " tracks");
  // Another disc put in between two tracks must not be ripped under this one's names.
  const std::vector<int> disc = Job.DiscLayout.empty() ? ReadDiscLayout(cdIn_) : Job.DiscLayout;
  std::set<std::string> used;
  for (int i = 0; i < count; ++i) {
    log_.WriteLog("CDrip : Process track number " + IntToStr(i));
    window_.SelectTrackLine(i);
    if (window_.AbortRequested()) {
      outcome.Aborted = true;
      break;
    }
    const int track = i + 1;
    const std::string file = DistinctName(
        TrackFileName(Job.BasePath, destination, track, Job.TrackLines[size_t(i)], Job.Chars), ext,
        used);
    const TTrackResult result =
        SameDisc(disc) ? RipTrack(Job, i, *output, file, disc) : TTrackResult::DiscChanged;
    if (result == TTrackResult::Written) {
      ++outcome.Written;
      outcome.Files.push_back(file);
    } else if (result == TTrackResult::Failed) {
      ++outcome.Failed;
    } else if (result == TTrackResult::Aborted) {
      outcome.Aborted = true;
      break;
    } else if (result == TTrackResult::DiscChanged) {
      outcome.DiscChanged = true;
      log_.Report("CDrip : track " + IntToStr(track) + " : " + kDiscChanged);
      break;
    }
  }
  controlsBack.armed = false;
  ripping_ = false;
  if (outcome.Aborted) {
    // The window is closing: the controls stay as they are. An unattended run ends here, and
    // its caller must learn why it wrote fewer tracks than the disc has.
    Warn("CDrip : the rip was aborted, " + IntToStr(outcome.Written) + " of " + IntToStr(count) +
         " tracks written");
    return outcome;
  }
  window_.SetRipping(false);
  log_.WriteLog("CDrip : ripping done");
  std::string status = outcome.DiscChanged ? std::string(kDiscChanged) : Job.RipDoneText;
  if (outcome.Failed > 0) status += " (" + IntToStr(outcome.Failed) + " failed)";
  window_.SetStatus(status);
  if (Job.AutoRip) window_.Close();
  return outcome;
}

TCDRipper::TTrackResult TCDRipper::RipTrack(const TRipJob& Job, int Index, TAudioFileOut& Output,
                                            const std::string& FileName,
                                            const std::vector<int>& Disc) {
  const int track = Index + 1;
  const std::string number = TrackNumberText(track);
  try {
    if (cdIn_.TrackInfo(track).DataTrack) {
      log_.WriteLog("CDrip : track " + IntToStr(track) + " is a data track, skipped");
      return TTrackResult::Skipped;
    }
  } catch (const std::exception& e) {
    // A failed track, as below: logged whatever -debug says.
    log_.Report("CDrip : track " + IntToStr(track) + " failed : " + e.what());
    window_.SetStatus(Job.RipTrackText + " " + IntToStr(track) + " - " + e.what());
    return TTrackResult::Failed;
  }
  // The track is encoded under a temporary name and gets its final name only when it is
  // complete, so an abort or a failure never leaves half a file under the final name. The
  // temporary file is a new one of this rip's own: another copy ripping into the same folder
  // has its own, and each renames only what it wrote.
  std::string temp;
  std::unique_ptr<TFileStream> stream;
  const std::shared_ptr<TJobState> job = std::make_shared<TJobState>();
  job_ = job;
  try {
    cdIn_.SetStartTrack(track);
    cdIn_.SetEndTrack(track);
    log_.WriteLog("CDrip : track name " + FileName);
    window_.SetStatus(Job.RipTrackText + " " + IntToStr(track) + " - " + FileName);
    const std::string& title = Job.TrackLines[size_t(Index)];
    if (&Output == &mp3Out_) {
      mp3Out_.Id3TagAlbum = Job.Texts.Album;
      mp3Out_.Id3TagArtist = Job.Texts.Artist;
      mp3Out_.Id3TagTitle = title;
      mp3Out_.Id3TagTrack = number;
      mp3Out_.Id3TagYear = Job.Texts.Year;
    } else if (&Output == &vorbisOut_) {
      vorbisOut_.Comments.clear();
      vorbisOut_.Comments.push_back("ARTIST=" + Job.Texts.Artist);
      vorbisOut_.Comments.push_back("ALBUM=" + Job.Texts.Album);
      vorbisOut_.Comments.push_back("TITLE=" + title);
    }
    const std::string folder = FolderPart(FileName);
    MakeFolder(folder);
    // What a rip that was killed outright left here is no one's any more.
    if (cleaned_.insert(folder).second) RemoveDeadTemps(folder);
    // The encoder writes through the descriptor that reserved the name: a link put in its
    // place meanwhile is never written through.
    stream = std::make_unique<TFileStream>(CreateTempNextTo(FileName, temp), temp);
    Output.FileName = temp;
    Output.Stream = stream.get();
    Output.StreamAssigned = true;
    job->File = stream.get();
    log_.WriteLog("CDrip : CDRip drive " + cdIn_.DriveName());
    log_.WriteLog("CDrip : CDDB drive " + window_.CddbDriveName());
    log_.WriteLog("CDrip : Start resetting CD drive");
    cdIn_.Reset();
    log_.WriteLog("CDrip : Finished resetting CD drive");
    log_.WriteLog("CDrip : start ripping");
    Output.Run();
  } catch (const std::exception& e) {
    // Raised before the job started: no event will come.
    job->Error = e.what();
    job->Ended = true;
  }

  // The job's end is its event, not the idle status: the output reports idle just before it
  // tells how the job ended.
  const auto ended = [&job] { return job->Ended; };
  window_.PumpUntil([&] { return ended() || window_.AbortRequested(); });
  if (!ended()) {
    Output.Stop();
    log_.WriteLog("CDrip : Abort ripping");
    // The partial file may only go once the worker has let go of it.
    window_.PumpUntil(ended);
  }
  if (Output.StreamAssigned) {
    Output.Stream = nullptr;
    Output.StreamAssigned = false;
  }
  job->File = nullptr;
  std::string error = job->Error;
  const auto removeTemp = [&temp] {
    if (!temp.empty()) DeleteFile(temp);
  };
  if (window_.AbortRequested()) {
    removeTemp();
    return TTrackResult::Aborted;
  }
  // A disc changed while the track was read may have given it another disc's audio.
  cdIn_.Reset();
  if (!SameDisc(Disc)) {
    removeTemp();
    return TTrackResult::DiscChanged;
  }
  if (error.empty() && (temp.empty() || !FileExists(temp))) error = "no file was written";
  // Whatever was put in the name's place meanwhile is not this track's file.
  if (error.empty()) {
    struct stat written {};
    struct stat named {};
    if (::fstat(stream->Handle(), &written) != 0 || ::lstat(temp.c_str(), &named) != 0 ||
        written.st_dev != named.st_dev || written.st_ino != named.st_ino)
      error = "the temporary file " + temp + " was replaced while the track was written";
  }
  // The tags are written while the file still has its temporary name: a file whose tags
  // could not be written (a full disc) is a failed track and never gets the final name.
  if (error.empty() && &Output == &mp3Out_) error = WriteId3Frames(Job, Index, temp);
  // On the device before it takes the final name, and the name on the device after: a power
  // loss never leaves an empty file where a good one was.
  if (error.empty()) {
    try {
      stream->Sync();
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  stream.reset();
  if (error.empty() && std::rename(temp.c_str(), FileName.c_str()) != 0)
    error = "cannot give the file its name " + FileName + " : " + std::strerror(errno);
  if (error.empty()) {
    SyncFolder(FolderPart(FileName));
    return TTrackResult::Written;
  }

  removeTemp();
  // Shown and logged whatever -debug says: a failed track must not pass for a ripped one.
  const std::string text = "CDrip : track " + IntToStr(track) + " failed : " + error;
  log_.Report(text);
  window_.SetStatus(Job.RipTrackText + " " + IntToStr(track) + " - " + error);
  return TTrackResult::Failed;
}

std::string TCDRipper::WriteId3Frames(const TRipJob& Job, int Index, const std::string& FileName) {
  const std::string& title = Job.TrackLines[size_t(Index)];
  uint16_t result = id3::kOk;
  try {
    id3Tag_.LoadFromFile(FileName, 0);
    id3Tag_.SetTextFrame("TIT2", title);
    id3Tag_.SetTextFrame("TPE1", Job.Texts.Artist);
    id3Tag_.SetTextFrame("TALB", Job.Texts.Album);
    // Version 2.4 replaced the year frame by the recording time.
    id3Tag_.SetTextFrame(id3Tag_.Version == 4 ? "TDRC" : "TYER", Job.Texts.Year);
    id3Tag_.SetTextFrame("TCON", Job.Texts.Genre);
    id3Tag_.SetTextFrame("TRCK", TrackNumberText(Index + 1));
    result = id3Tag_.SaveToFile("=", 0xFF, -1, 0xFF);
  } catch (const std::exception& e) {
    return "ID3v2 tag not written : " + std::string(e.what());
  }
  // The high byte is an error class; the low byte only collects warnings.
  if (result >= 0x100) {
    std::string text = "ID3v2 tag not written : result $" + IntToHex(result, 4);
    // A failed read or write: the tag's last status names the system's reason.
    const uint16_t errorClass = result & 0xFF00;
    if (errorClass == id3::kReadError || errorClass == id3::kWriteError ||
        errorClass == id3::kIoError)
      text += " (" + id3Tag_.Status + ")";
    return text;
  }
  if (result != id3::kOk)
    log_.WriteLog("CDrip : ID3v2 tag of " + FileName + " : result $" + IntToHex(result, 4));
  return "";
}

void TCDRipper::SaveCover(const TRipJob& Job, const std::string& Folder) {
  // An empty picture would only leave an empty file.
  if (Job.Cover.empty()) return;
  const std::string path = Folder + Job.CoverName;
  try {
    // By way of a temporary file in the same folder: a failure leaves the old file whole.
    WriteFileAtomically(path, std::span<const uint8_t>(Job.Cover));
  } catch (const std::exception& e) {
    // The tracks do not depend on it and still count; the missing cover must not pass unseen.
    Warn("CDrip : the cover " + path + " cannot be written : " + e.what());
    return;
  }
  log_.WriteLog("CDrip : Save Picture : " + path);
}

void TCDRipper::Warn(const std::string& Text) {
  if (OnWarning)
    OnWarning(Text);
  else
    log_.Report(Text);
}

}  // namespace qv
