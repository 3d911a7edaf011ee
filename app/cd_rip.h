// The ripping loop: every line of the track list becomes one encoded file, named by the
// pattern, tagged, written under a temporary name and renamed only when the track is
// complete. It runs on the main thread and waits for each track by serving the window's
// messages, so ESC, EXIT and the outputs' progress are handled meanwhile. The window itself
// is reached only through `TRipWindow`, so the loop runs the same with and without one.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/rip_naming.h"

namespace qv {

class TFileStream;

class TAudioFileOut;
class TAudioOutput;
class TCDIn;
class TFLACOut;
class TMP3Out;
class TRipLog;
class TVorbisOut;
class Tid3v2tag;

// What the rip needs from the main window. Everything is called on the main thread except
// `PostToMain`.
class TRipWindow {
 public:
  virtual ~TRipWindow() = default;
  virtual void SelectTrackLine(int Index) = 0;
  virtual void SetStatus(const std::string& Text) = 0;
  virtual void SetProgress(int Position) = 0;
  // True at the start: RIP, CDDB and both boxes off, the track list on, focus on EXIT.
  // False at the end: the other way round.
  virtual void SetRipping(bool Ripping) = 0;
  // ESC or EXIT was pressed (the window's abort flag).
  [[nodiscard]] virtual bool AbortRequested() = 0;
  // Serves the window's messages until `Done` holds; `Done` is checked first and after each
  // message. Whatever may make it true wakes the loop by posting.
  virtual void PumpUntil(const std::function<bool()>& Done) = 0;
  // From any thread: runs `Task` on the main thread, from its message loop.
  virtual void PostToMain(std::function<void()> Task) = 0;
  // The CD database component follows the CD input's drive (same index in the one drive
  // list); its current drive's product name goes to the log.
  virtual void SelectCddbDrive(int Index) = 0;
  [[nodiscard]] virtual std::string CddbDriveName() = 0;
  // An unattended rip closes the window when it is over.
  virtual void Close() = 0;
};

// The rip's data, taken from the window when the rip starts, so that a lookup or a disc
// change while it runs cannot mix two albums in one rip.
struct TRipJob {
  int FormatIndex = 0;
  std::string FormatText;  // the boxes' texts, for the log
  std::string BitrateText;
  TAlbumTexts Texts;
  std::vector<std::string> TrackLines;  // as displayed: "Track N" or the titles
  // The disc these names belong to (`TCDRipper::ReadDiscLayout` when the track list was
  // made); empty: the disc in the drive when the rip starts.
  std::vector<int> DiscLayout;
  // The pattern with the album-wide placeholders filled by a finished lookup; empty when
  // there was none, and then it is filled from `Pattern` and the texts above.
  std::string Destination;
  std::string Pattern = "%ARTIST%\\%ALBUM%\\%TRACKNB% - %TRACKNAME%";
  std::string BasePath = ".\\";
  TNameChars Chars;
  std::string CoverName = "cover.jpg";
  std::vector<uint8_t> Cover;  // the shown picture's stored bytes; empty: no cover file
  bool AutoRip = false;
  std::string RipTrackText = "RIP Track N\u00b0";
  std::string RipDoneText = "Rip done !";
};

struct TRipOutcome {
  bool Started = false;  // the disc was audio and a format was chosen
  // Why a disc could not be read at all (the drive layer's message); empty otherwise.
  std::string DiscError;
  bool Aborted = false;
  // The disc in the drive was no longer the one the names belong to: the rip stopped there.
  bool DiscChanged = false;
  int Written = 0;
  int Failed = 0;  // tracks that were tried and have no file
  std::vector<std::string> Files;
  // 0 every track written, 1 some failed or were skipped by an abort or a disc change,
  // 2 nothing ripped.
  [[nodiscard]] int ExitStatus() const;
};

class TCDRipper {
 public:
  // The components belong to the window; the ripper takes over their OnProgress, OnDone and
  // OnThreadException events. Those fire on the outputs' worker threads, also after an
  // output already reports idle, so the window destroys the outputs (which joins their
  // workers) before the ripper, and the ripper never touches them when it goes.
  TCDRipper(TCDIn& CDIn, TMP3Out& MP3Out, TVorbisOut& VorbisOut, TFLACOut& FLACOut,
            Tid3v2tag& Id3Tag, TRipLog& Log, TRipWindow& Window);
  ~TCDRipper();
  TCDRipper(const TCDRipper&) = delete;
  TCDRipper& operator=(const TCDRipper&) = delete;

  TRipOutcome CDrip(const TRipJob& Job);
  [[nodiscard]] bool Ripping() const { return ripping_; }

  // Told what the rip could not do although the tracks went on (a cover that cannot be
  // written) and that a rip was aborted; unset, these go to the log only.
  std::function<void(const std::string& Text)> OnWarning;

  // The folder the cover goes to: the folder part of the name before any per-track
  // placeholder.
  [[nodiscard]] static std::string AlbumFolder(const std::string& BasePath,
                                               const std::string& Destination);
  // What tells one disc from another here: each track's length in frames, times two, plus
  // one for a data track, as the CD input reads the table of contents now. Empty when there
  // is none to read.
  [[nodiscard]] static std::vector<int> ReadDiscLayout(TCDIn& CDIn);

 private:
  enum class TTrackResult { Written, Failed, Aborted, Skipped, DiscChanged };
  TTrackResult RipTrack(const TRipJob& Job, int Index, TAudioFileOut& Output,
                        const std::string& FileName, const std::vector<int>& Disc);
  // Whether the disc in the drive is still `Disc` (always, when that is unknown).
  [[nodiscard]] bool SameDisc(const std::vector<int>& Disc);
  void SaveCover(const TRipJob& Job, const std::string& Folder);
  void Warn(const std::string& Text);
  // Empty when the tags were written, else why not.
  [[nodiscard]] std::string WriteId3Frames(const TRipJob& Job, int Index,
                                           const std::string& FileName);
  // The outputs' events, on their worker threads: the progress goes to the window's bar,
  // a failure to the log and to the running track.
  void OutputProgress(TAudioOutput* Sender);
  void MP3Out1ThreadException(TAudioOutput* Sender, const std::exception& E);
  void VorbisOut1ThreadException(TAudioOutput* Sender, const std::exception& E);
  void FLACOut1ThreadException(TAudioOutput* Sender, const std::exception& E);
  void ThreadException(const char* Name, const std::exception& E);

  TCDIn& cdIn_;
  TMP3Out& mp3Out_;
  TVorbisOut& vorbisOut_;
  TFLACOut& flacOut_;
  Tid3v2tag& id3Tag_;
  TRipLog& log_;
  TRipWindow& window_;
  bool ripping_ = false;
  // The folders of this rip already rid of dead runs' temporary files.
  std::set<std::string> cleaned_;

  // How the running track's job ended. Its events post the outcome to the main thread, after
  // the progress they posted before, so the bar is up to date when the track is over.
  struct TJobState {
    bool Ended = false;
    std::string Error;
    // The track's file while its job runs; main thread only.
    TFileStream* File = nullptr;
  };
  // Set by the main thread before each job starts; a worker reads it only while its job
  // runs.
  std::shared_ptr<TJobState> job_ = std::make_shared<TJobState>();
};

}  // namespace qv
