#include "app/cover/coversearch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/cover/advpicture.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "tests/app/cover/cover_test_util.h"
#include "tests/fixtures/cover/cover_fixture.h"

namespace qv {
namespace {

using testing::AsString;
using testing::CoverServer;
using testing::SolidJpeg;

const char* const kLang[12] = {"Not Connected",
                               "unknown CD Audio",
                               "Slide",
                               "of",
                               "Check cover list",
                               "Validate cover",
                               "No cover was found !",
                               "RIP Track N\xC2\xB0",
                               "Rip done !",
                               "Destination :",
                               "CD Ejected !",
                               "CD Inserted !"};

class RecordingView : public ICoverSearchView {
 public:
  std::string LangMessage(int index) const override { return kLang[index]; }
  void ShowStatus(const std::string& text) override { statuses.push_back(text); }
  void SetSlideCaption(const std::string& caption) override { this->caption = caption; }

  std::vector<std::string> statuses;
  std::string caption;
};

std::string Xml(const std::vector<std::string>& urls) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProductInfo>";
  for (const auto& u : urls) {
    x += "<Details url=\"x\"><ProductName>p</ProductName><ImageUrlLarge>" + u +
         "</ImageUrlLarge></Details>";
  }
  return x + "</ProductInfo>";
}

class CoverSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDir = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    placeholder = SolidJpeg(30, 30, RGB(128, 128, 128));
    coverA = SolidJpeg(60, 60, RGB(200, 0, 0));
    coverB = SolidJpeg(600, 300, RGB(0, 0, 200));
    testing::WriteFileBytesPlain(work.Path() / "NOCOVER.jpg", placeholder);
    server.WriteFile("a.jpg", AsString(coverA));
    server.WriteFile("b.jpg", AsString(coverB));
    server.WriteFile("b.png", "\x89PNG\r\n\x1a\n not really");
    server.WriteFile("junk.jpg", "this is not a picture at all");
    search.FSearchURL = server.Url("/onca/xml3?KeywordSearch=#SEARCH#&mode=music");
    search.HTTPClient().ReadTimeout = std::chrono::milliseconds(1000);
    search.HTTPClient().TotalTimeout = std::chrono::milliseconds(20000);
    search.OnError = [this](const std::string& m) { errors.push_back(m); };
    search.ClearCovers(true);
  }
  void TearDown() override { std::filesystem::current_path(oldDir); }

  void Answer(const std::string& routeOfSearch, const std::vector<std::string>& urls) {
    server.WriteFile("answer.xml", Xml(urls));
    server.SetRoutes("/onca/xml3 " + routeOfSearch +
                     "\n/a.jpg 200 image/jpeg a.jpg\n/b.jpg 200 image/jpeg b.jpg\n"
                     "/b.png 200 image/png b.png\n/typed.jpg 200 image/jpeg;%20q=1 a.jpg\n"
                     "/junk.jpg 200 image/jpeg junk.jpg\n/stall.jpg 200 image/jpeg b.jpg stall\n");
  }
  // The placeholder and the final status after a search that found nothing (followed by why,
  // when pictures could not be downloaded).
  void ExpectOnlyPlaceholder() {
    EXPECT_EQ(search.CoverCount(), 1);
    EXPECT_EQ(view.statuses.back().rfind("No cover was found !", 0), 0u) << view.statuses.back();
    EXPECT_EQ(view.caption, "Slide 1 of 1");
    EXPECT_EQ(search.ShownCover(), placeholder);
  }

  testing::TempDir work;
  std::filesystem::path oldDir;
  CoverServer server;
  RecordingView view;
  TAdvPicture picture{nullptr};
  TCoverSearch search{view, picture};
  std::vector<std::string> errors;
  std::vector<std::uint8_t> placeholder, coverA, coverB;
};

TEST_F(CoverSearchTest, ManyStalledPicturesAreBoundedByTheSearchTimeLimit) {
  const std::string stall = server.Url("/stall.jpg");
  Answer("200 text/xml answer.xml", {stall, stall, stall, stall, stall, stall});
  search.HTTPClient().ReadTimeout = std::chrono::milliseconds(0);
  search.SearchTimeLimit = std::chrono::milliseconds(1500);
  search.SearchCovers("Album", "Artist");
  ExpectOnlyPlaceholder();
  int fetched = 0;
  for (const auto& r : server.Requests()) fetched += r.rfind("/stall.jpg", 0) == 0 ? 1 : 0;
  EXPECT_GE(fetched, 1);
  EXPECT_LT(fetched, 6);
  // The client's own bound is left as it was.
  EXPECT_EQ(search.HTTPClient().TotalTimeout, std::chrono::milliseconds(20000));
}

// A search or a download that fails on the network says why on the status line, not that the
// service had no cover; an answer that lists none still says so plainly.
TEST_F(CoverSearchTest, NetworkFailuresSayTheirReason) {
  // Nothing listens on port 1 of the loopback.
  search.FSearchURL = "http://127.0.0.1:1/onca/xml3?KeywordSearch=#SEARCH#";
  search.SearchCovers("Album", "Artist");
  ASSERT_FALSE(view.statuses.empty());
  const std::string failed = view.statuses.back();
  EXPECT_EQ(failed.rfind("Cover search failed: ", 0), 0u) << failed;
  EXPECT_GT(failed.size(), std::string("Cover search failed: ").size()) << failed;
  EXPECT_EQ(failed.find("No cover was found !"), std::string::npos) << failed;
  // The reason outlives the status line: the window says it again after the lookup's line.
  EXPECT_EQ(search.LastFailure(), failed);
  EXPECT_EQ(search.CoverCount(), 1);
  EXPECT_EQ(search.ShownCover(), placeholder);

  search.FSearchURL = server.Url("/onca/xml3?KeywordSearch=#SEARCH#");
  Answer("200 text/xml answer.xml", {"http://127.0.0.1:1/a.jpg", server.Url("/junk.jpg")});
  search.SearchCovers("Album", "Artist");
  const std::string missing = view.statuses.back();
  EXPECT_EQ(missing.rfind("No cover was found ! (1 picture could not be downloaded: ", 0), 0u)
      << missing;
  EXPECT_EQ(missing.back(), ')') << missing;
  EXPECT_EQ(search.LastFailure(), missing);

  Answer("200 text/xml answer.xml", {server.Url("/junk.jpg")});
  search.SearchCovers("Album", "Artist");
  ExpectOnlyPlaceholder();
  EXPECT_EQ(view.statuses.back(), "No cover was found !");
  EXPECT_EQ(search.LastFailure(), "");  // an answer without a picture is no failure
}

TEST_F(CoverSearchTest, SearchWordsAreEscaped) {
  Answer("200 text/xml answer.xml", {});
  search.SearchCovers("Rock & Roll", "AC/DC #1 +100%");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')),
            "/onca/xml3?KeywordSearch=Rock%20%26%20Roll%20AC%2FDC%20%231%20%2B100%25&mode=music");

  EXPECT_EQ(TCoverSearch::BuildSearchURL("http://h/x?a=#search#&b=#Search# c", "caf\xC3\xA9 x"),
            "http://h/x?a=caf%C3%A9%20x&b=caf%C3%A9%20x%20c");
}

// Posts a message once the first picture download is about to start.
class PostingView : public RecordingView {
 public:
  void ShowStatus(const std::string& text) override {
    RecordingView::ShowStatus(text);
    if (text == "Validate cover 1 of 2") PostMessage(target, message, 0, 0);
  }
  HWND target = 0;
  UINT message = 0;
};

// Runs a search whose first picture stalls, and `During` while that download waits (a handler
// of the window, run from the search's wait).
class InterruptedSearchTest : public CoverSearchTest {
 protected:
  void Run(const std::function<void(TCoverSearch& Search)>& During) {
    Answer("200 text/xml answer.xml", {server.Url("/stall.jpg"), server.Url("/a.jpg")});
    other.FSearchURL = search.FSearchURL;
    other.HTTPClient().ReadTimeout = std::chrono::milliseconds(0);
    constexpr UINT kDuring = WM_USER + 7;
    bool ran = false;
    const HWND wnd = AllocateHWnd([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == kDuring && !ran) {
        ran = true;
        EXPECT_TRUE(other.Searching());
        During(other);
      }
      return 0;
    });
    postingView.target = wnd;
    postingView.message = kDuring;
    other.ClearCovers(true);
    other.SearchCovers("Album", "Artist");
    EXPECT_TRUE(ran);
    EXPECT_FALSE(other.Searching());
    DeallocateHWnd(wnd);
  }
  // The search requests that went out, and how often each picture was fetched.
  std::vector<std::string> Searches(int* stalls, int* as) {
    std::vector<std::string> searches;
    for (const auto& r : server.Requests()) {
      if (r.rfind("/onca/xml3", 0) == 0) searches.push_back(r.substr(0, r.find('\t')));
      *stalls += r.rfind("/stall.jpg", 0) == 0 ? 1 : 0;
      *as += r.rfind("/a.jpg", 0) == 0 ? 1 : 0;
    }
    return searches;
  }

  PostingView postingView;
  TAdvPicture otherPicture{nullptr};
  TCoverSearch other{postingView, otherPicture};
};

// A disc removal while a search waits ends it quietly, and a search asked for just before the
// removal (by the lookup of the disc removed) is not made.
TEST_F(InterruptedSearchTest, ClearingTheListDuringASearchEndsItQuietly) {
  Run([this](TCoverSearch& s) {
    s.SearchCovers("Other", "Disc");
    s.ClearCovers(true);
    postingView.statuses.push_back("CD Ejected !");
  });
  EXPECT_EQ(postingView.statuses.back(), "CD Ejected !");
  EXPECT_EQ(other.CoverCount(), 1);  // the placeholder only
  EXPECT_EQ(postingView.caption, "Slide");
  EXPECT_EQ(other.LastFailure(), "");
  // Only one search went out, and the second picture was never fetched.
  int stalls = 0, as = 0;
  EXPECT_EQ(Searches(&stalls, &as).size(), 1u);
  EXPECT_LE(stalls, 1);  // the abort may come before the request reached the server
  EXPECT_EQ(as, 0);
}

// A new lookup while a search waits (the list cleared, then a search for the new disc): the
// old search ends quietly, and the new one is made once it has returned; of several asked for
// meanwhile, the newest.
TEST_F(InterruptedSearchTest, ANewLookupDuringASearchIsSearchedWhenTheOldOneEnds) {
  Run([this](TCoverSearch& s) {
    Answer("200 text/xml answer.xml", {server.Url("/a.jpg")});
    s.ClearCovers(true);
    s.SearchCovers("Older", "Disc");
    EXPECT_TRUE(s.Searching());
    s.SearchCovers("Other", "Disc");
    postingView.statuses.push_back("asked");
  });
  int stalls = 0, as = 0;
  EXPECT_EQ(Searches(&stalls, &as),
            (std::vector<std::string>{"/onca/xml3?KeywordSearch=Album%20Artist&mode=music",
                                      "/onca/xml3?KeywordSearch=Other%20Disc&mode=music"}));
  EXPECT_LE(stalls, 1);  // the abort may come before the request reached the server
  EXPECT_EQ(as, 1);
  // The new disc's cover after the placeholder, shown; the old search said nothing more.
  ASSERT_EQ(other.CoverCount(), 2);
  EXPECT_EQ(other.ShownCover(), coverA);
  EXPECT_EQ(postingView.caption, "Slide 2 of 2");
  const auto asked = std::find(postingView.statuses.begin(), postingView.statuses.end(), "asked");
  ASSERT_NE(asked, postingView.statuses.end());
  EXPECT_EQ(
      std::vector<std::string>(asked + 1, postingView.statuses.end()),
      (std::vector<std::string>{"Check cover list", "Validate cover 1 of 1", "1 cover found !"}));
}

}  // namespace
}  // namespace qv
