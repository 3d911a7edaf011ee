// The main window's state and workflows that need no window: start-up (log, INI file,
// command line, drive, track list), the album data a lookup fills in, and the rip. The
// window (or, until it exists, the headless stand-in) owns one session and reaches the user
// through `TRipWindow`; it only adds controls and wiring. Main thread only.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cd_rip.h"
#include "app/rip_config.h"
#include "app/rip_log.h"
#include "platform/base/component.h"

namespace qv {

class TCDIn;
class TFLACOut;
class TMP3Out;
class TVorbisOut;
class Tid3v2tag;
struct TCDInfo;

// The status texts a language file may replace, in their fixed order.
inline constexpr int kLangMessageCount = 12;
[[nodiscard]] const char* DefaultLangMessage(int Index);

class TRipSession {
 public:
  // Creates the CD input and the three outputs (as the window's stored form data does);
  // raises when the CD ripping library or an encoder library cannot be loaded.
  explicit TRipSession(TRipWindow& Window);
  ~TRipSession();
  TRipSession(const TRipSession&) = delete;
  TRipSession& operator=(const TRipSession&) = delete;

  // The creation handler's steps that need no window, in its order: log, configuration,
  // defaults, drive lines, command line, track list.
  void Start(const std::vector<std::string>& Params);
  // Whether `Start` ends with the line "FormCreate finished"; the window logs it itself,
  // after its first lookup has started.
  bool LogCreateFinished = true;

  // Selects CD drive N for the input when it exists (else the drive stays and a number of 0
  // or more is reported); refreshes the track list in any case.
  void SetCDrive(int N);
  // "Track 1" .. "Track N" for the disc in the drive; clears the album texts.
  void RefreshTrackList();
  // A new lookup begins: nothing of the previous disc may name this one's files.
  void BeginLookup();
  // How a lookup ended without an entry.
  enum class TLookupFailure { NotConnected, NoMatch, Other };
  // A lookup ended without an entry (failed request, no match, failed read, time-out). Only
  // a failed request (also one the watchdog aborted) makes the disc `FReady`; an unattended
  // run rips after any end, with the names the fields give. Answers the status text to show:
  // "Not Connected", "unknown CD Audio", or empty.
  std::string LookupFailed(TLookupFailure Reason = TLookupFailure::Other);
  // A lookup read `Info`: fills the texts, the category, the year and the track titles, fixes
  // the album-wide part of the names and answers the status text
  // "Destination : <base><folder>".
  std::string ApplyEntry(const TCDInfo& Info);

  // The CDDB button, which a disc arrival presses: a new lookup begins with a fresh track list
  // and the placeholder picture (the database query itself is the CD database component's).
  void NewLookup();
  // Disc events of any drive. While a rip runs they are ignored (logged), so that nothing
  // changes under it; otherwise they answer the status text to show ("CD Inserted !" /
  // "CD Ejected !"), empty when ignored. An arrival changes nothing itself: the new lookup
  // that follows it reads the disc once.
  std::string MediaArrived();
  std::string MediaRemoved();

  // The rip's data as the window shows it now.
  [[nodiscard]] TRipJob MakeJob() const;
  TRipOutcome CDrip();

  // An unattended ("-auto") run: the start timer's tick and the end of each lookup call
  // these. The rip starts once both happened and the disc data is ready, whichever comes
  // last, and only once; the window is then closed whatever the rip did, so the run always
  // ends. `AutoRipOutcome` tells how it went.
  // `MayRipNow` false: the lookup is still finishing; its end starts the rip.
  void StartTimerFired(bool MayRipNow = true);
  void LookupEnded();
  [[nodiscard]] bool AutoRipDone() const { return autoRip_.has_value(); }
  [[nodiscard]] const TRipOutcome& AutoRipOutcome() const { return *autoRip_; }

  // Reported whatever -debug says: in the log, and on `WarningEcho` (stderr; null: not).
  void Warn(const std::string& Text);
  std::FILE* WarningEcho = stderr;

  // Components and state, for the window to show and change.
  TCDIn* CDIn1 = nullptr;
  TMP3Out* MP3Out1 = nullptr;
  TVorbisOut* VorbisOut1 = nullptr;
  TFLACOut* FLACOut1 = nullptr;
  std::unique_ptr<Tid3v2tag> Id3Tag;
  TRipLog Log;
  TRipConfig Config;
  TRipOptions Options;
  std::vector<std::string> LangMessages;
  std::vector<std::string> TrackLines;
  std::vector<int> DiscLayout;  // the disc the track list was made from
  TAlbumTexts Texts;
  // The disc's year from the lookup: the album texts hold it, for the names and the tags.
  std::string& FYear = Texts.Year;
  std::vector<std::string> Categories;  // the category box's list
  std::string FDestination;             // empty until a lookup read an entry
  // The disc data is ready: an entry was read, or the request failed. False at start and
  // from each new lookup on.
  bool FReady = false;
  // The lookup has ended, however it ended; an unattended run rips then.
  bool LookupDone = false;
  std::vector<uint8_t> Cover;        // the shown picture's bytes
  std::vector<uint8_t> Placeholder;  // "NOCOVER.jpg", read at start

 private:
  void MaybeAutoRip();

  TRipWindow& window_;
  bool timerFired_ = false;
  std::optional<TRipOutcome> autoRip_;
  std::unique_ptr<TComponent> owner_;  // owns the CD input and the outputs
  std::unique_ptr<TCDRipper> ripper_;
};

}  // namespace qv
