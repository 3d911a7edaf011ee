// The records the CD database component shares with its callers: the disc's table of
// contents, its database entry, match lists and the component's states and events, plus
// the CDDB disc identifier. Kept apart from the component so that the main window, the
// local database and the protocol code can use them without the sockets behind it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

class TComponent;

// One track start (or the lead-out) as an absolute MSF address, lead-in included.
struct TTOCEntry {
  std::uint8_t Minute = 0;
  std::uint8_t Second = 0;
  std::uint8_t Frame = 0;
  bool IsAudio = false;  // false for data tracks and the lead-out
};

struct TCDTOC {
  std::uint8_t TrackCount = 0;
  TTOCEntry LeadOut;
  std::array<TTOCEntry, 100> Tracks{};  // index 0 = first track
};

using TStringArray = std::array<std::string, 100>;  // index 0 = track 1

struct TCDInfo {
  std::string DiscID;  // 8 lower-case hexadecimal digits
  std::string Artist;
  std::string Title;
  std::string Year;
  std::string Genre;
  std::string ExtD;
  TStringArray TrackTitles;
  TStringArray TrackExt;
  std::string Category;
  int Revision = 0;
  TCDTOC TOC;
};

// One server reply line per match; the first empty slot ends the list.
using TMatchArray = std::array<std::string, 100>;

struct TMatch {
  std::string Category;
  std::string DiscID;
};

// The lines of one xmcd entry; the first empty slot ends it.
using TEntryArray = std::array<std::string, 1024>;

enum class TServerType { CDDBP, HTTP };
enum class TSubmissionType { TEST, SUBMIT };
enum class TLocalCDDBType { lctWIN, lctUNIX };
using enum TLocalCDDBType;

struct TLocation {
  std::string Latitude;
  std::string Longitude;
  std::string Description;
};

struct TServer {
  std::string Site;
  std::string Address;
  bool IsHttp = false;
  int Port = 0;
  TLocation Location;
};

using TServerArray = std::array<TServer, 100>;

// Values of `TCddb.State`; the numbers are part of the interface (the owner compares them).
enum TCddbState : int {
  cdsIdle = -1,
  cdsConnected = 0,
  cdsHello = 1,
  cdsHandshaken = 2,
  cdsMatchFound = 3,
  cdsMatchesReceived = 4,
  cdsNoMatch = 5,
  cdsQuerying = 6,
  cdsSites = 7,
  cdsSitesReceived = 8,
  cdsProto = 9,
  cdsProtoSet = 10,
  cdsReading = 11,
  cdsEntryRead = 12,
  cdsReadFailed = 13,
  cdsSubmitting = 14,
  cdsQuitting = 15,
  cdsHttpError = 16,
  cdsReadOnly = 17,
  cdsReadWrite = 18,
  cdsNoSites = 19,
  cdsMailFailed = 21,
  cdsSubmitted = 22,
  cdsSubmitRejected = 23,
};

using TStatusEvent = std::function<void(TComponent* Sender, const std::string& Status)>;
// `RightOne` comes in as 0 and goes back as the chosen line's index, or -1 for none.
using TMatchEvent =
    std::function<void(TComponent* Sender, const TMatchArray& Matches, int& RightOne)>;

// Sum of the decimal digits of `n` (0 for numbers below 1).
[[nodiscard]] int CddbDigitSum(int n);

// The CDDB disc identifier of `toc` as a number and as 8 lower-case hexadecimal digits.
[[nodiscard]] std::uint32_t CddbDiscIdValue(const TCDTOC& toc);
[[nodiscard]] std::string CddbDiscId(const TCDTOC& toc);

// Absolute frame offset of an MSF address (75 frames a second).
[[nodiscard]] inline int FrameOffset(const TTOCEntry& e) {
  return e.Minute * 4500 + e.Second * 75 + e.Frame;
}

// Texts that travel from a server, a disc or a stored file into file names must pass
// these checks first: a disc identifier is exactly 8 hexadecimal digits, a category is
// 1 to 40 letters, digits, "_" or "-" (so never ".", "..", a separator or a control).
[[nodiscard]] bool IsValidDiscId(std::string_view id);
[[nodiscard]] bool IsValidCategory(std::string_view category);

// Whether an entry names anything: a disc title (artist or album) or a track title that is
// more than blanks. An entry without either is no answer worth keeping.
[[nodiscard]] bool HasTitles(const TCDInfo& info);

}  // namespace qv
