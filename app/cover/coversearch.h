// The cover-art search of the main window. After a lookup it asks the XML search service
// for pictures of the album, downloads each large picture the answer lists, keeps those
// that arrive as JPEG and decode, and shows the last one; the slide button steps through
// them. The list starts with the placeholder picture "NOCOVER.jpg" when that file exists.
// Lives on the main thread; the downloads block the search but the thread's message queue
// is served meanwhile, so the window's other handlers can run (and may clear the list,
// which ends a running search quietly, or ask for a new search, made when it has ended).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services/http_client.h"

namespace qv {

class TAdvPicture;
class TStream;

// What the window lends the search: its translatable texts, status line and slide button.
class ICoverSearchView {
 public:
  virtual ~ICoverSearchView() = default;
  // The window's `LangMessages` entry.
  [[nodiscard]] virtual std::string LangMessage(int index) const = 0;
  // Sets the status line and repaints it at once.
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void SetSlideCaption(const std::string& caption) = 0;
};

class TCoverSearch {
 public:
  // Neither argument is owned; both outlive the search.
  TCoverSearch(ICoverSearchView& view, TAdvPicture& picture);
  TCoverSearch(const TCoverSearch&) = delete;
  TCoverSearch& operator=(const TCoverSearch&) = delete;

  // Each "#SEARCH#" takes the search words. Empty (until the INI file names a service): the
  // search is off and sends nothing.
  std::string FSearchURL;
  std::string PlaceholderFile = "NOCOVER.jpg";
  int MaxCovers = 32;  // listed pictures looked at per search
  // Bounds a whole search, however many pictures stall: later ones are not fetched.
  std::chrono::milliseconds SearchTimeLimit{60000};
  // Told why a search or a download failed (for the log); the search goes on without it.
  std::function<void(const std::string& message)> OnError;

  // The client of the searches: headers, proxy and time-outs are set on it.
  [[nodiscard]] THTTPClient& HTTPClient() { return http_; }

  void ClearCovers(bool addPlaceholder);
  void ShowCover(int n);
  void SearchCovers(const std::string& album, const std::string& artist);
  // The slide button: the next entry, after the last the first.
  void SlideClick();

  [[nodiscard]] int CoverCount() const { return static_cast<int>(FCovers.size()); }
  [[nodiscard]] const std::vector<std::vector<std::uint8_t>>& Covers() const { return FCovers; }
  [[nodiscard]] int CoverIndex() const { return FCoverIndex; }
  [[nodiscard]] bool HasPlaceholder() const { return placeholder_; }
  [[nodiscard]] bool Searching() const { return searching_; }
  // The bytes of the picture on show, as loaded: what the rip saves as the cover file.
  [[nodiscard]] const std::vector<std::uint8_t>& ShownCover() const;
  // Why the last search that ran to its end found nothing, as its final status line said it
  // ("Cover search failed: ..." or "No cover was found ! (... could not be downloaded: ...)");
  // empty when it did not fail, and after ClearCovers.
  [[nodiscard]] const std::string& LastFailure() const { return lastFailure_; }

  // The template with every "#SEARCH#" (any case) replaced by the percent-encoded words,
  // and any space left in it sent as "%20".
  [[nodiscard]] static std::string BuildSearchURL(const std::string& templ,
                                                  const std::string& words);
  // UTF-8 bytes percent-encoded, all but the unreserved A-Z a-z 0-9 - . _ ~.
  [[nodiscard]] static std::string EscapeSearchWords(const std::string& words);

 private:
  [[nodiscard]] bool Cancelled(unsigned generation) const { return generation != generation_; }
  void Report(const std::string& message);
  [[nodiscard]] std::string Message(int index) const { return view_.LangMessage(index); }
  void ValidateCover(const std::string& url, unsigned generation);
  // One search, ended early when the list is cleared meanwhile.
  void Search(const std::string& album, const std::string& artist);
  // GET within what is left of the search's time; false (reported) when time is up.
  using Deadline = std::chrono::steady_clock::time_point;
  bool Fetch(const std::string& url, Deadline deadline, std::string* text, TStream* stream);

  ICoverSearchView& view_;
  TAdvPicture& picture_;
  THTTPClient http_;
  std::vector<std::vector<std::uint8_t>> FCovers;
  int FCoverIndex = 0;
  bool placeholder_ = false;
  bool searching_ = false;
  unsigned generation_ = 0;  // grows at every ClearCovers, ending a running search
  Deadline deadline_{};      // of the running search
  // Of the running search: why its request or its last failed download failed, and how many
  // downloads failed; the final status line says so.
  std::string failure_;
  int downloadsFailed_ = 0;
  std::string lastFailure_;
  // The newest search asked for while one ran; made when that one has returned.
  struct Words {
    std::string album, artist;
  };
  std::optional<Words> pending_;
};

}  // namespace qv
