#include "cddb/localcddb_xmcd.h"
#include "platform/base/text.h"

#include <charconv>
#include <cstdio>

namespace qv {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// `s.substr` that gives an empty view instead of throwing past the end.
std::string_view Sub(std::string_view s, std::size_t pos, std::size_t n = std::string_view::npos) {
  return pos >= s.size() ? std::string_view{} : s.substr(pos, n);
}

// The leading decimal number of `s` after blanks; false when there is none or it overflows.
bool LeadingNumber(std::string_view s, long& value) {
  s = TrimSpaces(s);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end != s.data() && value >= 0;
}

// All of `s` (after blanks) as a decimal number.
bool WholeNumber(std::string_view s, long& value) {
  s = TrimSpaces(s);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && !s.empty() && end == s.data() + s.size() && value >= 0;
}

bool TwoDigitIndex(std::string_view digits, int& index) {
  index = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    index = index * 10 + (c - '0');
  }
  return !digits.empty();
}

// Track index of "TTITLEn=" / "EXTTn=" keys: one or two digits right after the name.
// -1: not this kind of key; -2: the digits are not a number.
int KeyIndex(std::string_view line, std::string_view name) {
  if (!StartsWith(line, name)) return -1;
  const std::size_t eq = line.find('=');
  if (eq != name.size() + 1 && eq != name.size() + 2) return -1;
  int index = 0;
  return TwoDigitIndex(line.substr(name.size(), eq - name.size()), index) ? index : -2;
}

// Cuts the escaped value into lines of at most the limit, each between two characters, so
// that every line is valid UTF-8 on its own. As with cuts at exact piece lengths, a value
// longer than one piece whose last line is full is followed by a line with an empty value.
void AppendKeyLines(std::string_view key, const std::string& value, TEntryArray& lines,
                    std::size_t& next, bool& overflow) {
  const std::size_t piece = kXmcdLineLimit - key.size() - 1;
  const std::string escaped = XmcdEscape(value);
  const auto put = [&](std::string_view text) {
    if (next >= lines.size()) {
      overflow = true;
      return false;
    }
    std::string line(key);
    line += '=';
    line += text;
    lines[next++] = std::move(line);
    return true;
  };
  if (escaped.size() <= piece) {
    put(escaped);
    return;
  }
  const std::string_view rest(escaped);
  for (std::size_t pos = 0;;) {
    std::size_t size = Utf8Truncate(rest.substr(pos), piece).size();
    if (size == 0 && pos < rest.size()) size = piece;  // not UTF-8 here: cut where it falls
    if (!put(rest.substr(pos, size))) return;
    pos += size;
    if (pos == rest.size() && size < piece) return;
  }
}

}  // namespace

std::string XmcdEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

std::string XmcdUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[i + 1];
    if (next == '\\') {
      out += '\\';
    } else if (next == 'n') {
      out += '\n';
    } else if (next == 't') {
      out += '\t';
    } else {
      out += '\\';
      continue;  // an unknown escape stays as it is; `next` is copied on the next turn
    }
    ++i;
  }
  return out;
}

int XmcdGenerate(const TCDInfo& info, std::string_view clientText, TEntryArray& lines) {
  std::size_t next = 0;
  bool overflow = false;
  const auto put = [&](std::string line) {
    if (next >= lines.size()) {
      overflow = true;
      return;
    }
    lines[next++] = std::move(line);
  };
  const int tracks = info.TOC.TrackCount <= 100 ? info.TOC.TrackCount : 100;
  put("# xmcd");
  put("#");
  put("# Track frame offsets:");
  for (int i = 0; i < tracks; ++i) put("#\t" + std::to_string(FrameOffset(info.TOC.Tracks[i])));
  put("#");
  put("# Disc length: " + std::to_string(info.TOC.LeadOut.Minute * 60 + info.TOC.LeadOut.Second) +
      " seconds");
  put("#");
  put("# Revision: " + std::to_string(info.Revision));
  put("# Submitted via: " + std::string(clientText));
  put("#");
  // A real identifier has nothing to escape and fits one line; anything else must not
  // break the line or its limit.
  AppendKeyLines("DISCID", info.DiscID, lines, next, overflow);
  AppendKeyLines("DTITLE", info.Artist + " / " + info.Title, lines, next, overflow);
  AppendKeyLines("DYEAR", info.Year, lines, next, overflow);
  AppendKeyLines("DGENRE", info.Genre, lines, next, overflow);
  for (int i = 0; i < tracks; ++i)
    AppendKeyLines("TTITLE" + std::to_string(i), info.TrackTitles[i], lines, next, overflow);
  AppendKeyLines("EXTD", info.ExtD, lines, next, overflow);
  for (int i = 0; i < tracks; ++i)
    AppendKeyLines("EXTT" + std::to_string(i), info.TrackExt[i], lines, next, overflow);
  put("PLAYORDER=");
  if (overflow) return -1;
  if (next < lines.size()) lines[next].clear();
  return 0;
}

int XmcdParse(TCDInfo& info, const TEntryArray& lines) {
  const std::string category = info.Category;
  info = TCDInfo{};
  info.Category = category;

  bool xmcd = false, offsets = false, length = false, revision = false, discid = false,
       dtitle = false, ttitle = false, extd = false, extt = false, playorder = false;
  bool corrupt = false;
  // Raw values are gathered per key and unescaped once, so that a continuation line cut
  // inside an escape or inside the " / " of DTITLE still reads back as it was written.
  std::string rawDiscId, rawTitle, rawYear, rawGenre, rawExtD;
  std::array<std::string, 100> rawTracks, rawExt;
  int trackCount = 0;

  std::size_t i = 0;
  const auto valueOf = [](const std::string& line) {
    return std::string_view(line).substr(line.find('=') + 1);
  };
  while (i < lines.size() && !lines[i].empty()) {
    const std::string& line = lines[i];
    const std::string_view view(line);
    if (view.find("# xmcd") != std::string_view::npos) xmcd = true;
    if (view.front() == '#') {
      long number = 0;
      if (Sub(view, 2, 20) == "Track frame offsets:") {
        offsets = true;
        ++i;
        for (; i < lines.size() && !lines[i].empty(); ++i) {
          const std::string_view offsetLine(lines[i]);
          if (offsetLine.front() != '#' || Sub(offsetLine, 2, 12) == "Disc length:") break;
          const std::string_view text = TrimSpaces(offsetLine.substr(1));
          // Some writers put a bare "#" before the first offset; only later ones end the block.
          if (text.empty()) {
            if (trackCount == 0) continue;
            break;
          }
          long offset = 0;
          if (!WholeNumber(text, offset) || offset > 255 * 4500 + 59 * 75 + 74) {
            corrupt = true;
            continue;
          }
          if (trackCount >= 100) continue;
          TTOCEntry& e = info.TOC.Tracks[trackCount++];
          e.Minute = static_cast<std::uint8_t>(offset / 4500);
          e.Second = static_cast<std::uint8_t>(offset / 75 - e.Minute * 60);
          e.Frame = static_cast<std::uint8_t>(offset - e.Minute * 4500 - e.Second * 75);
          e.IsAudio = true;
        }
        continue;  // the line that ended the block is classified on its own
      }
      if (Sub(view, 2, 12) == "Disc length:") {
        length = true;
        if (!LeadingNumber(view.substr(14), number) || number / 60 > 255) {
          corrupt = true;
        } else {
          info.TOC.LeadOut = TTOCEntry{static_cast<std::uint8_t>(number / 60),
                                       static_cast<std::uint8_t>(number % 60), 0, false};
        }
      } else if (Sub(view, 2, 9) == "Revision:") {
        revision = true;
        if (!LeadingNumber(view.substr(11), number) || number > 0x7FFFFFFF)
          corrupt = true;
        else
          info.Revision = static_cast<int>(number);
      }
    } else if (StartsWith(view, "DISCID=")) {
      discid = true;
      rawDiscId += valueOf(line);
    } else if (StartsWith(view, "DTITLE=")) {
      dtitle = true;
      rawTitle += valueOf(line);
    } else if (StartsWith(view, "DYEAR=")) {
      rawYear += valueOf(line);
    } else if (StartsWith(view, "DGENRE=")) {
      rawGenre += valueOf(line);
    } else if (StartsWith(view, "EXTD=")) {
      extd = true;
      rawExtD += valueOf(line);
    } else if (StartsWith(view, "PLAYORDER=")) {
      playorder = true;
    } else if (const int t = KeyIndex(view, "TTITLE"); t != -1) {
      ttitle = true;
      if (t < 0)
        corrupt = true;
      else
        rawTracks[t] += valueOf(line);
    } else if (const int x = KeyIndex(view, "EXTT"); x != -1) {
      extt = true;
      if (x < 0)
        corrupt = true;
      else
        rawExt[x] += valueOf(line);
    }
    ++i;
  }

  info.TOC.TrackCount = static_cast<std::uint8_t>(trackCount);
  // Each value is decoded on its own, once joined: a character cut at a line end is whole
  // again, and a value in another character set leaves the others as they are.
  const auto text = [](const std::string& raw) { return XmcdUnescape(ToUtf8Auto(raw)); };
  info.DiscID = text(rawDiscId);
  const std::string title = text(rawTitle);
  if (const std::size_t sep = title.find(" / "); sep != std::string::npos) {
    info.Artist = title.substr(0, sep);
    info.Title = title.substr(sep + 3);
  } else {
    info.Artist = title;
  }
  info.Year = text(rawYear);
  info.Genre = text(rawGenre);
  info.ExtD = text(rawExtD);
  for (std::size_t t = 0; t < rawTracks.size(); ++t) {
    info.TrackTitles[t] = text(rawTracks[t]);
    info.TrackExt[t] = text(rawExt[t]);
  }
  const bool complete = xmcd && offsets && length && revision && discid && dtitle && ttitle &&
                        extd && extt && playorder;
  return complete && !corrupt ? 0 : -4;
}

void XmcdSplitText(std::string_view text, TEntryArray& lines) {
  std::size_t next = 0;
  std::size_t start = 0;
  while (start < text.size() && next < lines.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) lines[next++].assign(text.substr(start, end - start));
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
      ++start;
  }
  for (; next < lines.size(); ++next) lines[next].clear();
}

std::string XmcdJoinLines(const TEntryArray& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (line.empty()) break;
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace qv
