#include "app/rip_naming.h"

#include <charconv>
#include <cmath>

#include "platform/base/paths.h"
#include "platform/base/text.h"

namespace qv {

namespace {

// One name component from outside text: never empty, ".", "..", a separator or a control.
std::string SafeComponent(const std::string& Text, const TNameChars& Chars,
                          const std::string& Fallback) {
  std::string cleaned = CleanName(Text, Chars);
  if (Trim(cleaned).empty()) cleaned = CleanName(Fallback, Chars);
  return SafePathComponent(cleaned);
}

// Splits a relative name at its separators and drops the components that would leave the
// folder or mean nothing: "", "." and ".." (the latter becomes "__", like any other text);
// each component is cut to 255 bytes.
std::string SafeRelative(const std::string& Path) {
  std::string out;
  std::string part;
  auto flush = [&](bool last) {
    if (part == "..") part = "__";
    // Texts side by side ("%GENRE%%YEAR%") may together be longer than a file name may be.
    part = Utf8Truncate(part, 255);
    if (!part.empty() && part != ".") {
      out += part;
      if (!last) out += '/';
    }
    part.clear();
  };
  for (char c : Path) {
    if (IsPathDelimiter(c)) {
      flush(false);
    } else {
      part += c;
    }
  }
  flush(true);
  return out;
}

}  // namespace

std::string CleanName(const std::string& Text, const TNameChars& Chars) {
  std::string s = Text;
  if (!Chars.SpaceChar.empty()) s = StringReplace(s, " ", Chars.SpaceChar, rfReplaceAll);
  for (const char* bad : {"<", ">", ":", "\"", "/", "\\", "|", "*", "?"})
    s = StringReplace(s, bad, Chars.CDDBChar, rfReplaceAll);
  return s;
}

std::string FillAlbumPlaceholders(const std::string& Pattern, const TAlbumTexts& Texts,
                                  const TNameChars& Chars) {
  std::string s = Pattern;
  s = StringReplace(s, "%ARTIST%", SafeComponent(Texts.Artist, Chars, "Unknown Artist"),
                    rfReplaceAll | rfIgnoreCase);
  s = StringReplace(s, "%ALBUM%", SafeComponent(Texts.Album, Chars, "Unknown Album"),
                    rfReplaceAll | rfIgnoreCase);
  // An empty genre or year stays empty: "Album (%YEAR%)" is a fine name without one.
  const auto optional = [&](const std::string& v) {
    return Trim(v).empty() ? std::string() : SafeComponent(v, Chars, "");
  };
  s = StringReplace(s, "%GENRE%", optional(Texts.Genre), rfReplaceAll | rfIgnoreCase);
  s = StringReplace(s, "%YEAR%", optional(Texts.Year), rfReplaceAll | rfIgnoreCase);
  return s;
}

std::string TrackNumberText(int Track) {
  return (Track < 10 ? "0" : "") + IntToStr(Track);
}

std::string TrackFileName(const std::string& BasePath, const std::string& Destination, int Track,
                          const std::string& TrackTitle, const TNameChars& Chars) {
  const std::string number = TrackNumberText(Track);
  const std::string title = SafeComponent(TrackTitle, Chars, "Track " + IntToStr(Track));
  std::string name = StringReplace(Destination, "%TRACKNB%", number, rfReplaceAll | rfIgnoreCase);
  name = StringReplace(name, "%TRACKNAME%", title, rfReplaceAll | rfIgnoreCase);
  name = SafeRelative(name);
  // A pattern that names only a folder (empty, ending in a separator, or with its last
  // component dropped: "a/." or ".") would give every track the same name: the track is
  // named in that folder.
  if (name.empty() || name.back() == '/') name += number + " - " + title;
  return NormalizePath(BasePath) + name;
}

std::string FolderPart(const std::string& Path) {
  return ExtractFilePath(NormalizePath(Path));
}

const std::vector<std::string>& FormatItems() {
  static const std::vector<std::string> items{"MP3", "OGG", "FLAC"};
  return items;
}

std::string FormatExtension(int FormatIndex) {
  switch (FormatIndex) {
    case 0:
      return ".mp3";
    case 1:
      return ".ogg";
    case 2:
      return ".flac";
    default:
      return "";
  }
}

std::string CompressionText(float Compression) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Compression);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::vector<std::string> BitrateItems(int FormatIndex) {
  std::vector<std::string> items;
  if (FormatIndex == 0) {
    for (int i = 0; i <= int(TMP3BitRate::br320); ++i)
      items.push_back("br" + IntToStr(MP3BitRateKbps(TMP3BitRate(i))));
  } else if (FormatIndex == 1) {
    for (int i = 0; i < 10; ++i) items.push_back(CompressionText(float(i) / 10.0f));
    items.push_back("1.0");
  }
  return items;
}

int BitrateItemIndex(int FormatIndex, TMP3BitRate BitRate, float Compression) {
  if (FormatIndex == 0) return int(BitRate);
  if (FormatIndex != 1 || !std::isfinite(Compression)) return -1;
  const double index = std::nearbyint(double(Compression) * 10.0);
  return index >= 0 && index <= 10 ? int(index) : -1;
}

int BitrateItemByText(int FormatIndex, TMP3BitRate BitRate, float Compression) {
  if (FormatIndex != 1) return BitrateItemIndex(FormatIndex, BitRate, Compression);
  const std::vector<std::string> items = BitrateItems(1);
  const std::string text = CompressionText(Compression);
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == text) return int(i);
  return -1;
}

bool ApplyBitrateItem(int FormatIndex, const std::string& Item, TMP3BitRate& BitRate,
                      float& Compression) {
  if (FormatIndex == 0) {
    const std::vector<std::string> items = BitrateItems(0);
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == Item) {
        BitRate = TMP3BitRate(i);
        return true;
      }
    }
    return false;
  }
  if (FormatIndex != 1) return false;
  float value;
  const auto [end, ec] = std::from_chars(Item.data(), Item.data() + Item.size(), value);
  if (ec != std::errc() || end != Item.data() + Item.size()) return false;
  Compression = value;
  return true;
}

}  // namespace qv
