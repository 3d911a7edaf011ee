// The main window. Its stored form data creates every component of the ripping workflow;
// the creation handler reads the configuration and the command line and starts the first
// lookup (local database, then the CD database server with a 15-second watchdog); the
// RIP button or, unattended ("-auto"), the end of the lookup after the start timer rips the
// disc. The workflow's logic that needs no window lives in `TRipSession`; the window shows
// its data in the controls and serves the rip as its `TRipWindow`. Main thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cd_rip.h"
#include "app/cover/coversearch.h"
#include "app/html_parser.h"
#include "app/iehttp.h"
#include "app/main_tasks.h"
#include "app/my_combo_box.h"
#include "app/unused_components.h"
#include "app/xi_progress_bar.h"
#include "cddb/cddb_types.h"
#include "platform/classlib/forms.h"
#include "platform/msg/timer.h"
#include "skin/sbuttons.h"
#include "skin/spanels.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"

namespace qv {

class TAdvPicture;
class TCDEvents;
class TCDIn;
class TCddb;
class TFLACOut;
class TMP3Out;
class TOneInstance;
class TRipSession;
class TVorbisOut;
class THTTPClient;
class TselectAlbumFrm;

// The window's private message: the user (or the first match) chose an entry; WParam is the
// CD database component whose entry is to be read.
inline constexpr UINT WM_CDDBCHOICE = 0x800;
// Posted tasks from the outputs' worker threads.
inline constexpr UINT CM_FORMTASKS = 0xB310;

class TForm1 : public TForm, public TRipWindow, public ICoverSearchView {
 public:
  // The command line the creation handler reads (the program's parameters, without its
  // name); set before the window is created.
  static std::vector<std::string> CommandLine;
  // The skin the window is drawn with: the one the form stores.
  static constexpr const char* kStoredSkinName = "Ferrane (internal)";

  explicit TForm1(TComponent* owner);
  ~TForm1() override;

  // The stored components, in their creation order.
  TListBox* trackList = nullptr;
  TsButton* cddbbtn = nullptr;
  TsPanel* sPanel1 = nullptr;
  TXiProgressBar* ProgressBar1 = nullptr;
  TsButton* ripbtn = nullptr;
  TsButton* exitbtn = nullptr;
  TsPanel* sPanel2 = nullptr;
  TsLabel* sLabel1 = nullptr;
  TsLabel* sLabel2 = nullptr;
  TsLabel* sLabel3 = nullptr;
  TEdit* artist = nullptr;
  TEdit* album = nullptr;
  TsPanel* sPanel3 = nullptr;
  TsLabel* sLabel4 = nullptr;
  TsPanel* sPanel4 = nullptr;
  TAdvPicture* AdvPicture1 = nullptr;
  TsButton* slideBtn = nullptr;
  TmyComboBox* audioformatBox = nullptr;
  TmyComboBox* bitrateBox = nullptr;
  TmyComboBox* category = nullptr;
  TOneInstance* OneInstance1 = nullptr;
  TCDIn* CDIn1 = nullptr;
  TVorbisOut* VorbisOut1 = nullptr;
  TMP3Out* MP3Out1 = nullptr;
  TFLACOut* FLACOut1 = nullptr;
  TCddb* Cddb1 = nullptr;
  TTimer* TimerCDDB = nullptr;
  TXMLDocument* XML1 = nullptr;
  TsSkinProvider* sSkinProvider1 = nullptr;
  TsSkinManager* sSkinManager1 = nullptr;
  TIEHTTP* IE1 = nullptr;
  THTTPClient* HTTPClient1 = nullptr;  // the cover search's client
  TCDEvents* CDEvents1 = nullptr;
  THTMLParser* HTMLParser1 = nullptr;
  TTimer* Timer1 = nullptr;

  // Handlers.
  void FormCreate(TComponent* Sender);
  void FormDestroy(TComponent* Sender);
  void FormKeyPress(TComponent* Sender, char& Key);
  void Timer1Timer(TComponent* Sender);
  void cddbbtnClick(TComponent* Sender);
  void ripBtnClick(TComponent* Sender);
  void exitbtnClick(TComponent* Sender);
  void slideBtnClick(TComponent* Sender);
  void audioFormatBoxChange(TComponent* Sender);
  void bitrateBoxChange(TComponent* Sender);
  void ripbtnMouseEnter(TComponent* Sender);
  void ripbtnMouseLeave(TComponent* Sender);
  // Published, wired to no control: EXIT's hot colour, nothing, a lookup, a rip, a fresh
  // track list.
  void exitBtnEnter(TComponent* Sender);
  void exitBtnExit(TComponent* Sender);
  void cddbBtnEnter(TComponent* Sender);
  void cddbBtnExit(TComponent* Sender);
  void Button1Click(TComponent* Sender);
  void riptBtnClick(TComponent* Sender);
  void refreshBtnClick(TComponent* Sender);
  void CDEvents1AfterArrival(TComponent* Sender, char Drive);
  void CDEvents1AfterRemove(TComponent* Sender, char Drive);
  void TimerCDDBTimer(TComponent* Sender);
  void Cddb1Match(TComponent* Sender, const TMatchArray& Matches, int& RightOne);
  void Cddb1StatusMessage(TComponent* Sender, const std::string& Msg);
  void WMCddbChoice(TMessage& Message);
  // The application's message hook: every message passes it; nothing to do.
  void AppMessage(MSG& Msg, bool& Handled);

  // The suite's theme ("Zentha.cfg" in `Folder`) and the INI file's translated texts.
  void LoadTheme(const std::string& Folder);
  static void StyleButton(TsButton& Button);
  static void SetNormalColor(TsButton& Button, TColor Color);
  static void SetHotColor(TsButton& Button, TColor Color);
  void LoadLanguage(const std::string& IniFile);
  // A colour from decimal blue, green and red texts, written as two-digit hex each: a component
  // above 255 is not held to 255 but takes more digits and shifts the ones before it.
  [[nodiscard]] static TColor MakeColor(const std::string& B, const std::string& G,
                                        const std::string& R);
  std::string FBackgroundFile;

  void RefreshTrackList();
  void CDDBQuery();
  void ClearCovers(bool AddPlaceholder);

  // TRipWindow.
  void SelectTrackLine(int Index) override;
  void SetStatus(const std::string& Text) override;
  void SetProgress(int Position) override;
  void SetRipping(bool Ripping) override;
  [[nodiscard]] bool AbortRequested() override { return FAbort; }
  void PumpUntil(const std::function<bool()>& Done) override;
  void PostToMain(std::function<void()> Task) override;
  void SelectCddbDrive(int Index) override;
  [[nodiscard]] std::string CddbDriveName() override;
  void Close() override { TForm::Close(); }

  // ESC from outside the window (a termination signal): abort and close.
  void Abort();

  // State for the program and the tests.
  [[nodiscard]] TRipSession& Session() { return *session_; }
  [[nodiscard]] TCoverSearch& CoverSearch() { return *coverSearch_; }
  // The second copy of the program: the guard ended it before the creation handler ran.
  [[nodiscard]] bool SecondInstance() const { return secondInstance_; }
  [[nodiscard]] bool Ready() const;
  [[nodiscard]] bool LookupRunning() const { return lookupRunning_; }
  [[nodiscard]] bool ChooseAlbum() const;
  // Status lines are also written here (the program's standard output); null: not.
  static std::FILE* StatusEcho;
  // How the watchdog is armed (15000 ms; tests may shorten it).
  unsigned CddbTimeout = 15000;

  // Called with the choice list before it is shown modally (tests answer it there).
  std::function<void(TselectAlbumFrm& Choice)> OnChoiceShown;
  // Nobody can answer the choice list (no display): the first match is read.
  bool ChoiceUnattended = ChoiceUnattendedDefault;
  static bool ChoiceUnattendedDefault;

  bool FAbort = false;
  TColor FFrameColor = clNone;
  TColor FSelectedFrameColor = clNone;
  int FEscKey = 27;
  int FBackKey = 8;

 protected:
  void CMDialogKey(TMessage& Message) override;
  void WndProc(TMessage& Message) override;

 private:
  void CreateComponents();
  void ArrangeControls();
  void ApplyConfig();
  void ShowSessionData();
  void LookupFinished();
  // The entry read that was running failed with the status `Msg`: noted in the log.
  void NoteReadFailure(const std::string& Msg);
  // What the rip takes from the controls when it starts: the shown cover, the category.
  void TakeRipState();
  void RaiseSuite();
  [[nodiscard]] HWND LastActivePopup();
  // ICoverSearchView.
  [[nodiscard]] std::string LangMessage(int index) const override;
  void ShowStatus(const std::string& text) override;
  void SetSlideCaption(const std::string& caption) override;

  std::unique_ptr<TRipSession> session_;
  std::unique_ptr<TCoverSearch> coverSearch_;
  bool secondInstance_ = false;
  bool created_ = false;
  bool lookupRunning_ = false;
  bool serverLookup_ = false;  // the running lookup asked the server
  bool entryFromServer_ = false;
  bool reading_ = false;  // the running lookup is reading its entry
  // The line that stays once a cover search that was waiting returns: the newest lookup's
  // destination, or the word of a removed disc.
  std::string lookupStatus_;
  unsigned lookupSerial_ = 0;        // counts the lookups begun
  unsigned lookupStatusSerial_ = 0;  // the lookup whose line `lookupStatus_` is
  int raiseWatch_ = 0;
  HWND handle_ = 0;  // the window's handle, for the workers' posts

  TMainTasks tasks_;
};

extern TForm1* Form1;

}  // namespace qv
