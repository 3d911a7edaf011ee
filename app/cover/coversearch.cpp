#include "app/cover/coversearch.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "app/cover/advpicture.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/gfx/picture.h"
#include "platform/services/xml_dom.h"

namespace qv {

namespace {

enum LangIndex { kSlide = 2, kOf = 3, kCheckCoverList = 4, kValidateCover = 5, kNoCover = 6 };

bool StartsNoCase(const std::string& s, std::size_t at, std::string_view p) {
  if (s.size() - at < p.size()) return false;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(s[at + i])) !=
        std::toupper(static_cast<unsigned char>(p[i]))) {
      return false;
    }
  }
  return true;
}

bool IsHttpUrl(const std::string& url) {
  return StartsNoCase(url, 0, "http://") || StartsNoCase(url, 0, "https://");
}

}  // namespace

TCoverSearch::TCoverSearch(ICoverSearchView& view, TAdvPicture& picture)
    : view_(view), picture_(picture) {}

std::string TCoverSearch::EscapeSearchWords(const std::string& words) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : words) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string TCoverSearch::BuildSearchURL(const std::string& templ, const std::string& words) {
  constexpr std::string_view kMarker = "#SEARCH#";
  const std::string escaped = EscapeSearchWords(words);
  std::string url;
  for (std::size_t i = 0; i < templ.size();) {
    if (StartsNoCase(templ, i, kMarker)) {
      url += escaped;
      i += kMarker.size();
    } else {
      url += templ[i++];
    }
  }
  std::string out;
  for (const char c : url) out += c == ' ' ? std::string("%20") : std::string(1, c);
  return out;
}

void TCoverSearch::Report(const std::string& message) {
  if (OnError) OnError(message);
}

void TCoverSearch::ClearCovers(bool addPlaceholder) {
  ++generation_;
  http_.Abort();
  // A search asked for before the list was emptied belongs to what was cleared away.
  pending_.reset();
  lastFailure_.clear();
  view_.SetSlideCaption(Message(kSlide));
  FCovers.clear();
  placeholder_ = false;
  if (!addPlaceholder) return;
  // The placeholder's name may differ in case on a case-sensitive file system.
  const std::string path = FindFileNoCase(".", PlaceholderFile);
  if (path.empty()) return;
  try {
    const std::string bytes = ReadFileBytes(path, int64_t(64) << 20);
    FCovers.emplace_back(bytes.begin(), bytes.end());
    placeholder_ = true;
  } catch (const Exception& e) {
    Report(e.Message());
  }
}

void TCoverSearch::ShowCover(int n) {
  if (n < 0 || n >= CoverCount()) {
    // Nothing to show: no placeholder and no cover.
    view_.SetSlideCaption(Message(kSlide));
    picture_.Picture().Clear();
    return;
  }
  view_.SetSlideCaption(Message(kSlide) + " " + std::to_string(n + 1) + " " + Message(kOf) + " " +
                        std::to_string(CoverCount()));
  try {
    picture_.Picture().LoadFromBytes(FCovers[std::size_t(n)]);
  } catch (const Exception& e) {
    // Only a broken placeholder file can get here: found covers were decoded when kept.
    Report(e.Message());
  }
}

void TCoverSearch::SlideClick() {
  if (FCovers.empty()) return;
  ++FCoverIndex;
  if (FCoverIndex < 0 || FCoverIndex >= CoverCount()) FCoverIndex = 0;
  ShowCover(FCoverIndex);
}

const std::vector<std::uint8_t>& TCoverSearch::ShownCover() const {
  return picture_.Picture().Data();
}

bool TCoverSearch::Fetch(const std::string& url, Deadline deadline, std::string* text,
                         TStream* stream) {
  using std::chrono::milliseconds;
  const auto left =
      std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) {
    Report("Cover search time limit reached before " + url);
    return false;
  }
  const milliseconds total = http_.TotalTimeout;
  http_.TotalTimeout = std::min(total, left);
  struct Restore {
    THTTPClient& http;
    milliseconds total;
    ~Restore() { http.TotalTimeout = total; }
  } restore{http_, total};
  if (stream != nullptr) {
    http_.Get(url, *stream);
  } else {
    *text = http_.Get(url);
  }
  return true;
}

void TCoverSearch::ValidateCover(const std::string& url, unsigned generation) {
  if (!IsHttpUrl(url)) {
    Report("Cover URL refused: " + url);
    return;
  }
  TMemoryStream buffer;
  try {
    if (!Fetch(url, deadline_, nullptr, &buffer)) return;
  } catch (const EHTTPClientError& e) {
    if (Cancelled(generation)) return;
    ++downloadsFailed_;
    failure_ = e.Message();
    Report(url + ": " + e.Message());
    return;
  }
  if (Cancelled(generation) || http_.ResponseContentType() != "image/jpeg") return;
  // Kept only when it really is a JPEG picture, so showing it later cannot fail.
  if (DetectPictureFormat(buffer.Bytes()) != PictureFormat::Jpeg) return;
  try {
    TIPicture check;
    check.LoadFromBytes(buffer.Bytes());
  } catch (const Exception&) {
    return;
  }
  FCovers.push_back(buffer.Bytes());
}

void TCoverSearch::SearchCovers(const std::string& album, const std::string& artist) {
  // A handler that runs while a search waits (a new lookup) does not nest a second search:
  // the newest words asked for are searched once the running search has returned.
  if (searching_) {
    pending_ = Words{album, artist};
    return;
  }
  searching_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{searching_};
  std::optional<Words> next = Words{album, artist};
  while (next) {
    pending_.reset();
    Search(next->album, next->artist);
    next = std::exchange(pending_, std::nullopt);
  }
}

void TCoverSearch::Search(const std::string& album, const std::string& artist) {
  const unsigned generation = generation_;
  deadline_ = std::chrono::steady_clock::now() + SearchTimeLimit;

  std::string answer;
  int status = 0;
  failure_.clear();
  lastFailure_.clear();
  downloadsFailed_ = 0;
  if (!FSearchURL.empty()) {
    const std::string url = BuildSearchURL(FSearchURL, album + " " + artist);
    try {
      if (Fetch(url, deadline_, &answer, nullptr)) status = http_.ResponseCode();
    } catch (const EHTTPClientError& e) {
      if (Cancelled(generation)) return;
      failure_ = e.Message();
      Report("Cover search failed: " + e.Message());
    }
  }
  if (Cancelled(generation)) return;

  if (status == 200) {
    XmlDocument doc;
    doc.LoadXML(answer);
    // An answer that is not XML has no root and lists nothing.
    const XmlNodeList nodes = doc.DocumentElement().SelectNodes("//Details/ImageUrlLarge");
    view_.ShowStatus(Message(kCheckCoverList));
    const int count = std::min(nodes.Length(), MaxCovers);
    for (int i = 0; i < count; ++i) {
      view_.ShowStatus(Message(kValidateCover) + " " + std::to_string(i + 1) + " " + Message(kOf) +
                       " " + std::to_string(count));
      ValidateCover(nodes.Item(i).Text(), generation);
      if (Cancelled(generation)) return;
      if (std::chrono::steady_clock::now() >= deadline_) {
        Report("Cover search time limit reached");
        break;
      }
    }
  }

  const int found = CoverCount() - (placeholder_ ? 1 : 0);
  if (FSearchURL.empty()) {
    // No service, no search: a word about covers would read as if one had been made.
  } else if (status == 0 && !failure_.empty()) {
    // The service could not be asked: that is no answer that lists no cover.
    lastFailure_ = "Cover search failed: " + failure_;
    view_.ShowStatus(lastFailure_);
  } else if (found == 0 && downloadsFailed_ > 0) {
    lastFailure_ = Message(kNoCover) + " (" + std::to_string(downloadsFailed_) +
                   (downloadsFailed_ == 1 ? " picture" : " pictures") +
                   " could not be downloaded: " + failure_ + ")";
    view_.ShowStatus(lastFailure_);
  } else if (found > 1) {
    view_.ShowStatus(std::to_string(found) + " covers found !");
  } else if (found == 1) {
    view_.ShowStatus("1 cover found !");
  } else {
    view_.ShowStatus(Message(kNoCover));
  }
  ShowCover(CoverCount() - 1);
}

}  // namespace qv
