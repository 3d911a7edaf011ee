#include "app/cd_rip.h"

#include <cstdio>
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

// Writes `Bytes` to `Path` by way of a temporary file in the same folder.
bool WriteFileReplacing(const std::string& Path, const std::vector<uint8_t>& Bytes) {
  try {
    WriteFileAtomically(Path, std::span<const uint8_t>(Bytes));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// A final name not yet used in this rip: titles may repeat, and a pattern may leave out the
// track number.
std::string DistinctName(const std::string& Path, const std::string& Ext,
                         std::set<std::string>& Used) {
  // The file name with extension, a " (NN)" and the temporary ".part" must still fit in
  // the file system's 255 bytes.
  const std::string folder = ExtractFilePath(Path);
  const size_t room = 255 - Ext.size() - 5 - 10;
  const std::string base = folder + Utf8Truncate(ExtractFileName(Path), room);
  std::string name = base + Ext;
  for (int n = 2; Used.count(name) != 0; ++n) name = base + " (" + IntToStr(n) + ")" + Ext;
  Used.insert(name);
  return name;
}

}  // namespace

int TRipOutcome::ExitStatus() const {
  if (Written == 0) return 2;
  return Failed == 0 && !Aborted ? 0 : 1;
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
  Install(flacOut_, "FLAC");
  Install(mp3Out_, "MP3");
  Install(vorbisOut_, "Ogg Vorbis");
}

TCDRipper::~TCDRipper() = default;

void TCDRipper::Install(TAudioOutput& Output, const std::string& Name) {
  // These run on the output's worker thread: they touch no control, they post.
  TRipWindow* const window = &window_;
  TRipLog* const log = &log_;
  Output.OnProgress = [window](TAudioOutput* Sender) {
    const int progress = Sender->Progress();
    window->PostToMain([window, progress] { window->SetProgress(progress); });
  };
  Output.OnDone = [this, window](TAudioOutput*) {
    window->PostToMain([job = job_] { job->Ended = true; });
  };
  Output.OnThreadException = [this, window, log, Name](TAudioOutput*, const std::exception& E) {
    const std::string error = E.what();
    log->WriteLog(Name + " : Thread Exception : " + error);
    window->PostToMain([job = job_, error] {
      job->Error = error;
      job->Ended = true;
    });
  };
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
  if (!folder.empty()) ForceDirectories(folder);
  SaveCover(Job, folder);

  const int count = int(Job.TrackLines.size());
  log_.WriteLog("CDrip : Process " + IntToStr(count) + " tracks");
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
    const TTrackResult result = RipTrack(Job, i, *output, file);
    if (result == TTrackResult::Written) {
      ++outcome.Written;
      outcome.Files.push_back(file);
    } else if (result == TTrackResult::Failed) {
      ++outcome.Failed;
    } else if (result == TTrackResult::Aborted) {
      outcome.Aborted = true;
      break;
    }
  }
  controlsBack.armed = false;
  ripping_ = false;
  if (outcome.Aborted) {
    // The window is closing: the controls stay as they are.
    return outcome;
  }
  window_.SetRipping(false);
  log_.WriteLog("CDrip : ripping done");
  std::string status = Job.RipDoneText;
  if (outcome.Failed > 0) status += " (" + IntToStr(outcome.Failed) + " failed)";
  window_.SetStatus(status);
  if (Job.AutoRip) window_.Close();
  return outcome;
}

TCDRipper::TTrackResult TCDRipper::RipTrack(const TRipJob& Job, int Index, TAudioFileOut& Output,
                                            const std::string& FileName) {
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
  // complete, so an abort or a failure never leaves half a file under the final name.
  const std::string temp = FileName + ".part";
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
    if (!folder.empty() && !ForceDirectories(folder))
      throw Exception("Cannot create the folder " + folder);
    Output.FileName = temp;
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
  std::string error = job->Error;
  if (window_.AbortRequested()) {
    DeleteFile(temp);
    return TTrackResult::Aborted;
  }
  if (error.empty() && !FileExists(temp)) error = "no file was written";
  // The tags are written while the file still has its temporary name: a file whose tags
  // could not be written (a full disc) is a failed track and never gets the final name.
  if (error.empty() && &Output == &mp3Out_) error = WriteId3Frames(Job, Index, temp);
  if (error.empty() && std::rename(temp.c_str(), FileName.c_str()) != 0)
    error = "cannot rename " + temp;
  if (error.empty()) return TTrackResult::Written;

  DeleteFile(temp);
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
  if (!WriteFileReplacing(path, Job.Cover)) return;
  log_.WriteLog("CDrip : Save Picture : " + path);
}

}  // namespace qv
