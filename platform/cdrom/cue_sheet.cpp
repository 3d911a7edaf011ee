#include "platform/cdrom/cue_sheet.h"

#include <algorithm>
#include <cctype>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/disc_toc.h"

namespace qv {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

class LineParser {
 public:
  LineParser(std::string_view line, int number) : line_(line), number_(number) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw ECdromError("Cue sheet line " + std::to_string(number_) + ": " + what);
  }

  // Next blank-separated token; a token starting with '"' runs to the closing quote.
  std::optional<std::string> Next() {
    while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
    if (pos_ >= line_.size()) return std::nullopt;
    if (line_[pos_] == '"') {
      const std::size_t close = line_.find('"', pos_ + 1);
      if (close == std::string_view::npos) Fail("unterminated quoted text");
      std::string token(line_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
      return token;
    }
    const std::size_t start = pos_;
    while (pos_ < line_.size() && line_[pos_] != ' ' && line_[pos_] != '\t') ++pos_;
    return std::string(line_.substr(start, pos_ - start));
  }

  std::string Require(const char* what) {
    std::optional<std::string> token = Next();
    if (!token) Fail(std::string("missing ") + what);
    return *token;
  }

  void End() {
    if (Next()) Fail("unexpected text at the end of the line");
  }

  int Number(const std::string& token, int low, int high, const char* what) const {
    if (token.empty() || token.size() > 3 ||
        !std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; }))
      Fail(std::string("invalid ") + what + " \"" + token + "\"");
    const int value = std::stoi(token);
    if (value < low || value > high) Fail(std::string(what) + " out of range");
    return value;
  }

  std::uint32_t Msf(const std::string& token) const {
    // mm:ss:ff; minutes may have more digits on long images, but a CD ends at 99:59:74.
    const std::size_t a = token.find(':');
    const std::size_t b = a == std::string::npos ? a : token.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) Fail("invalid time \"" + token + "\"");
    const int m = Number(token.substr(0, a), 0, 99, "minute");
    const int s = Number(token.substr(a + 1, b - a - 1), 0, 59, "second");
    const int f = Number(token.substr(b + 1), 0, 74, "frame");
    return MsfToAbsolute(CdMsf{static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(s),
                               static_cast<std::uint8_t>(f)});
  }

 private:
  std::string_view line_;
  int number_ = 0;
  std::size_t pos_ = 0;
};

}  // namespace

CueSheet ParseCueSheet(std::string_view text) {
  if (text.size() > kMaxCueSheetBytes) throw ECdromError("The cue sheet is too large");
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.find('\0') != std::string_view::npos) throw ECdromError("The cue sheet is not text");

  CueSheet sheet;
  bool haveFile = false;
  bool haveIndex1 = false;      // of the current track
  std::uint32_t lastIndex = 0;  // every index of the sheet, in order, must not go backwards
  int lineNumber = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    LineParser line(raw, lineNumber);
    const std::optional<std::string> first = line.Next();
    if (!first) continue;
    const std::string keyword = Upper(*first);
    CueTrack* track = sheet.Tracks.empty() ? nullptr : &sheet.Tracks.back();

    if (keyword == "FILE") {
      if (haveFile)
        line.Fail("the image has more than one file; only one BINARY file is supported");
      sheet.FileName = line.Require("file name");
      if (sheet.FileName.empty()) line.Fail("empty file name");
      const std::string type = Upper(line.Require("file type"));
      if (type != "BINARY")
        line.Fail("file type " + type + " is not supported; only BINARY (raw sectors) is");
      line.End();
      haveFile = true;
    } else if (keyword == "TRACK") {
      if (!haveFile) line.Fail("TRACK before FILE");
      if (track && !haveIndex1)
        line.Fail("track " + std::to_string(track->Number) + " has no INDEX 01");
      CueTrack next;
      next.Number = static_cast<std::uint8_t>(
          line.Number(line.Require("track number"), 1, kCdMaxTracks, "track number"));
      if (track && next.Number != track->Number + 1) line.Fail("track numbers are not consecutive");
      const std::string mode = Upper(line.Require("track mode"));
      if (mode == "AUDIO") {
        next.Mode = CueTrackMode::Audio;
      } else if (mode == "MODE1/2352") {
        next.Mode = CueTrackMode::Mode1Raw;
        next.Control = kCdControlData;
      } else if (mode == "MODE2/2352") {
        next.Mode = CueTrackMode::Mode2Raw;
        next.Control = kCdControlData;
      } else {
        line.Fail("track mode " + mode +
                  " is not supported; the image must hold 2352-byte sectors");
      }
      line.End();
      sheet.Tracks.push_back(next);
      haveIndex1 = false;
    } else if (keyword == "INDEX") {
      if (!track) line.Fail("INDEX outside a track");
      const int number = line.Number(line.Require("index number"), 0, 99, "index number");
      const std::uint32_t at = line.Msf(line.Require("index time"));
      line.End();
      if (at < lastIndex) line.Fail("index times go backwards");
      if (number == 0) {
        if (track->Index0 || haveIndex1) line.Fail("INDEX 00 given twice or after INDEX 01");
        track->Index0 = at;
      } else if (number == 1) {
        if (haveIndex1) line.Fail("INDEX 01 given twice");
        // Every earlier track keeps at least one sector.
        if (sheet.Tracks.size() > 1 && at <= sheet.Tracks[sheet.Tracks.size() - 2].Index1)
          line.Fail("track " + std::to_string(track->Number) +
                    " starts where the one before it does");
        track->Index1 = at;
        haveIndex1 = true;
      } else if (!haveIndex1) {
        line.Fail("INDEX " + std::to_string(number) + " before INDEX 01");
      }
      lastIndex = at;
    } else if (keyword == "FLAGS") {
      if (!track) line.Fail("FLAGS outside a track");
      while (const std::optional<std::string> flag = line.Next()) {
        const std::string f = Upper(*flag);
        if (f == "PRE") {
          track->Control |= kCdControlPreEmphasis;
        } else if (f == "DCP") {
          track->Control |= kCdControlCopyPermitted;
        } else if (f == "4CH") {
          track->Control |= kCdControlFourChannel;
        } else if (f != "SCMS") {
          line.Fail("unknown flag " + f);
        }
      }
    } else if (keyword == "PREGAP" || keyword == "POSTGAP") {
      // Gaps that are not in the file; the image's table of contents leaves them out as well.
      if (!track) line.Fail(keyword + " outside a track");
      (void)line.Msf(line.Require("gap length"));
      line.End();
    } else if (keyword == "REM" || keyword == "CATALOG" || keyword == "CDTEXTFILE" ||
               keyword == "TITLE" || keyword == "PERFORMER" || keyword == "SONGWRITER" ||
               keyword == "ISRC") {
      // Text for people and players; it does not change the layout.
    } else {
      line.Fail("unknown command " + keyword);
    }
  }

  if (!haveFile) throw ECdromError("The cue sheet names no file");
  if (sheet.Tracks.empty()) throw ECdromError("The cue sheet has no tracks");
  if (!haveIndex1)
    throw ECdromError("Track " + std::to_string(sheet.Tracks.back().Number) + " has no INDEX 01");
  return sheet;
}

}  // namespace qv
