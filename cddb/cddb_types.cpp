#include "cddb/cddb_types.h"

#include <algorithm>
#include <cstdio>

namespace qv {

int CddbDigitSum(int n) {
  int sum = 0;
  while (n > 0) {
    sum += n % 10;
    n /= 10;
  }
  return sum;
}

std::uint32_t CddbDiscIdValue(const TCDTOC& toc) {
  const auto seconds = [](const TTOCEntry& e) { return e.Minute * 60 + e.Second; };
  const int count = toc.TrackCount <= toc.Tracks.size() ? toc.TrackCount : toc.Tracks.size();
  unsigned n = 0;
  for (int i = 0; i < count; ++i) n += CddbDigitSum(seconds(toc.Tracks[i]));
  // A lead-out before the first track (garbage TOC) must not wrap into the checksum byte.
  const int t = seconds(toc.LeadOut) - seconds(toc.Tracks[0]);
  const std::uint32_t length = t > 0 ? static_cast<std::uint32_t>(t) & 0xFFFF : 0;
  return ((n % 255) << 24) | (length << 8) | toc.TrackCount;
}

std::string CddbDiscId(const TCDTOC& toc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", CddbDiscIdValue(toc));
  return text;
}

bool IsValidDiscId(std::string_view id) {
  if (id.size() != 8) return false;
  for (const char c : id) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

bool IsValidCategory(std::string_view category) {
  if (category.empty() || category.size() > 40) return false;
  for (const char c : category) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool HasTitles(const TCDInfo& info) {
  const auto named = [](const std::string& text) {
    return text.find_first_not_of(" \t") != std::string::npos;
  };
  return named(info.Artist) || named(info.Title) ||
         std::any_of(info.TrackTitles.begin(), info.TrackTitles.end(), named);
}

}  // namespace qv
