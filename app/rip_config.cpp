#include "app/rip_config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "app/rip_naming.h"
#include "platform/base/inifile.h"
#include "platform/base/paths.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"

namespace qv {

namespace {

// An integer key: the default when missing or empty, and when the text is no integer (then
// reported, where the class library would have raised and stopped the start-up).
int ReadIntKey(TCustomIniFile& Ini, const std::string& Section, const std::string& Key, int Default,
               const TProblemEvent& Problem) {
  const std::string text = Trim(Ini.ReadString(Section, Key, ""));
  if (text.empty()) return Default;
  int32_t value;
  if (TryStrToInt(text, value)) return value;
  if (Problem)
    Problem("LoadConfig : " + Section + " " + Key + " '" + text +
            "' is not a valid integer value, using " + IntToStr(Default));
  return Default;
}

// A decimal number with "." as separator, whatever the locale.
bool TryStrToFloat(const std::string& Text, double& Value) {
  const std::string text = Trim(Text);
  if (text.empty()) return false;
  const char* first = text.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), Value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(Value);
}

}  // namespace

std::string IniFileName() {
  if (const char* env = std::getenv("QUORVEL_INI"); env != nullptr && *env != '\0') return env;
  // The executable's name with its extension (if any) replaced.
  const std::string name = ExtractFileName(ChangeFileExt(ExeName(), ".INI"));
  const std::string found = FindFileNoCase(ExeDir(), name);
  return found.empty() ? ExeDir() + name : found;
}

TRipConfig LoadConfig(const std::string& IniFile, const TProblemEvent& Problem) {
  TRipConfig c;
  TMemIniFile ini(IniFile);
  // A file that is there but cannot be used must not pass for an empty one.
  if (const std::string why = ini.ReadError(); !why.empty() && Problem)
    Problem("LoadConfig : " + why + ", the defaults are used");
  c.Proxy.ProxyIP = ini.ReadString("PROXY", "ProxyIP", "");
  c.Proxy.ProxyPort = ini.ReadString("PROXY", "ProxyPort", "");
  c.Proxy.ProxyUser = ini.ReadString("PROXY", "ProxyUser", "");
  c.Proxy.ProxyPass = ini.ReadString("PROXY", "ProxyPass", "");
  if (!c.Proxy.ProxyPort.empty()) {
    int32_t port;
    if (TryStrToInt(c.Proxy.ProxyPort, port) && port > 0 && port < 65536) {
      c.Proxy.HttpPort = port;
    } else if (Problem) {
      Problem("LoadConfig : PROXY ProxyPort '" + c.Proxy.ProxyPort +
              "' is not a valid port, the proxy port is ignored");
    }
  }
  c.Zentha = ini.ReadString("CONF", "Zentha", "");
  c.LocalCDDB = ini.ReadString("CONF", "localCDDB", "");
  c.Background = ini.ReadString("CONF", "Background", "");
  c.FSearchURL = ini.ReadString("CONF", "search", "");
  c.FCDDBChar = ini.ReadString("CONF", "CDDB_Char", "-");
  c.FSpaceChar = ini.ReadString("CONF", "space_char", "");
  c.FCoverName = ini.ReadString("CONF", "cover_name", "cover.jpg");
  c.FEmptyEject = ReadIntKey(ini, "CONF", "empty_eject", 0, Problem);
  c.GenreFile = ini.ReadString("CONF", "genre_file", "");
  c.Monitor = ReadIntKey(ini, "CONF", "Monitor", 0, Problem);
  c.EscKey = ReadIntKey(ini, "KEYS", "ESC", 27, Problem);
  c.BackKey = ReadIntKey(ini, "KEYS", "BACK", 8, Problem);
  // The cover file is written into the album folder: it must stay a plain name there.
  if (c.FCoverName.empty() || SafePathComponent(c.FCoverName) != c.FCoverName) {
    const std::string safe = c.FCoverName.empty() ? "cover.jpg" : SafePathComponent(c.FCoverName);
    if (Problem)
      Problem("LoadConfig : CONF cover_name '" + c.FCoverName + "' is not a file name, using '" +
              safe + "'");
    c.FCoverName = safe;
  }
  return c;
}

// A list of genres is a few kilobytes; a larger file is not one.
constexpr int64_t kMaxGenreFileBytes = int64_t(1) << 20;

std::vector<std::string> LoadGenreFile(const std::string& FileName, const TProblemEvent& Problem) {
  std::vector<std::string> genres;
  if (!FileExists(FileName)) return genres;
  TStringList lines;
  try {
    lines.LoadFromFile(FileName, kMaxGenreFileBytes);
  } catch (const std::exception& e) {
    if (Problem) Problem("LoadConfig : genre_file " + FileName + " : " + e.what());
    return genres;
  }
  for (int i = 0; i < lines.Count(); ++i) genres.push_back(lines[i]);
  return genres;
}

int ClampMonitor(int M, int Count) {
  if (Count <= 0) return 0;
  if (M >= Count) return Count - 1;
  return M < 0 ? 0 : M;
}

void GetParamValue(const std::string& Param, std::string& Value) {
  const size_t eq = Param.find('=');
  if (eq != std::string::npos) Value = Param.substr(eq + 1);
}

void SetBitrate(TRipOptions& Options, const std::string& Value) {
  Options.FMP3BitRate = -1;
  for (int i = 0; i <= int(TMP3BitRate::br320); ++i) {
    if (SameText("br" + Value, "br" + IntToStr(MP3BitRateKbps(TMP3BitRate(i))))) {
      Options.FMP3BitRate = i;
      Options.BitRate = TMP3BitRate(i);
    }
  }
}

void SetCompression(TRipOptions& Options, const std::string& Value, const TProblemEvent& Problem) {
  double number;
  if (!TryStrToFloat(Value, number)) {
    if (Problem) Problem("ParseCommandLine : -compression '" + Value + "' is not a number");
    return;
  }
  if (number > 10.0) {
    Options.Compression = 0.2f;
  } else if (number < kMinCompression || number > kMaxCompression) {
    // The encoder refuses a quality outside its range: every track would fail.
    const double used = std::clamp(number, double(kMinCompression), double(kMaxCompression));
    if (Problem)
      Problem("ParseCommandLine : -compression " + Value + " is outside " +
              CompressionText(kMinCompression) + " .. " + CompressionText(kMaxCompression) +
              ", using " + CompressionText(float(used)));
    Options.Compression = float(used);
  } else {
    Options.Compression = float(number);
  }
}

void SetPathToEnc(TRipOptions& Options, const std::string& Value) {
  Options.FBasePath = Value;
}

void SetFileName(TRipOptions& Options, const std::string& Value) {
  Options.FPattern = Value;
}

void SetFormat(TRipOptions& Options, const std::string& Value) {
  const std::string upper = UpperCase(Value);
  Options.FormatIndex = upper == "MP3" ? 0 : upper == "OGG" ? 1 : upper == "FLAC" ? 2 : -1;
}

void ParseCommandLine(const std::vector<std::string>& Params, TRipOptions& Options,
                      const std::function<void(int)>& SetCDrive,
                      const std::function<void()>& DebugOn, const TProblemEvent& Problem) {
  for (const std::string& param : Params) {
    const std::string name = param.substr(0, param.find('='));
    std::string value;
    GetParamValue(param, value);
    if (SameText(name, "-cddbchoice")) {
      Options.FChooseAlbum = true;
    } else if (SameText(name, "-bitrate")) {
      SetBitrate(Options, value);
    } else if (SameText(name, "-compression")) {
      SetCompression(Options, value, Problem);
    } else if (SameText(name, "-pathtoenc")) {
      SetPathToEnc(Options, value);
    } else if (SameText(name, "-filename")) {
      SetFileName(Options, value);
    } else if (SameText(name, "-format")) {
      SetFormat(Options, value);
    } else if (SameText(name, "-cddrive")) {
      int32_t drive;
      if (!TryStrToInt(value, drive) || drive < 0) {
        if (Problem) Problem("ParseCommandLine : -cddrive '" + value + "' is not a drive number");
        drive = -1;
      }
      if (SetCDrive) SetCDrive(drive);
    } else if (SameText(name, "-auto")) {
      Options.FAutoRip = true;
    } else if (SameText(name, "-debug")) {
      Options.Debug = true;
      if (DebugOn) DebugOn();
    }
  }
}

}  // namespace qv
