// The main window headless: its size and controls, the keys and the EXIT button that close
// it, and the choice list of several server matches.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/cd_rip.h"
#include "app/cover/advpicture.h"
#include "app/rip_session.h"
#include "app/select_album.h"
#include "cddb/cddb.h"
#include "platform/ui/headless_backend.h"
#include "tests/app/form_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"

namespace qv::test {
namespace {

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

// Several server matches with "-cddbchoice": the list shows the server's lines; Enter reads
// the highlighted one, Backspace reads none.
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

  // Backspace: nothing is read. (The entry is local now: remove it to ask the server.)
  std::filesystem::remove_all(dir_.File("db"));
  Hook::Install(form_, shown, choices, headless_, true);
  form_->cddbbtnClick(form_);
  ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
  EXPECT_EQ(choices, 2);
  EXPECT_EQ(form_->artist->Text(), "");
  EXPECT_EQ(form_->trackList->Items()[0], "Track 1");
  EXPECT_EQ(form_->sLabel4->Caption(), "unknown CD Audio");
}

}  // namespace
}  // namespace qv::test
