// The cover-art search through the main window, headless: a local entry for the disc, the
// INI file's search URL at the loopback cover server, the placeholder "NOCOVER.jpg" in the
// current folder. The covers found are shown in the window, browsed with the slide button and
// saved by the rip; every kind of failure ends with the placeholder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cover/advpicture.h"
#include "app/cover/coversearch.h"
#include "app/rip_session.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "platform/ui/headless_backend.h"
#include "tests/app/cover/cover_test_util.h"
#include "tests/app/form_test_util.h"
#include "tests/fixtures/cover/cover_fixture.h"

namespace qv::test {
namespace {

constexpr COLORREF kRed = RGB(200, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 200);
constexpr COLORREF kGreen = RGB(0, 160, 0);

bool Near(COLORREF a, COLORREF b) {
  const auto d = [](int x, int y) { return std::abs(x - y) <= 40; };
  return d(GetRValue(a), GetRValue(b)) && d(GetGValue(a), GetGValue(b)) &&
         d(GetBValue(a), GetBValue(b));
}

std::string Hex(COLORREF c) {
  char s[16];
  std::snprintf(s, sizeof s, "#%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  return s;
}

class CoverFormTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    red_ = testing::SolidJpeg(600, 300, kRed);
    blue_ = testing::SolidJpeg(200, 160, kBlue);
    placeholder_ = testing::SolidJpeg(64, 64, kGreen);
    testing::WriteFileBytesPlain(dir_.File("NOCOVER.jpg"), placeholder_);
    server_.WriteFile("red.jpg", testing::AsString(red_));
    server_.WriteFile("blue.jpg", testing::AsString(blue_));
    server_.WriteFile("png.bin", std::string("\x89PNG\r\n\x1a\n", 8));
    server_.WriteFile("junk.jpg", "this is no picture at all");
    server_.WriteFile("notxml.txt", "<html><body>Service unavailable");
    // The disc's entry in the local database: "Album Title" by "Two Words".
    const auto r =
        RunCommand(Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                   Quote(dir_.File("db")) + " rock 'Two Words' 'Album Title' 1999 One Two");
    ASSERT_EQ(r.status, 0) << r.output;
    // The cover server is also the INI file's HTTP proxy (it takes absolute-form targets).
    WriteText(dir_.File("Quorvel.ini"),
              "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server_.Port()) +
                  "\n[CONF]\nlocalCDDB=db\nsearch=" +
                  server_.Url("/onca/xml3?KeywordSearch=#SEARCH#&x=1") + "\n");
  }
  void TearDown() override {
    FormTest::TearDown();
    if (status_ != nullptr) std::fclose(status_);
    TForm1::StatusEcho = nullptr;
  }

  // The search's answer lists these pictures (paths on the server).
  void Answer(const std::string& SearchRoute, const std::vector<std::string>& Pictures) {
    std::string xml = "<?xml version='1.0'?><ProductInfo>";
    for (const std::string& p : Pictures)
      xml += "<Details><ImageUrlSmall>" + server_.Url("/small.jpg") + "</ImageUrlSmall>" +
             "<ImageUrlLarge>" + server_.Url(p) + "</ImageUrlLarge></Details>";
    xml += "</ProductInfo>";
    server_.WriteFile("answer.xml", xml);
    server_.SetRoutes(
        "/onca/xml3 " + SearchRoute +
        "\n/red.jpg 200 image/jpeg red.jpg\n/blue.jpg 200 image/jpeg blue.jpg\n"
        "/small.jpg 200 image/jpeg red.jpg\n/png.jpg 200 image/png png.bin\n"
        "/junk.jpg 200 image/jpeg junk.jpg\n/stall.jpg 200 image/jpeg red.jpg stall\n");
  }

  // Makes the window (whose creation handler looks the disc up and searches the covers) with
  // the status lines written to a file.
  void OpenWindow() {
    auto backend = std::make_unique<HeadlessBackend>(
        std::vector<Monitor>{{{0, 0, 1024, 768}, {0, 0, 1024, 768}, true}});
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    status_ = std::fopen(dir_.File("status.txt").c_str(), "w");
    ASSERT_NE(status_, nullptr);
    TForm1::CommandLine = {"-format=flac", "-pathtoenc=" + dir_.File("out/")};
    TForm1::StatusEcho = status_;
    Application()->SetTitle("Quorvel");
    Application()->CreateForm(form_);
    ASSERT_NE(form_, nullptr);
    ASSERT_TRUE(Settled());
  }
  // Serves the window until the lookup and its search ended.
  bool Settled() {
    const bool done =
        Pump([this] { return !form_->LookupRunning() && !form_->CoverSearch().Searching(); });
    ProcessMessages();
    return done;
  }
  std::string StatusLines() {
    std::fflush(status_);
    return ReadText(dir_.File("status.txt"));
  }

  // The picture control's rectangle in the window, and the window's pixel there.
  Rect PictureRect() {
    TControl* c = form_->AdvPicture1;
    const Point origin = form_->ScreenToClient(c->ClientToScreen({0, 0}));
    return Bounds(origin.X, origin.Y, c->Width(), c->Height());
  }
  // Where a pw x ph picture is drawn in the window.
  Rect Drawn(int pw, int ph) {
    const Rect r = PictureRect();
    const std::vector<Rect> placed =
        PicturePlacement(bpCenter, smShrink, r.Width(), r.Height(), pw, ph);
    return placed.empty() ? Rect{} : placed[0].Offset(r.Left, r.Top);
  }
  COLORREF Pixel(int x, int y) { return SnapshotWindow(form_->Handle()).Pixel(x, y); }
  // The picture drawn at its place: its centre in the colour, the pixels just beside it not.
  void ExpectShown(COLORREF Colour, int pw, int ph) {
    ProcessMessages();
    const Bitmap shot = SnapshotWindow(form_->Handle());
    const Rect d = Drawn(pw, ph);
    ASSERT_FALSE(d.IsEmpty());
    const COLORREF centre = shot.Pixel((d.Left + d.Right) / 2, (d.Top + d.Bottom) / 2);
    EXPECT_TRUE(Near(centre, Colour)) << Hex(centre) << " instead of " << Hex(Colour);
    EXPECT_TRUE(Near(shot.Pixel(d.Left + 1, d.Top + 1), Colour));
    EXPECT_TRUE(Near(shot.Pixel(d.Right - 2, d.Bottom - 2), Colour));
    const Rect control = PictureRect();
    if (d.Left - 2 >= control.Left) {
      EXPECT_FALSE(Near(shot.Pixel(d.Left - 2, (d.Top + d.Bottom) / 2), Colour));
    }
    if (d.Top - 2 >= control.Top) {
      EXPECT_FALSE(Near(shot.Pixel((d.Left + d.Right) / 2, d.Top - 2), Colour));
    }
  }
  // Rips the disc with the RIP button; the cover file in the album folder.
  std::vector<std::uint8_t> RipAndReadCover() {
    std::filesystem::remove_all(dir_.File("out"));
    form_->ripBtnClick(form_);
    ProcessMessages();
    EXPECT_EQ(FilesBelow(dir_.File("out")),
              (std::vector<std::string>{"Two Words/Album Title/01 - One.flac",
                                        "Two Words/Album Title/02 - Two.flac",
                                        "Two Words/Album Title/cover.jpg"}));
    return testing::ReadAll(dir_.File("out/Two Words/Album Title/cover.jpg"));
  }

  testing::CoverServer server_;
  std::vector<std::uint8_t> red_, blue_, placeholder_;
  std::FILE* status_ = nullptr;
};

TEST_F(CoverFormTest, CoversAreFoundShownBrowsedAndSaved) {
  Answer("200 text/xml answer.xml", {"/red.jpg", "/png.jpg", "/blue.jpg"});
  OpenWindow();
  // Two words each: three spaces, each sent as "%20".
  const std::vector<std::string> requests = server_.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].rfind(
                server_.Url("/onca/xml3?KeywordSearch=Album%20Title%20Two%20Words&x=1\t"), 0),
            0u)
      << requests[0];
  EXPECT_EQ(requests.size(), 4u);  // the answer and its three large pictures
  const std::string status = StatusLines();
  EXPECT_NE(status.find("Check cover list"), std::string::npos) << status;
  EXPECT_NE(status.find("Validate cover 3 of 3"), std::string::npos) << status;
  EXPECT_NE(status.find("2 covers found !"), std::string::npos) << status;
  EXPECT_EQ(form_->sLabel4->Caption(),
            "Destination : " + dir_.File("out/") + "Two Words/Album Title/");
  ASSERT_EQ(form_->CoverSearch().CoverCount(), 3);
  EXPECT_EQ(form_->slideBtn->Caption(), "Slide 3 of 3");
  ExpectShown(kBlue, 200, 160);

  // The slide button steps on from the index it had, and wraps to the placeholder.
  struct Step {
    const char* caption;
    COLORREF colour;
    int w, h;
  } const steps[] = {{"Slide 2 of 3", kRed, 600, 300},
                     {"Slide 3 of 3", kBlue, 200, 160},
                     {"Slide 1 of 3", kGreen, 64, 64},
                     {"Slide 2 of 3", kRed, 600, 300}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.caption);
    form_->slideBtn->Click();
    EXPECT_EQ(form_->slideBtn->Caption(), s.caption);
    ExpectShown(s.colour, s.w, s.h);
  }
  // The rip saves the cover on show, byte for byte as served.
  EXPECT_EQ(RipAndReadCover(), red_);
}

// Without a service in the INI file (no "search" key, or an empty one) the search is off: not
// one request leaves, and the placeholder stays.
TEST_F(CoverFormTest, NoServiceNoRequest) {
  Answer("200 text/xml answer.xml", {"/red.jpg"});
  for (const char* key : {"", "search=\n"}) {
    SCOPED_TRACE(key);
    WriteText(dir_.File("Quorvel.ini"),
              "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server_.Port()) +
                  "\n[CONF]\nlocalCDDB=db\n" + key);
    OpenWindow();
    EXPECT_EQ(server_.Requests(), std::vector<std::string>{});
    EXPECT_EQ(form_->CoverSearch().CoverCount(), 1);
    EXPECT_EQ(form_->sLabel4->Caption(),
              "Destination : " + dir_.File("out/") + "Two Words/Album Title/");
    // Nor does the status line speak of covers, as if a search had found none.
    EXPECT_EQ(StatusLines().find("cover"), std::string::npos) << StatusLines();
    Close();
    std::fclose(status_);
    status_ = nullptr;
  }
}

// Each failure ends the search with the placeholder and "No cover was found !"; the window
// goes on and the rip saves the placeholder.
TEST_F(CoverFormTest, FailedSearchesEndWithThePlaceholder) {
  Answer("200 text/xml answer.xml", {"/blue.jpg"});
  OpenWindow();
  ASSERT_EQ(form_->CoverSearch().CoverCount(), 2);
  // A stalled picture must end by the client's read time-out.
  form_->HTTPClient1->ReadTimeout = std::chrono::milliseconds(1000);
  // A failed download is said after the lookup's line; a service that answers without a
  // picture is no failure.
  struct Case {
    const char* name;
    std::string route;
    std::vector<std::string> pictures;
    const char* after;
  } const cases[] = {
      {"not found", "404 text/html notxml.txt", {"/blue.jpg"}, ""},
      {"server error", "500 text/xml answer.xml", {"/blue.jpg"}, ""},
      {"not XML", "200 text/xml notxml.txt", {}, ""},
      {"not a picture", "200 text/xml answer.xml", {"/junk.jpg"}, ""},
      {"stalled picture",
       "200 text/xml answer.xml",
       {"/stall.jpg"},
       " - No cover was found ! (1 picture could not be downloaded: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer(c.route, c.pictures);
    const long before = long(StatusLines().size());
    form_->cddbbtn->Click();  // a new lookup searches again
    ASSERT_TRUE(Settled());
    const std::string status = StatusLines().substr(size_t(before));
    EXPECT_NE(status.find("No cover was found !"), std::string::npos) << status;
    EXPECT_EQ(status.find("covers found !"), std::string::npos) << status;
    EXPECT_EQ(status.find(" cover found !"), std::string::npos) << status;
    EXPECT_EQ(form_->CoverSearch().CoverCount(), 1);
    EXPECT_EQ(form_->slideBtn->Caption(), "Slide 1 of 1");
    ExpectShown(kGreen, 64, 64);
    // The lookup still ends as usual.
    const std::string destination = "Destination : " + dir_.File("out/") + "Two Words/Album Title/";
    if (*c.after == 0) {
      EXPECT_EQ(form_->sLabel4->Caption(), destination);
    } else {
      EXPECT_EQ(form_->sLabel4->Caption().rfind(destination + c.after, 0), 0u)
          << form_->sLabel4->Caption();
    }
    form_->slideBtn->Click();  // wraps onto itself
    EXPECT_EQ(form_->slideBtn->Caption(), "Slide 1 of 1");
    EXPECT_EQ(RipAndReadCover(), placeholder_);
  }
}

// Lookups that search nothing (no server, no local entry): the placeholder is on show, so
// that a rip saves no earlier cover, but the slide caption stays the plain "Slide" after the
// start, a removed disc, a new lookup and an arrived disc; only the slide button counts.
TEST_F(CoverFormTest, WithoutASearchThePlaceholderShowsUnderAPlainCaption) {
  WriteText(dir_.File("Quorvel.ini"), kNoServer);
  OpenWindow();
  const auto expectPlain = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(form_->slideBtn->Caption(), "Slide");
    EXPECT_EQ(form_->CoverSearch().CoverCount(), 1);
    EXPECT_EQ(form_->CoverSearch().ShownCover(), placeholder_);
    ExpectShown(kGreen, 64, 64);
  };
  expectPlain("start");
  form_->CDEvents1AfterRemove(form_, 'E');
  expectPlain("removal");
  form_->cddbbtn->Click();
  ASSERT_TRUE(Settled());
  expectPlain("lookup");
  form_->CDEvents1AfterArrival(form_, 'E');
  ASSERT_TRUE(Settled());
  expectPlain("arrival");
  EXPECT_NE(StatusLines().find("CD Inserted !\nNot Connected"), std::string::npos) << StatusLines();
  form_->slideBtn->Click();
  EXPECT_EQ(form_->slideBtn->Caption(), "Slide 1 of 1");
}

// A search the service refuses: the lookup's line keeps the reason after the destination,
// and the log has it without -debug; the window goes on with the placeholder.
TEST_F(CoverFormTest, ARefusedSearchSaysWhyAfterTheDestination) {
  // Nothing listens on port 1 of the loopback, and no proxy stands between.
  WriteText(dir_.File("Quorvel.ini"),
            "[CONF]\nlocalCDDB=db\nsearch=http://127.0.0.1:1/onca/xml3?KeywordSearch=#SEARCH#\n");
  OpenWindow();
  const std::string caption = form_->sLabel4->Caption();
  const std::string line =
      "Destination : " + dir_.File("out/") + "Two Words/Album Title/ - Cover search failed: ";
  EXPECT_EQ(caption.rfind(line, 0), 0u) << caption;
  EXPECT_GT(caption.size(), line.size()) << caption;
  ASSERT_NE(caption.find("Cover search failed: "), std::string::npos);
  const std::string reason = caption.substr(caption.find("Cover search failed: "));
  EXPECT_NE(StatusLines().find(reason), std::string::npos) << StatusLines();
  EXPECT_EQ(form_->CoverSearch().CoverCount(), 1);
  ExpectShown(kGreen, 64, 64);
  Close();
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("SearchCovers : " + reason), std::string::npos)
      << ReadText(dir_.File("Quorvel.log"));
}

// A new lookup while the search still downloads (the disc's entry changed meanwhile): the old
// search ends, the new album's search is made, and the window ends on the new album's line.
TEST_F(CoverFormTest, ALookupDuringTheSearchEndsOnTheNewAlbum) {
  Answer("200 text/xml answer.xml", {"/blue.jpg"});
  OpenWindow();
  form_->HTTPClient1->ReadTimeout = std::chrono::seconds(60);  // bounds the stall, if need be
  Answer("200 text/xml answer.xml", {"/stall.jpg"});
  bool relooked = false;
  const HWND hidden = AllocateHWnd([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER) return DefWindowProc(h, m, w, l);
    if (!form_->CoverSearch().Searching()) {
      PostMessage(h, WM_USER, 0, 0);  // not yet in the search's wait
      return 0;
    }
    const auto r =
        RunCommand(Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                   Quote(dir_.File("db")) + " rock 'Two Words' 'Other Album' 2001 One Two");
    EXPECT_EQ(r.status, 0) << r.output;
    Answer("200 text/xml answer.xml", {"/red.jpg"});
    relooked = true;
    form_->cddbbtn->Click();
    return 0;
  });
  PostMessage(hidden, WM_USER, 0, 0);
  form_->cddbbtn->Click();
  ASSERT_TRUE(Settled());
  DeallocateHWnd(hidden);
  ASSERT_TRUE(relooked);
  const std::vector<std::string> requests = server_.Requests();
  std::vector<std::string> searched;
  for (const std::string& r : requests)
    if (r.find("/onca/xml3?") != std::string::npos) searched.push_back(r.substr(0, r.find('\t')));
  ASSERT_GE(searched.size(), 3u);
  EXPECT_NE(searched.back().find("KeywordSearch=Other%20Album%20Two%20Words&"), std::string::npos)
      << searched.back();
  EXPECT_EQ(form_->sLabel4->Caption(),
            "Destination : " + dir_.File("out/") + "Two Words/Other Album/");
  ASSERT_EQ(form_->CoverSearch().CoverCount(), 2);
  ExpectShown(kRed, 600, 300);
}

// A lookup that asks the server, begun while the previous lookup's cover search waits, is not
// ended by that lookup's end: its answer is read and fills the window.
TEST_F(CoverFormTest, AServerLookupDuringTheSearchGetsItsAnswer) {
  Answer("200 text/xml answer.xml", {"/blue.jpg"});
  OpenWindow();
  form_->HTTPClient1->ReadTimeout = std::chrono::seconds(60);  // bounds the stall, if need be
  // The server's entry for the disc, made as a local one is, then taken out of the database.
  const auto made =
      RunCommand(Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                 Quote(dir_.File("made")) + " rock 'Two Words' 'Other Album' 2001 One Two");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string entry = Lines(made.output).back();  // "rock/<disc id>"
  const std::string id = entry.substr(entry.find('/') + 1);
  server_.WriteFile("query.txt", "200 rock " + id + " Two Words / Other Album\r\n");
  server_.WriteFile("read.txt", "210 rock " + id + " CD database entry follows\r\n" +
                                    ReadText(dir_.File("made/" + entry)) + ".\r\n");
  const std::string cddb =
      "/~cddb/cddb.cgi?cmd=cddb+query 200 text/plain query.txt\n"
      "/~cddb/cddb.cgi?cmd=cddb+read 200 text/plain read.txt\n";
  Answer("200 text/xml answer.xml", {"/stall.jpg"});
  bool relooked = false;
  const HWND hidden = AllocateHWnd([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER) return DefWindowProc(h, m, w, l);
    if (!form_->CoverSearch().Searching()) {
      PostMessage(h, WM_USER, 0, 0);  // not yet in the search's wait
      return 0;
    }
    std::filesystem::remove(dir_.File("db/" + entry));
    Answer("200 text/xml answer.xml", {"/red.jpg"});
    server_.SetRoutes(ReadText((server_.Root() / "routes.txt").string()) + cddb);
    relooked = true;
    form_->cddbbtn->Click();
    return 0;
  });
  PostMessage(hidden, WM_USER, 0, 0);
  form_->cddbbtn->Click();
  ASSERT_TRUE(Settled());
  DeallocateHWnd(hidden);
  ASSERT_TRUE(relooked);
  EXPECT_EQ(form_->album->Text(), "Other Album");
  EXPECT_EQ(form_->sLabel4->Caption(),
            "Destination : " + dir_.File("out/") + "Two Words/Other Album/");
  ExpectShown(kRed, 600, 300);
}

// A disc taken out while the cover search waits: the window says so, and the search's end does
// not put the old disc's destination back. A data disc put in then ends its lookup at once: its
// line is not replaced by the removal's either.
TEST_F(CoverFormTest, ADiscTakenOutDuringTheSearchStaysSaid) {
  Answer("200 text/xml answer.xml", {"/stall.jpg"});
  bool removed = false;
  const auto dataDisc = [this] {
    WriteText(dir_.File("data.bin"), std::string(2352 * 300, '\0'));
    WriteText(dir_.File("disc.cue"),
              "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  };
  const HWND hidden = AllocateHWnd([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER) return DefWindowProc(h, m, w, l);
    if (form_ == nullptr || !form_->CoverSearch().Searching()) {
      PostMessage(h, WM_USER, 0, 0);
      return 0;
    }
    form_->CDEvents1AfterRemove(form_, 'D');
    removed = true;
    return 0;
  });
  PostMessage(hidden, WM_USER, 0, 0);
  OpenWindow();
  ASSERT_TRUE(removed);
  EXPECT_EQ(form_->sLabel4->Caption(), "CD Ejected !");

  removed = false;
  const HWND inserted = AllocateHWnd([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER) return DefWindowProc(h, m, w, l);
    if (!form_->CoverSearch().Searching()) {
      PostMessage(h, WM_USER, 0, 0);
      return 0;
    }
    form_->CDEvents1AfterRemove(form_, 'D');
    dataDisc();
    form_->CDEvents1AfterArrival(form_, 'D');
    EXPECT_FALSE(form_->LookupRunning());
    removed = true;
    return 0;
  });
  PostMessage(inserted, WM_USER, 0, 0);
  form_->cddbbtn->Click();
  ASSERT_TRUE(Settled());
  DeallocateHWnd(inserted);
  DeallocateHWnd(hidden);
  ASSERT_TRUE(removed);
  EXPECT_EQ(form_->sLabel4->Caption(), "CD Inserted !");
}

// An unattended rip whose start timer ticks while the cover search still downloads waits for
// the search: it saves the cover found, not the placeholder on show meanwhile.
TEST_F(CoverFormTest, UnattendedRipWaitsForTheCoverSearch) {
  Answer("200 text/xml answer.xml", {"/blue.jpg"});
  auto backend = std::make_unique<HeadlessBackend>(
      std::vector<Monitor>{{{0, 0, 1024, 768}, {0, 0, 1024, 768}, true}});
  FakeClock* clock = backend->Clock();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  // The start timer's second passes at the first message served: inside the search's wait.
  bool ticked = false;
  const HWND hidden = AllocateHWnd([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER) return DefWindowProc(h, m, w, l);
    ticked = form_ != nullptr && form_->CoverSearch().Searching();
    clock->Advance(std::chrono::milliseconds(1100));
    return 0;
  });
  PostMessage(hidden, WM_USER, 0, 0);
  TForm1::CommandLine = {"-auto", "-format=flac", "-pathtoenc=" + dir_.File("out/")};
  TForm1::StatusEcho = nullptr;
  Application()->SetTitle("Quorvel");
  Application()->CreateForm(form_);
  EXPECT_EQ(
      PumpUntil([] { return false; }, std::chrono::steady_clock::now() + std::chrono::seconds(60)),
      PumpResult::Quit);
  DeallocateHWnd(hidden);
  EXPECT_TRUE(ticked);
  ASSERT_TRUE(form_->Session().AutoRipDone());
  EXPECT_EQ(form_->Session().AutoRipOutcome().Written, 2);
  EXPECT_EQ(testing::ReadAll(dir_.File("out/Two Words/Album Title/cover.jpg")), blue_);
}

}  // namespace
}  // namespace qv::test
