// Any byte string as a stored or received xmcd entry: split into lines and parsed, raw as the
// local database reads it. When the parse yields tracks, writing the record must give lines
// within the limit that are valid UTF-8 each, and parsing them again the same record.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cddb/cddb_types.h"
#include "cddb/localcddb_xmcd.h"
#include "platform/base/text.h"

namespace {

bool SameEntry(const qv::TCDInfo& a, const qv::TCDInfo& b) {
  // "Artist / Title" cannot tell an artist ending in " /" from the separator: such a title
  // line (one without a separator) reads back split differently, as it would anywhere.
  const bool ambiguous =
      a.Artist.size() >= 2 && a.Artist.compare(a.Artist.size() - 2, 2, " /") == 0;
  if (!ambiguous && (a.Artist != b.Artist || a.Title != b.Title)) return false;
  if (a.DiscID != b.DiscID || a.Year != b.Year || a.Genre != b.Genre || a.ExtD != b.ExtD ||
      a.Revision != b.Revision || a.TOC.TrackCount != b.TOC.TrackCount)
    return false;
  for (int i = 0; i < a.TOC.TrackCount; ++i) {
    if (a.TrackTitles[i] != b.TrackTitles[i] || a.TrackExt[i] != b.TrackExt[i] ||
        qv::FrameOffset(a.TOC.Tracks[i]) != qv::FrameOffset(b.TOC.Tracks[i]))
      return false;
  }
  return a.TOC.LeadOut.Minute == b.TOC.LeadOut.Minute &&
         a.TOC.LeadOut.Second == b.TOC.LeadOut.Second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qv::TEntryArray lines, again;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qv::XmcdSplitText(text, lines);
  qv::TCDInfo info;
  const int result = qv::XmcdParse(info, lines);
  if (result != 0 && result != -4) std::abort();
  if (info.TOC.TrackCount > 100) std::abort();
  if (info.TOC.TrackCount == 0) return 0;
  for (auto& line : again) line.clear();
  if (qv::XmcdGenerate(info, "fuzz", again) != 0) return 0;
  for (const auto& line : again) {
    if (line.empty()) break;
    if (line.size() > qv::kXmcdLineLimit && line.rfind("# Submitted via:", 0) != 0) std::abort();
    if (!qv::IsValidUtf8(line)) std::abort();
  }
  qv::TCDInfo back;
  if (qv::XmcdParse(back, again) != 0 || !SameEntry(info, back)) std::abort();
  return 0;
}
