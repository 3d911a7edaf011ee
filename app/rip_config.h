// The ripper's configuration: the INI file named after the executable (read once, never
// written) and the command line by which a front end drives unattended rips. Both fill plain
// records; the main window hands the values on to its components. A value that cannot be
// converted counts as absent and is reported through `Problem`, so a bad setting never stops
// the start-up half-way.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "audio/audio_lame.h"

namespace qv {

inline constexpr const char* kDefaultPattern = "%ARTIST%\\%ALBUM%\\%TRACKNB% - %TRACKNAME%";
inline constexpr const char* kDefaultBasePath = ".\\";

// Reported for a value that was ignored, e.g. "LoadConfig : ProxyPort ignored: 'x' ...".
using TProblemEvent = std::function<void(const std::string& Text)>;

struct TProxySettings {
  std::string ProxyIP;
  std::string ProxyPort;  // as written; the CD database takes the text
  std::string ProxyUser;
  std::string ProxyPass;
  int HttpPort = 0;  // the cover-art client's port: 0 when none was given or it was not a number
};

// What `LoadConfig` reads, with the defaults of a missing file, section or key.
struct TRipConfig {
  TProxySettings Proxy;
  std::string Zentha;      // the suite's folder (theme and language)
  std::string LocalCDDB;   // empty: the stored ".\CDDB\" stays
  std::string Background;  // empty: the theme's picture
  std::string FSearchURL;  // cover search; empty leaves the search off
  std::string FCDDBChar = "-";
  std::string FSpaceChar;
  std::string FCoverName = "cover.jpg";
  int FEmptyEject = 0;
  std::string GenreFile;
  int Monitor = 0;
  int EscKey = 27;
  int BackKey = 8;
};

// `QUORVEL_INI` when set, else the executable's path with its extension replaced by ".INI",
// matched without regard to case (an exact match wins).
[[nodiscard]] std::string IniFileName();

// Reads the sections PROXY, CONF and KEYS. The LANGUAGE section is the theme's business.
[[nodiscard]] TRipConfig LoadConfig(const std::string& IniFile,
                                    const TProblemEvent& Problem = nullptr);

// The genres of CONF genre_file for the category box, one a line; none when the file does
// not exist. One that cannot be read is reported through `Problem` and gives none.
[[nodiscard]] std::vector<std::string> LoadGenreFile(const std::string& FileName,
                                                     const TProblemEvent& Problem = nullptr);

// The monitor the window fills: M clamped to 0 .. Count - 1 (0 without monitors).
[[nodiscard]] int ClampMonitor(int M, int Count);

// What the command line sets, with the values the window starts with.
struct TRipOptions {
  bool FChooseAlbum = false;  // -cddbchoice
  bool FAutoRip = false;      // -auto
  bool Debug = false;         // -debug
  int FMP3BitRate = -1;       // ordinal named by the last -bitrate, -1 for no such name
  TMP3BitRate BitRate = TMP3BitRate::br192;
  float Compression = 0.2f;
  std::string FBasePath = kDefaultBasePath;
  std::string FPattern = kDefaultPattern;
  int FormatIndex = 0;  // 0 MP3, 1 OGG, 2 FLAC, -1 none
};

// The Vorbis quality range: "-compression" outside it (up to 10.0; above, it means the
// default 0.2) is held to it and reported.
inline constexpr float kMinCompression = -0.1f;
inline constexpr float kMaxCompression = 1.0f;

// Applies "-name" and "-name=value" parameters in order (later ones override earlier ones;
// names without regard to case; unknown names ignored). `SetCDrive` gets the drive number of
// each "-cddrive" (-1, reported, when the value is not a whole number of 0 or more);
// `DebugOn` runs when "-debug" is met, so the lines of later steps are logged.
void ParseCommandLine(const std::vector<std::string>& Params, TRipOptions& Options,
                      const std::function<void(int Drive)>& SetCDrive = nullptr,
                      const std::function<void()>& DebugOn = nullptr,
                      const TProblemEvent& Problem = nullptr);

// One option each, as "-bitrate", "-compression", "-pathtoenc", "-filename" and "-format" set
// it from its value.
void SetBitrate(TRipOptions& Options, const std::string& Value);
void SetCompression(TRipOptions& Options, const std::string& Value,
                    const TProblemEvent& Problem = nullptr);
void SetPathToEnc(TRipOptions& Options, const std::string& Value);
void SetFileName(TRipOptions& Options, const std::string& Value);
void SetFormat(TRipOptions& Options, const std::string& Value);

// Value := the text after the first "=" of Param; unchanged when there is none.
void GetParamValue(const std::string& Param, std::string& Value);

}  // namespace qv
