// The main window headless: its size and controls, the keys and the EXIT button that close
// it, and the choice list of several server matches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <tuple>

#include "app/cd_rip.h"
#include "app/cover/advpicture.h"
#include "app/rip_session.h"
#include "app/select_album.h"
#include "cddb/cddb.h"
#include "platform/classlib/dialogs.h"
#include "platform/ui/headless_backend.h"
#include "skin/sbordermasks.h"
#include "skin/sinternalskin.h"
#include "tests/app/form_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"

namespace qv::test {
namespace {

// Contrast ratio of two colours by their relative luminance (1:1 to 21:1).
double Contrast(COLORREF a, COLORREF b) {
  const auto luminance = [](COLORREF c) {
    const auto linear = [](int v) {
      const double s = v / 255.0;
      return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(c)) + 0.7152 * linear(GetGValue(c)) +
           0.0722 * linear(GetBValue(c));
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text's own contrast in `Area`: of each pixel that differs between the window drawn with
// its texts and drawn without them, against what is there without; the strongest counts (the
// glyphs' cores, not their smoothed edges). 0 when there is no text.
double TextContrast(const Bitmap& With, const Bitmap& Without, const Rect& Area) {
  double best = 0;
  for (int y = Area.Top; y < Area.Bottom; ++y)
    for (int x = Area.Left; x < Area.Right; ++x)
      if (With.Pixel(x, y) != Without.Pixel(x, y))
        best = std::max(best, Contrast(With.Pixel(x, y), Without.Pixel(x, y)));
  return best;
}

class HeadlessFormTest : public FormTest {
 protected:
  void Start(const std::vector<std::string>& Params,
             std::vector<Monitor> Monitors = {{{0, 0, 1280, 800}, {0, 0, 1280, 800}, true}}) {
    auto backend = std::make_unique<HeadlessBackend>(std::move(Monitors));
    headless_ = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    Open(Params);
  }
  // The control's rectangle in the window's client area.
  Rect Place(TControl* Control) {
    const Point origin = form_->ScreenToClient(Control->ClientToScreen({0, 0}));
    return Bounds(origin.X, origin.Y, Control->Width(), Control->Height());
  }
  Point Centre(TControl* Control) {
    return Control->ClientToScreen({Control->Width() / 2, Control->Height() / 2});
  }
  void Key(unsigned Vk, const std::string& Text) {
    headless_->InjectKey(Vk, true, Text);
    headless_->InjectKey(Vk, false);
  }
  // Starts the window over the suite's window, which covers the screen; answers the latter.
  TForm* StartOverTheSuite(const std::vector<std::string>& Params) {
    auto backend = std::make_unique<HeadlessBackend>();
    headless_ = backend.get();
    EXPECT_TRUE(StartWindowSystem(std::move(backend)));
    auto* suite = Create<TForm>(Application());
    suite->SetCaption("Zentha");
    suite->SetBounds(0, 0, 1024, 768);
    suite->AfterConstruction();
    suite->Show();
    ProcessMessages();
    Open(Params);
    EXPECT_EQ(headless_->TopAt(Centre(form_)), form_->Handle());
    return suite;
  }
  bool Quits() {
    return PumpUntil([] { return false; }, std::chrono::steady_clock::now() +
                                               std::chrono::seconds(30)) == PumpResult::Quit;
  }

  HeadlessBackend* headless_ = nullptr;
};

TEST_F(HeadlessFormTest, EscapeClosesWhicheverBoxHasTheFocus) {
  Start({});
  form_->audioformatBox->SetFocus();
  Key(VK_ESCAPE, "\x1b");
  EXPECT_TRUE(Quits());
}

// ESC=13 in the INI file's KEYS section: Enter closes the window as ESC does (and aborts);
// Escape no longer does. (In a combo box Enter opens the list instead.)
TEST_F(HeadlessFormTest, KeysSectionMakesEnterTheClosingKey) {
  WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + "[KEYS]\nESC=13\n");
  Start({});
  form_->trackList->SetFocus();
  Key(VK_ESCAPE, "\x1b");
  ProcessMessages();
  EXPECT_FALSE(Terminated());
  EXPECT_FALSE(form_->FAbort);
  Key(VK_RETURN, "\r");
  EXPECT_TRUE(Quits());
  EXPECT_TRUE(form_->FAbort);
}

// The BACK key raises the suite's window ("Zentha") and leaves the window open: Backspace
// without a KEYS section, the key the section names with it (Escape, once ESC is another).
TEST_F(HeadlessFormTest, BackKeyRaisesTheSuiteWindow) {
  const struct {
    const char* keys;
    unsigned vk;
    const char* text;
  } cases[] = {{"", VK_BACK, "\b"}, {"[KEYS]\nESC=13\nBACK=27\n", VK_ESCAPE, "\x1b"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + c.keys);
    TForm* suite = StartOverTheSuite({});
    form_->audioformatBox->SetFocus();
    Key(c.vk, c.text);
    ProcessMessages();
    EXPECT_FALSE(Terminated());
    EXPECT_FALSE(form_->FAbort);
    EXPECT_EQ(headless_->TopAt(Centre(form_)), suite->Handle());
    Close();
  }
}

// The application's message hook is the window's: it goes with the window, so that messages
// after it never reach a freed window.
TEST_F(HeadlessFormTest, MessageHookGoesWithTheWindow) {
  Start({});
  EXPECT_TRUE(Application()->OnMessage);
  Free(form_);
  form_ = nullptr;
  EXPECT_FALSE(Application()->OnMessage);
}

// A failure while a lookup starts is reported in a message box; the log names it only with
// "-debug", and the lookup ends either way.
TEST_F(HeadlessFormTest, LookupStartFailureIsLoggedOnlyWithDebug) {
  for (const bool debug : {false, true}) {
    SCOPED_TRACE(debug ? "-debug" : "without -debug");
    Start(debug ? std::vector<std::string>{"-debug"} : std::vector<std::string>{});
    SetMessageBoxesUnattended(true);
    const auto status = form_->Cddb1->OnStatusMessage;
    form_->Cddb1->OnStatusMessage = [status](TComponent* Sender, const std::string& Msg) {
      if (Msg == "Querying CD") throw std::runtime_error("no request today");
      status(Sender, Msg);
    };
    form_->cddbbtnClick(form_);
    SetMessageBoxesUnattended(false);
    EXPECT_FALSE(form_->LookupRunning());
    const std::string log = ReadText(dir_.File("Quorvel.log"));
    EXPECT_EQ(log.find("CDDBQuery : unknown CD / CDDB Error") != std::string::npos, debug) << log;
    EXPECT_EQ(log.find("no request today") != std::string::npos, debug) << log;
    Close();
  }
}

// ESC during a long track of an unattended rip: the rip stops, the window closes, no later
// track is written and nothing is left under a final name or half-written.
TEST_F(HeadlessFormTest, EscapeDuringARipStopsIt) {
  DiscSpec spec;
  spec.AudioTracks = {{9000}, {80}};
  WriteDiscImage(spec, dir_.File("disc.cue"));
  Start({"-auto", "-format=mp3", "-pathtoenc=" + dir_.File("out/")});
  // The key goes in once the first track's progress shows, from inside the rip's own loop.
  bool pressed = false;
  auto barProc = form_->ProgressBar1->WindowProc;
  form_->ProgressBar1->WindowProc = [&, barProc](TMessage& M) {
    barProc(M);
    if (M.Msg != WM_PAINT || pressed || form_->ProgressBar1->Position() <= 0) return;
    pressed = true;
    Key(VK_ESCAPE, "\x1b");
  };
  headless_->Clock()->Advance(std::chrono::milliseconds(1100));  // the start timer
  EXPECT_TRUE(Quits());
  EXPECT_TRUE(pressed);
  ASSERT_TRUE(form_->Session().AutoRipDone());
  const TRipOutcome& outcome = form_->Session().AutoRipOutcome();
  EXPECT_TRUE(outcome.Aborted);
  EXPECT_EQ(outcome.Written, 0);
  EXPECT_EQ(outcome.ExitStatus(), 2);
  for (const std::string& file : FilesBelow(dir_.File("out")))
    EXPECT_EQ(file.find(".mp3"), std::string::npos) << file;
}

// The rip takes the category box's text as it is when the rip starts, also one the user
// chose after the lookup.
TEST_F(HeadlessFormTest, RipTakesTheCategoryBoxText) {
  Start({"-format=flac", "-pathtoenc=" + dir_.File("out/"), "-filename=%GENRE%/%TRACKNB%"});
  form_->category->SetText("Jazz");
  form_->ripBtnClick(form_);
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"Jazz/01.flac", "Jazz/02.flac"}));
  EXPECT_EQ(form_->sLabel4->Caption(), "Rip done !");
}

// The published handlers no control calls: EXIT's hot colour follows the theme's colours,
// the others run a lookup, a rip and a fresh track list.
TEST_F(HeadlessFormTest, UnwiredHandlersDoTheirWork) {
  Start({"-format=flac", "-pathtoenc=" + dir_.File("out/")});
  EXPECT_EQ(form_->exitbtn->OnMouseEnter, nullptr);
  EXPECT_EQ(form_->exitbtn->OnMouseLeave, nullptr);
  EXPECT_EQ(form_->cddbbtn->OnMouseEnter, nullptr);
  form_->FSelectedFrameColor = TColor(0x0000FF);
  form_->FFrameColor = TColor(0x00FF00);
  form_->exitBtnEnter(form_);
  EXPECT_EQ(form_->exitbtn->sStyle()->HotStyle.HotPainting.Color, TColor(0x0000FF));
  form_->exitBtnExit(form_);
  EXPECT_EQ(form_->exitbtn->sStyle()->HotStyle.HotPainting.Color, TColor(0x00FF00));
  form_->cddbBtnEnter(form_);
  form_->cddbBtnExit(form_);

  form_->trackList->Items().Clear();
  form_->refreshBtnClick(form_);
  ASSERT_EQ(form_->trackList->Items().Count(), 2);
  EXPECT_EQ(form_->trackList->Items()[1], "Track 2");

  form_->sLabel4->SetCaption("");
  form_->Button1Click(form_);
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(form_->sLabel4->Caption(), "Not Connected");

  form_->riptBtnClick(form_);
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"Unknown Artist/Unknown Album/01 - Track 1.flac",
                                      "Unknown Artist/Unknown Album/02 - Track 2.flac"}));
  EXPECT_EQ(form_->sLabel4->Caption(), "Rip done !");
}

// The program's stored skin draws the borderless window: the background between the
// controls is the skin's, the built-in masks are there, and the window keeps its rectangle.
TEST_F(HeadlessFormTest, TheStoredSkinDrawsTheWindow) {
  Start({});
  ASSERT_TRUE(SkinData.Active);
  EXPECT_EQ(form_->sSkinManager1->SkinName(), kInternalSkinName);
  TsSkinProvider& provider = *form_->sSkinProvider1;
  EXPECT_TRUE(provider.Acting());
  EXPECT_EQ(provider.SkinManager(), form_->sSkinManager1);
  // The strips keep to the bottom by alignment: no skinned scroll bars on the window.
  EXPECT_EQ(provider.VertBar(), nullptr);
  EXPECT_EQ(provider.HorzBar(), nullptr);
  // One row of the window's background above the client area, as on every skinned form.
  EXPECT_EQ(provider.ClientOrigin(), Point(0, 1));
  const Bitmap* bord6 = BuiltinImage("BORD6");
  ASSERT_NE(bord6, nullptr);
  EXPECT_EQ(Rect(0, 0, bord6->Width(), bord6->Height()), Rect(0, 0, 450, 96));
  ASSERT_NE(BuiltinImage("RCC"), nullptr);
  ProcessMessages();
  const Bitmap shot = SnapshotWindow(form_->Handle());
  const Bitmap& cache = provider.sStyle().CacheBmp.Image();
  ASSERT_EQ(cache.Width(), shot.Width());
  // Points clear of every control: the gap under the texts, and the left and right edges.
  const int below = Place(form_->sPanel2).Bottom + 4;
  for (const Point p : {Point(4, below), Point(2, 300), Point(shot.Width() - 3, 300)}) {
    EXPECT_EQ(form_->ControlAtPos(p, true), nullptr) << p.X << "," << p.Y;
    EXPECT_EQ(shot.Pixel(p.X, p.Y), cache.Pixel(p.X, p.Y)) << p.X << "," << p.Y;
    EXPECT_NE(shot.Pixel(p.X, p.Y), ColorToRGB(clBtnFace)) << p.X << "," << p.Y;
  }
  Region region;
  EXPECT_EQ(GetWindowRgn(form_->Handle(), region), NULLREGION);
}

// With the stored skin and no theme, every text of an enabled control stands out from what is
// behind it by at least 4.5:1, and the grey text of the idle (disabled) track list's selected
// row by at least 3:1.
TEST_F(HeadlessFormTest, TextsAreLegibleWithTheStoredSkin) {
  Start({"-format=mp3"});
  ASSERT_FALSE(form_->trackList->Enabled());
  ASSERT_EQ(form_->trackList->ItemIndex(), 0);
  form_->category->SetText("Rock");
  form_->artist->SetText("Some Artist");
  form_->album->SetText("Some Album");
  ProcessMessages();
  const Bitmap with = SnapshotWindow(form_->Handle());
  struct Text {
    TControl* control;
    std::function<void()> clear;
    double least;
  };
  const auto caption = [](TControl* c) { return [c] { c->SetCaption(""); }; };
  const auto text = [](TControl* c) { return [c] { c->SetText(""); }; };
  const auto combo = [](TComboBox* c) {
    return [c] {
      c->SetItemIndex(-1);
      c->SetText("");
    };
  };
  TListBox* list = form_->trackList;
  const std::vector<Text> texts = {
      {form_->cddbbtn, caption(form_->cddbbtn), 4.5},
      {form_->ripbtn, caption(form_->ripbtn), 4.5},
      {form_->exitbtn, caption(form_->exitbtn), 4.5},
      {form_->slideBtn, caption(form_->slideBtn), 4.5},
      {form_->sLabel1, caption(form_->sLabel1), 4.5},
      {form_->sLabel2, caption(form_->sLabel2), 4.5},
      {form_->sLabel3, caption(form_->sLabel3), 4.5},
      {form_->sLabel4, caption(form_->sLabel4), 4.5},
      {form_->artist, text(form_->artist), 4.5},
      {form_->album, text(form_->album), 4.5},
      {form_->category, combo(form_->category), 4.5},
      {form_->audioformatBox, combo(form_->audioformatBox), 4.5},
      {form_->bitrateBox, combo(form_->bitrateBox), 4.5},
      // Only the selected row: the texts were kept, blanked, with the selection where it was.
      {list,
       [list] {
         const int n = list->Items().Count();
         list->Items().Clear();
         for (int i = 0; i < n; ++i) list->Items().Add("");
         list->SetItemIndex(0);
       },
       3.0},
  };
  for (const Text& t : texts) t.clear();
  ProcessMessages();
  const Bitmap without = SnapshotWindow(form_->Handle());
  for (const Text& t : texts) {
    SCOPED_TRACE(t.control->Name());
    ASSERT_TRUE(t.control->Enabled() || t.control == list);
    Rect area = Place(t.control);
    if (t.control == list) area.Bottom = area.Top + list->ItemHeight();
    EXPECT_GE(TextContrast(with, without, area), t.least);
  }
  // Nor does marking the selection cost its grey text anything against the rows beside it
  // (grey on the dark highlight passes 3:1 by the formula, yet reads worse than on the list).
  const Rect selected = Place(list);
  const Rect next = selected.Offset(0, list->ItemHeight());
  EXPECT_GE(TextContrast(
                with, without,
                {selected.Left, selected.Top, selected.Right, selected.Top + list->ItemHeight()}),
            TextContrast(with, without,
                         {next.Left, next.Top, next.Right, next.Top + list->ItemHeight()}));
}

// The suite's theme and the INI file's LANGUAGE section: red button faces, the selected
// colour under the pointer, translated captions and the translated end of a rip.
TEST_F(HeadlessFormTest, ThemeAndLanguageFromTheSuiteFolder) {
  std::filesystem::create_directories(dir_.File("suite"));
  WriteText(dir_.File("suite/Zentha.cfg"),
            "<Zentha><Display><DefaultTheme>"
            "<CaptionFont Name='DejaVu Sans' Size='9x'/>"
            "<MainMenuFont Name='DejaVu Serif' Size='30'><FontColor R='0' G='128' B='255'/>"
            "</MainMenuFont>"
            "<FrameColor R='255' G='0' B='0'/><SelectedFrameColor R='0' G='255' B='0'/>"
            "</DefaultTheme></Display></Zentha>");
  WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) +
                                          "[CONF]\nZentha=" + dir_.File("suite") +
                                          "\n[LANGUAGE]\nRIP=\nEXIT=Quitter\nAlbum=\n"
                                          "Not Connected=Hors ligne\nRip done !=Fini\n");
  Start({"-format=flac", "-pathtoenc=" + dir_.File("out/")});
  EXPECT_EQ(form_->FFrameColor, TColor(0x0000FF));  // pure red
  EXPECT_EQ(form_->FSelectedFrameColor, TColor(0x00FF00));
  EXPECT_EQ(form_->Font().Size(), 8);  // "9x" is no number: the size stays
  TsActiveBGStyle& style = *form_->ripbtn->sStyle();
  EXPECT_EQ(style.Painting.Color(), TColor(0x0000FF));
  EXPECT_EQ(style.GetPaintingColor(), TColor(0x0000FF));
  EXPECT_EQ(form_->ripbtn->Font().Color(), TColor(0xFF8000));
  EXPECT_EQ(form_->sLabel4->Font().Size(), 18);
  EXPECT_EQ(form_->Font().Name(), "DejaVu Sans");
  EXPECT_EQ(form_->FBackgroundFile, dir_.File("suite") + "/images/background.jpg");
  EXPECT_EQ(form_->ripbtn->Caption(), "RIP");
  EXPECT_EQ(form_->exitbtn->Caption(), "Quitter");
  // A missing key gives the default caption; a key given empty keeps the stored one.
  EXPECT_EQ(form_->sLabel1->Caption(), "Artist");
  EXPECT_EQ(form_->sLabel2->Caption(), "Album :");
  EXPECT_EQ(form_->slideBtn->Caption(), "Slide");
  EXPECT_EQ(form_->sLabel4->Caption(), "Hors ligne");

  // The face is drawn in the frame colour over its grey gradient, half see-through to the
  // skin's faintly blue window background: far redder than it is green or blue (the corner
  // is clear of the caption).
  ASSERT_TRUE(Pump([&] { return !style.BGChanged; }));
  const COLORREF mid = style.BGBitmap.Image().Pixel(1, 1);
  EXPECT_GT(GetRValue(mid), GetGValue(mid) + 20) << std::hex << mid;
  EXPECT_GT(GetRValue(mid), GetBValue(mid) + 20) << std::hex << mid;
  EXPECT_GE(GetBValue(mid), GetGValue(mid)) << std::hex << mid;
  EXPECT_LE(GetBValue(mid) - GetGValue(mid), 8) << std::hex << mid;
  // Under the pointer the button takes the selected colour, and gives it back on leaving.
  headless_->InjectMouseMove(Centre(form_->ripbtn));
  ASSERT_TRUE(Pump([&] { return style.MouseIn; }));
  EXPECT_EQ(style.GetPaintingColor(), TColor(0x00FF00));
  headless_->InjectMouseMove(Centre(form_->exitbtn));
  ASSERT_TRUE(Pump([&] { return !style.MouseIn; }));
  EXPECT_EQ(style.GetPaintingColor(), TColor(0x0000FF));

  form_->ripBtnClick(form_);
  EXPECT_EQ(form_->sLabel4->Caption(), "Fini");

  // A background file that is no picture is offered to the skin and changes nothing: the rest
  // of the start-up still runs (the window takes the monitor, the boxes are filled, the disc
  // is looked up).
  Close();
  const std::string background = dir_.File("suite") + "/images/background.jpg";
  std::filesystem::create_directories(dir_.File("suite/images"));
  WriteText(background, "picture");
  Start({"-format=ogg"});
  EXPECT_EQ(form_->FBackgroundFile, background);
  EXPECT_TRUE(form_->Showing());
  EXPECT_EQ(form_->Width(), 1280);
  EXPECT_EQ(form_->audioformatBox->ItemIndex(), 1);
  EXPECT_GT(form_->bitrateBox->Items().Count(), 0);
  EXPECT_EQ(form_->sLabel4->Caption(), "Hors ligne");
}

// The suite's colours go through "$00BBGGRR" text: a component above 255 takes more digits
// and shifts the others; a text that no longer fits a colour is refused.
TEST(MakeColorTest, ComponentsBecomeHexDigitsInBlueGreenRedOrder) {
  struct Case {
    const char *b, *g, *r;
    TColor color;
  } const cases[] = {
      {"0", "0", "255", TColor(0x0000FF)},  {"255", "0", "0", TColor(0xFF0000)},
      {"1", "2", "3", TColor(0x010203)},    {"0", "0", "999", TColor(0x0003E7)},
      {"1", "300", "2", TColor(0x0112C02)}, {"0", "0", "-1", TColor(-1)},
      {" 16 ", "0", "0", TColor(0x100000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.b) + "," + c.g + "," + c.r);
    EXPECT_EQ(TForm1::MakeColor(c.b, c.g, c.r), c.color);
  }
  for (const auto& [b, g, r] :
       {std::tuple{"x", "0", "0"}, std::tuple{"-1", "0", "0"}, std::tuple{"0", "65536", "65536"}}) {
    SCOPED_TRACE(std::string(b) + "," + g + "," + r);
    EXPECT_THROW((void)TForm1::MakeColor(b, g, r), Exception);
  }
}

// The CDDB button pressed while the server is still asked drops that request and asks again;
// the dropped request's late end does not end the new lookup, which gets the server's entry.
TEST_F(HeadlessFormTest, CddbButtonDuringALookupGetsItsOwnAnswer) {
  const auto made = RunCommand(Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                               Quote(dir_.File("server")) + " rock 'Band Name' Live 1999 One Two");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string id = Lines(made.output).back().substr(Lines(made.output).back().find('/') + 1);
  std::filesystem::create_directories(dir_.File("server/_control"));
  WriteText(dir_.File("server/_control/query." + id), "slow 2\n");
  testing::CddbFixtureServer server(
      std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", dir_.File("server"),
      dir_.File("requests.log"));
  WriteText(dir_.File("Quorvel.ini"),
            "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server.port()) +
                "\n[CONF]\nlocalCDDB=db\n");
  auto backend = std::make_unique<HeadlessBackend>();
  headless_ = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  TForm1::CommandLine = {};
  TForm1::StatusEcho = nullptr;
  Application()->SetTitle("Quorvel");
  Application()->CreateForm(form_);
  // The creation handler's query is on its way: the button asks again.
  ASSERT_TRUE(Pump([this] { return !Lines(ReadText(dir_.File("requests.log"))).empty(); }));
  ASSERT_TRUE(form_->LookupRunning());
  form_->cddbbtn->Click();
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(form_->sLabel4->Caption().find("Not Connected"), std::string::npos);
  EXPECT_EQ(form_->artist->Text(), "Band Name");
  EXPECT_EQ(form_->trackList->Items()[0], "One");
  EXPECT_TRUE(form_->Ready());
  const auto requests = Lines(ReadText(dir_.File("requests.log")));
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[2].find("cmd=cddb+read+rock+" + id), std::string::npos) << requests[2];
}

// Several server matches with "-cddbchoice": the list shows the server's lines; Enter and
// Backspace both close it, and either way the highlighted line is read.
TEST_F(HeadlessFormTest, ChoiceListPicksAmongSeveralMatches) {
  const std::string entry = std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry";
  for (const char* args : {"misc 'First Artist' 'First Album'", "rock 'Second Artist' 'Second'"})
    ASSERT_EQ(
        RunCommand(Quote(entry) + " " + Quote(dir_.File("server")) + " " + args + " 1999 One Two")
            .status,
        0);
  testing::CddbFixtureServer server(
      std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", dir_.File("server"));
  WriteText(dir_.File("Quorvel.ini"),
            "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server.port()) +
                "\n[CONF]\nlocalCDDB=db\nsearch=http://127.0.0.1:" + std::to_string(server.port()) +
                "/none?#SEARCH#\n");
  auto backend = std::make_unique<HeadlessBackend>();
  headless_ = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  std::vector<std::string> shown;
  int choices = 0;
  TForm1::CommandLine = {"-cddbchoice"};
  Application()->SetTitle("Quorvel");
  // The handler is set before the lookup of the creation handler needs it.
  struct Hook {
    static void Install(TForm1* Form, std::vector<std::string>& Shown, int& Choices,
                        HeadlessBackend* Headless, bool Cancel) {
      Form->OnChoiceShown = [Form, &Shown, &Choices, Headless, Cancel](TselectAlbumFrm& Choice) {
        ++Choices;
        Shown.clear();
        for (int i = 0; i < Choice.ListBox1->Items().Count(); ++i)
          Shown.push_back(Choice.ListBox1->Items()[i]);
        // Once the list is up: the user moves down and answers.
        Form->PostToMain([Headless, Cancel] {
          Headless->InjectKey(VK_DOWN, true);
          Headless->InjectKey(VK_DOWN, false);
          const unsigned key = Cancel ? VK_BACK : VK_RETURN;
          Headless->InjectKey(key, true, Cancel ? "\b" : "\r");
          Headless->InjectKey(key, false);
        });
      };
    }
  };
  // The creation handler's own lookup reads the first match unasked (and stores it); the
  // CDDB button then asks the server again, with the list.
  TForm1::ChoiceUnattendedDefault = true;
  Application()->CreateForm(form_);
  TForm1::ChoiceUnattendedDefault = false;
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(form_->artist->Text(), "First Artist");
  std::filesystem::remove_all(dir_.File("db"));
  form_->ChoiceUnattended = false;
  Hook::Install(form_, shown, choices, headless_, false);
  form_->cddbbtnClick(form_);
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(choices, 1);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].rfind("misc ", 0), 0u) << shown[0];
  EXPECT_NE(shown[0].find("First Artist / First Album"), std::string::npos) << shown[0];
  EXPECT_EQ(shown[1].rfind("rock ", 0), 0u) << shown[1];
  EXPECT_EQ(form_->artist->Text(), "Second Artist");
  EXPECT_EQ(form_->trackList->Items()[0], "One");

  // Backspace reads the highlighted line as well. (The entry is local now: remove it to ask
  // the server; the first lookup's entry is read again first, to tell the two apart.)
  std::filesystem::remove_all(dir_.File("db"));
  form_->ChoiceUnattended = true;
  form_->cddbbtnClick(form_);
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  ASSERT_EQ(form_->artist->Text(), "First Artist");
  std::filesystem::remove_all(dir_.File("db"));
  form_->ChoiceUnattended = false;
  Hook::Install(form_, shown, choices, headless_, true);
  form_->cddbbtnClick(form_);
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(choices, 2);
  EXPECT_EQ(form_->artist->Text(), "Second Artist");
  EXPECT_EQ(form_->trackList->Items()[0], "One");
  EXPECT_TRUE(form_->Ready());
}

// A disc put in while the "-cddbchoice" list is shown: the list closes as cancelled, nothing is
// read for its lookup, and the new disc's lookup shows its own list and reads the line chosen.
TEST_F(HeadlessFormTest, ADiscArrivingDuringTheChoiceListStartsItsOwnLookup) {
  const std::string entry = std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry";
  for (const char* args : {"misc 'First Artist' 'First Album'", "rock 'Second Artist' 'Second'"})
    ASSERT_EQ(
        RunCommand(Quote(entry) + " " + Quote(dir_.File("server")) + " " + args + " 1999 One Two")
            .status,
        0);
  testing::CddbFixtureServer server(
      std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", dir_.File("server"),
      dir_.File("requests.log"));
  WriteText(dir_.File("Quorvel.ini"),
            "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server.port()) +
                "\n[CONF]\nlocalCDDB=db\n");
  auto backend = std::make_unique<HeadlessBackend>();
  headless_ = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  TForm1::CommandLine = {"-cddbchoice"};
  TForm1::StatusEcho = nullptr;
  Application()->SetTitle("Quorvel");
  TForm1::ChoiceUnattendedDefault = true;
  Application()->CreateForm(form_);
  TForm1::ChoiceUnattendedDefault = false;
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  std::filesystem::remove_all(dir_.File("db"));
  form_->ChoiceUnattended = false;
  int choices = 0;
  form_->OnChoiceShown = [this, &choices](TselectAlbumFrm&) {
    if (++choices == 1) {
      // The first list is up: a disc arrives.
      form_->PostToMain([this] { form_->CDEvents1AfterArrival(form_, 'D'); });
      return;
    }
    form_->PostToMain([this] {
      headless_->InjectKey(VK_DOWN, true);
      headless_->InjectKey(VK_DOWN, false);
      headless_->InjectKey(VK_RETURN, true, "\r");
      headless_->InjectKey(VK_RETURN, false);
    });
  };
  std::vector<std::string> raised;
  Application()->OnException = [&raised](TComponent*, const std::exception& E) {
    raised.push_back(E.what());
  };
  const std::size_t before = Lines(ReadText(dir_.File("requests.log"))).size();
  EXPECT_NO_THROW(form_->cddbbtnClick(form_));
  ASSERT_TRUE(Pump([this, &choices] { return choices >= 2 && !form_->LookupRunning(); }));
  ProcessMessages();
  EXPECT_EQ(raised, std::vector<std::string>{});
  EXPECT_EQ(choices, 2);
  EXPECT_EQ(form_->artist->Text(), "Second Artist");
  EXPECT_EQ(form_->trackList->Items()[0], "One");
  EXPECT_TRUE(form_->Ready());
  // Two queries and one read: nothing was read for the first list.
  auto requests = Lines(ReadText(dir_.File("requests.log")));
  requests.erase(requests.begin(), requests.begin() + std::ptrdiff_t(before));
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[0].find("cmd=cddb+query"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find("cmd=cddb+query"), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("cmd=cddb+read+rock"), std::string::npos) << requests[2];
}

}  // namespace
}  // namespace qv::test
