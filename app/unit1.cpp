#include "app/unit1.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>

#include "app/cd_events.h"
#include "app/cover/advpicture.h"
#include "app/one_instance.h"
#include "app/rip_session.h"
#include "app/select_album.h"
#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"
#include "cddb/cddb.h"
#include "platform/base/inifile.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/cdrom/media_watcher.h"
#include "platform/classlib/dialogs.h"
#include "platform/msg/fd_watch.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/services/xml_dom.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/sinternalskin.h"

namespace qv {

TForm1* Form1 = nullptr;
std::vector<std::string> TForm1::CommandLine;
std::FILE* TForm1::StatusEcho = nullptr;
bool TForm1::ChoiceUnattendedDefault = false;

// The program's own resources, once per run before the first window: the built-in border
// masks and check glyphs the skinned controls fall back on.
static void LoadProgramResources() {
  static const bool loaded = [] {
    for (const std::string& name : BuiltinBitmapNames())
      RegisterBuiltinImage(name, LoadBuiltinBitmap(name));
    return true;
  }();
  (void)loaded;
}

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  LoadProgramResources();
  ReadFormData(this, [this] { CreateComponents(); });
}

TForm1::~TForm1() {
  // The creation handler's counterpart runs while the components still exist.
  if (session_) {
    try {
      FormDestroy(this);
    } catch (...) {
      Application()->HandleException(std::current_exception());
    }
  }
  if (raiseWatch_ != 0) UnwatchFd(WatchId(raiseWatch_));
  coverSearch_.reset();
  // The outputs' workers go with the session, before the window they post to.
  session_.reset();
  if (Form1 == this) Form1 = nullptr;
}

// The stored form data, in its creation order.
void TForm1::CreateComponents() {
  SetName("Form1");
  SetCaption("Quorvel");
  SetClientSize(790, 560);
  SetBorderStyle(TFormBorderStyle::bsNone);
  SetBorderIcons(0);
  SetPosition(TPosition::poScreenCenter);
  SetKeyPreview(true);
  SetTag(1);
  SetVisibleFlag(true);  // shown once the creation handler has run
  Font().SetName("MS Sans Serif");
  Font().SetHeight(-11);
  OnKeyPress = [this](TComponent* Sender, char& Key) { FormKeyPress(Sender, Key); };
  OnCreate = [this](TComponent* Sender) { FormCreate(Sender); };
  // OnDestroy: `FormDestroy` runs from the destructor, while the components still exist.

  trackList = Create<TListBox>(this);
  trackList->SetName("trackList");
  trackList->SetParent(this);
  trackList->SetEnabled(false);
  trackList->SetBorderStyle(TBorderStyle::bsNone);
  trackList->SetTabStop(false);

  cddbbtn = Create<TsButton>(this);
  cddbbtn->SetName("cddbbtn");
  cddbbtn->SetParent(this);
  cddbbtn->SetCaption("CDDB");
  cddbbtn->SetTabStop(true);
  cddbbtn->OnClick = [this](TComponent* Sender) { cddbbtnClick(Sender); };

  sPanel1 = Create<TsPanel>(this);
  sPanel1->SetName("sPanel1");
  sPanel1->SetParent(this);
  sPanel1->SetAlign(TAlign::alBottom);
  sPanel1->SetHeight(41);

  ProgressBar1 = Create<TXiProgressBar>(this);
  ProgressBar1->SetName("ProgressBar1");
  ProgressBar1->SetParent(sPanel1);
  ProgressBar1->SetAlign(TAlign::alClient);
  ProgressBar1->SetColorScheme(TColorScheme::csSun);
  ProgressBar1->SetMin(0);
  ProgressBar1->SetMax(100);
  ProgressBar1->SetStep(10);
  ProgressBar1->SetOrientation(TProgressBarOrientation::pbHorizontal);

  ripbtn = Create<TsButton>(this);
  ripbtn->SetName("ripbtn");
  ripbtn->SetParent(this);
  ripbtn->SetCaption("RIP");
  ripbtn->SetTabStop(true);
  ripbtn->OnClick = [this](TComponent* Sender) { ripBtnClick(Sender); };
  ripbtn->OnMouseEnter = [this](TComponent* Sender) { ripbtnMouseEnter(Sender); };
  ripbtn->OnMouseLeave = [this](TComponent* Sender) { ripbtnMouseLeave(Sender); };

  exitbtn = Create<TsButton>(this);
  exitbtn->SetName("exitbtn");
  exitbtn->SetParent(this);
  exitbtn->SetCaption("EXIT");
  exitbtn->SetTabStop(true);
  exitbtn->OnClick = [this](TComponent* Sender) { exitbtnClick(Sender); };

  sPanel2 = Create<TsPanel>(this);
  sPanel2->SetName("sPanel2");
  sPanel2->SetParent(this);
  const auto label = [this](TsLabel*& Field, const char* Name, const char* Caption) {
    Field = Create<TsLabel>(this);
    Field->SetName(Name);
    Field->SetParent(sPanel2);
    Field->SetCaption(Caption);
  };
  label(sLabel1, "sLabel1", "Artist :");
  label(sLabel2, "sLabel2", "Album :");
  label(sLabel3, "sLabel3", "Category :");
  const auto edit = [this](TEdit*& Field, const char* Name) {
    Field = Create<TEdit>(this);
    Field->SetName(Name);
    Field->SetParent(sPanel2);
    Field->SetReadOnly(true);
    Field->SetTabStop(false);
  };
  edit(artist, "artist");
  edit(album, "album");

  sPanel3 = Create<TsPanel>(this);
  sPanel3->SetName("sPanel3");
  sPanel3->SetParent(this);
  sPanel3->SetAlign(TAlign::alBottom);  // above sPanel1
  sPanel3->SetHeight(60);
  sLabel4 = Create<TsLabel>(this);
  sLabel4->SetName("sLabel4");
  sLabel4->SetParent(sPanel3);
  sLabel4->SetAlign(TAlign::alClient);
  sLabel4->SetAlignment(TAlignment::taCenter);
  sLabel4->SetLayout(TTextLayout::tlCenter);
  sLabel4->SetWordWrap(true);
  sLabel4->SetParentFont(false);
  sLabel4->Font().SetName("MS Sans Serif");
  sLabel4->Font().SetHeight(-19);
  sLabel4->SetCaption("Quorvel v0.8.0.3");

  sPanel4 = Create<TsPanel>(this);
  sPanel4->SetName("sPanel4");
  sPanel4->SetParent(this);
  AdvPicture1 = Create<TAdvPicture>(this);
  AdvPicture1->SetName("AdvPicture1");
  AdvPicture1->SetParent(sPanel4);
  AdvPicture1->SetAlign(TAlign::alClient);
  AdvPicture1->SetPicturePosition(bpCenter);
  AdvPicture1->SetStretchMode(smShrink);
  AdvPicture1->SetAnimate(false);

  slideBtn = Create<TsButton>(this);
  slideBtn->SetName("slideBtn");
  slideBtn->SetParent(this);
  slideBtn->SetCaption("Slide");
  slideBtn->SetTabStop(true);
  slideBtn->OnClick = [this](TComponent* Sender) { slideBtnClick(Sender); };

  audioformatBox = Create<TmyComboBox>(this);
  audioformatBox->SetName("audioformatBox");
  audioformatBox->SetParent(this);
  audioformatBox->SetTabStop(true);
  for (const std::string& item : FormatItems()) audioformatBox->Items().Add(item);
  audioformatBox->OnChange = [this](TComponent* Sender) { audioFormatBoxChange(Sender); };

  bitrateBox = Create<TmyComboBox>(this);
  bitrateBox->SetName("bitrateBox");
  bitrateBox->SetParent(this);
  bitrateBox->SetTabStop(true);
  bitrateBox->OnChange = [this](TComponent* Sender) { bitrateBoxChange(Sender); };

  category = Create<TmyComboBox>(this);
  category->SetName("category");
  category->SetParent(sPanel2);
  category->SetTabStop(true);

  OneInstance1 = Create<TOneInstance>(this);
  OneInstance1->SetName("OneInstance1");
  OneInstance1->BeginLoading();  // its Loaded decides, once the form data is in
  OneInstance1->InformUser = false;
  OneInstance1->RaisePriorInstance = true;
  OneInstance1->ApplicationTitle = [] { return Application()->Title(); };
  OneInstance1->TerminateApplication = [this] {
    secondInstance_ = true;
    Application()->Terminate();
  };
  OneInstance1->ShowWarning = [](const std::string& Text) {
    (void)MessageBox(Text, "Warning", MB_OK | MB_ICONWARNING);
  };

  // The CD input and the three outputs, with the logic that drives them.
  session_ = std::make_unique<TRipSession>(*this);
  CDIn1 = session_->CDIn1;
  VorbisOut1 = session_->VorbisOut1;
  MP3Out1 = session_->MP3Out1;
  FLACOut1 = session_->FLACOut1;

  Cddb1 = Create<TCddb>(this);
  Cddb1->SetName("Cddb1");
  Cddb1->LocalCDDBPath = ".\\CDDB\\";
  Cddb1->ServerType = TServerType::HTTP;
  Cddb1->ServerAdditionalAddr = "/~cddb/cddb.cgi";
  Cddb1->ServerPort = "80";
  Cddb1->ClientName = "Quorvel";
  Cddb1->ClientVersion = "v0.1";
  Cddb1->OnStatusMessage = [this](TComponent* Sender, const std::string& Msg) {
    Cddb1StatusMessage(Sender, Msg);
  };
  Cddb1->OnMatch = [this](TComponent* Sender, const TMatchArray& Matches, int& RightOne) {
    Cddb1Match(Sender, Matches, RightOne);
  };

  TimerCDDB = Create<TTimer>(this);
  TimerCDDB->SetName("TimerCDDB");
  TimerCDDB->SetEnabled(false);
  TimerCDDB->SetInterval(15000);
  TimerCDDB->OnTimer = [this](TComponent* Sender) { TimerCDDBTimer(Sender); };

  XML1 = Create<TXMLDocument>(this);
  XML1->SetName("XML1");
  // The window draws its own borderless frame from the skin: no caption buttons, no icon,
  // no skin list in a system menu.
  sSkinProvider1 = Create<TsSkinProvider>(this);
  sSkinProvider1->SetName("sSkinProvider1");
  sSkinProvider1->BeginLoading();  // takes the window over once the form data is in
  sSkinProvider1->SetBorderIcons(0);
  sSkinProvider1->MakeSkinMenu = false;
  sSkinProvider1->SetShowAppIcon(false);
  sSkinManager1 = Create<TsSkinManager>(this);
  sSkinManager1->SetName("sSkinManager1");
  AddInternalSkin(sSkinManager1->InternalSkins());
  sSkinManager1->SetSkinName(kStoredSkinName);
  for (TsButton* b : {cddbbtn, ripbtn, exitbtn, slideBtn}) StyleButton(*b);
  IE1 = Create<TIEHTTP>(this);
  IE1->SetName("IE1");
  IE1->SetRequestMethod("GET");

  coverSearch_ = std::make_unique<TCoverSearch>(*this, *AdvPicture1);
  HTTPClient1 = &coverSearch_->HTTPClient();
  HTTPClient1->ContentType = "text/html";
  HTTPClient1->Accept = "text/html, */*";

  CDEvents1 = Create<TCDEvents>(this);
  CDEvents1->SetName("CDEvents1");
  CDEvents1->Options().SetAutoRun(false);
  CDEvents1->AfterArrival = [this](TComponent* Sender, char Drive) {
    CDEvents1AfterArrival(Sender, Drive);
  };
  CDEvents1->AfterRemove = [this](TComponent* Sender, char Drive) {
    CDEvents1AfterRemove(Sender, Drive);
  };

  HTMLParser1 = Create<THTMLParser>(this);
  HTMLParser1->SetName("HTMLParser1");

  Timer1 = Create<TTimer>(this);
  Timer1->SetName("Timer1");
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this](TComponent* Sender) { Timer1Timer(Sender); };
  Timer1->SetEnabled(true);

  SetActiveControl(cddbbtn);
  ArrangeControls();
}

// The stored layout is 790 x 560; the window fills a monitor, so the controls follow its
// size: the status and progress strips keep to the bottom by their alignment (so the skin's
// form scroll bars never count them), the disc's texts and tracks are on the left, the
// cover, the buttons and the format boxes on the right.
void TForm1::ArrangeControls() {
  const int W = std::max(ClientWidth(), 400);
  const int H = std::max(ClientHeight(), 300);
  const int gap = 8;
  const int bottom = H - 101 - gap;
  const int left = std::max(W * 45 / 100, 300);
  sPanel2->SetBounds(gap, gap, left - gap, 100);
  const int editX = 90;
  const int editW = std::max(sPanel2->Width() - editX - gap, 40);
  sLabel1->SetBounds(gap, 12, editX - gap, 20);
  artist->SetBounds(editX, 10, editW, 22);
  sLabel2->SetBounds(gap, 42, editX - gap, 20);
  album->SetBounds(editX, 40, editW, 22);
  sLabel3->SetBounds(gap, 72, editX - gap, 20);
  category->SetBounds(editX, 70, editW, 22);
  trackList->SetBounds(gap, 100 + 2 * gap, left - gap, std::max(bottom - 100 - 2 * gap, 20));
  const int rightX = left + gap;
  const int rightW = W - rightX - gap;
  const int rowH = 32;
  const int buttonsY = bottom - rowH;
  const int pictureH = std::max(buttonsY - 2 * gap - rowH - gap, 20);
  sPanel4->SetBounds(rightX, gap, rightW, pictureH);
  slideBtn->SetBounds(rightX, gap + pictureH + gap, 100, rowH);
  const int bw = std::max((rightW - 4 * gap) / 5, 40);
  cddbbtn->SetBounds(rightX, buttonsY, bw, rowH);
  ripbtn->SetBounds(rightX + (bw + gap), buttonsY, bw, rowH);
  audioformatBox->SetBounds(rightX + 2 * (bw + gap), buttonsY + 5, bw, 22);
  bitrateBox->SetBounds(rightX + 3 * (bw + gap), buttonsY + 5, bw, 22);
  exitbtn->SetBounds(rightX + 4 * (bw + gap), buttonsY, bw, rowH);
}

bool TForm1::Ready() const {
  return session_->FReady;
}

bool TForm1::ChooseAlbum() const {
  return session_->Options.FChooseAlbum;
}

void TForm1::FormCreate(TComponent*) {
  // A second copy ends here, before it touches the first one's log, database or drive.
  if (secondInstance_) {
    SetVisibleFlag(false);
    return;
  }
  Form1 = this;
  handle_ = Handle();  // the workers post to it
  if (OneInstance1->ListenFd() >= 0) {
    raiseWatch_ = int(WatchFd(OneInstance1->ListenFd(), POLLIN,
                              [this](int, short) { OneInstance1->ServeRaiseRequests(); }));
    OneInstance1->OnRaiseRequest = [this] {
      session_->Log.WriteLog("OneInstance : another copy asked to raise the window");
      if (HandleAllocated()) TOneInstance::BringToFront(Handle(), LastActivePopup());
    };
  }
  TRipSession& s = *session_;
  s.LogCreateFinished = false;
  try {
    s.Start(CommandLine);
  } catch (...) {
    // An unattended run must end even when its start-up failed.
    for (const std::string& p : CommandLine)
      if (SameText(p.substr(0, p.find('=')), "-auto")) Close();
    throw;
  }
  ApplyConfig();
  if (s.Options.FAutoRip) SetMessageBoxesUnattended(true);
  audioformatBox->SetItemIndex(s.Options.FormatIndex);
  bitrateBox->Items().Clear();
  for (const std::string& item : BitrateItems(s.Options.FormatIndex)) bitrateBox->Items().Add(item);
  bitrateBox->SetItemIndex(
      BitrateItemByText(s.Options.FormatIndex, MP3Out1->BitRate, VorbisOut1->Compression));
  created_ = true;
  ShowSessionData();
  ClearCovers(true);
  // Disc arrivals and removals in any drive, watched from before the first lookup reads the
  // disc: one taken out while that lookup waits for its server is seen.
  CDEvents1->WatchMedia(nullptr, {}, [this](const std::string& Text) { session_->Warn(Text); });
  CDDBQuery();
  s.Log.WriteLog("FormCreate finished");
  Application()->OnMessage = [this](MSG& Msg, bool& Handled) { AppMessage(Msg, Handled); };
}

void TForm1::AppMessage(MSG&, bool&) {}

void TForm1::ApplyConfig() {
  const TRipConfig& c = session_->Config;
  Cddb1->SetProxyAddress(c.Proxy.ProxyIP);
  Cddb1->SetProxyPort(c.Proxy.ProxyPort);
  Cddb1->SetProxyUsername(c.Proxy.ProxyUser);
  Cddb1->SetProxyPassword(c.Proxy.ProxyPass);
  HTTPClient1->Proxy.Server = c.Proxy.ProxyIP;
  HTTPClient1->Proxy.Port = c.Proxy.HttpPort;
  HTTPClient1->Proxy.Username = c.Proxy.ProxyUser;
  HTTPClient1->Proxy.Password = c.Proxy.ProxyPass;
  if (!c.LocalCDDB.empty()) Cddb1->LocalCDDBPath = c.LocalCDDB;
  coverSearch_->FSearchURL = c.FSearchURL;  // none or empty: the search stays off
  // Why a search or a download failed is logged whatever -debug says, as other failures are.
  coverSearch_->OnError = [this](const std::string& Message) {
    session_->Log.Report("SearchCovers : " + Message);
  };
  if (!c.Zentha.empty() && DirectoryExists(c.Zentha)) {
    LoadTheme(c.Zentha);
    LoadLanguage(IniFileName());
  }
  if (!c.Background.empty()) FBackgroundFile = c.Background;
  if (!FBackgroundFile.empty() && FileExists(NormalizePath(FBackgroundFile))) {
    const std::string picture = NormalizePath(FBackgroundFile);
    // A picture that cannot be decoded costs the window its background, not the rest of its
    // start-up: an unattended run must still look the disc up, rip and end.
    try {
      sSkinManager1->ChangeImage("FORM", "IMAGEFILE", picture);
      sSkinManager1->ChangeImage("FORM", "HOTIMAGEFILE", picture);
    } catch (const Exception& e) {
      const std::string note =
          "the background picture " + picture + " cannot be used: " + std::string(e.what());
      session_->Log.Report("LoadConfig : " + note);
      std::fprintf(stderr, "quorvel: %s\n", note.c_str());
    }
  }
  for (const std::string& genre : session_->Categories) category->Items().Add(genre);
  FEscKey = c.EscKey;
  FBackKey = c.BackKey;
  // The window takes the whole of the configured monitor.
  const std::vector<Monitor> monitors = Screen()->Monitors();
  if (!monitors.empty()) {
    const Rect r = monitors[size_t(ClampMonitor(c.Monitor, int(monitors.size())))].Bounds;
    SetPosition(TPosition::poDesigned);
    SetBounds(r.Left, r.Top, r.Width(), r.Height());
    ArrangeControls();
  }
}

TColor TForm1::MakeColor(const std::string& B, const std::string& G, const std::string& R) {
  // The suite writes its colours as "$00BBGGRR" text and reads them back: a component above
  // 255 takes more digits and shifts the ones before it, as the suite's own reader does.
  std::string text = "$00";
  for (const std::string* component : {&B, &G, &R}) text += IntToHex(StrToInt(Trim(*component)), 2);
  // More than eight significant digits is no colour: StrToInt says so.
  return TColor(StrToInt(text));
}

void TForm1::LoadTheme(const std::string& Folder) {
  std::string folder = Folder;
  if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '/';
  XmlDocument xml;
  xml.Load(NormalizePath(folder + "Zentha.cfg"));
  if (xml.DocumentElement().IsNull()) return;
  TRipLog& log = session_->Log;
  // A value that is not a number leaves its setting as it was.
  const auto number = [&log](const XmlNode& Node, const char* Name, int& Value) {
    if (!Node.HasAttr(Name)) return false;
    if (TryStrToInt(Trim(Node.Attr(Name)), Value)) return true;
    log.Report("LoadTheme : " + std::string(Name) + " ignored: '" + Node.Attr(Name) + "'");
    return false;
  };
  const auto colour = [&](const XmlNode& Node, TColor& Value) {
    int r, g, b;
    if (!number(Node, "R", r) || !number(Node, "G", g) || !number(Node, "B", b)) return false;
    try {
      Value = MakeColor(IntToStr(b), IntToStr(g), IntToStr(r));
    } catch (const Exception& e) {
      log.Report("LoadTheme : colour ignored: " + std::string(e.what()));
      return false;
    }
    return true;
  };
  const auto first = [&xml](const char* Path) { return xml.SelectSingleNode(Path); };
  if (const XmlNode n = first("//Display/DefaultTheme"); n && n.HasAttr("BackgroundFile"))
    FBackgroundFile = n.Attr("BackgroundFile");
  if (const XmlNode n = first("//Display/DefaultTheme/CaptionFont")) {
    int size;
    if (n.HasAttr("Name")) Font().SetName(n.Attr("Name"));
    if (number(n, "Size", size)) Font().SetSize(size);
  }
  if (const XmlNode n = first("//Display/DefaultTheme/MainMenuFont")) {
    int size = 0;
    const bool sized = number(n, "Size", size);
    for (TControl* c : {static_cast<TControl*>(exitbtn), static_cast<TControl*>(ripbtn),
                        static_cast<TControl*>(cddbbtn), static_cast<TControl*>(slideBtn)}) {
      c->SetParentFont(false);
      if (n.HasAttr("Name")) c->Font().SetName(n.Attr("Name"));
      if (sized) c->Font().SetSize(size);
    }
    if (n.HasAttr("Name")) sLabel4->Font().SetName(n.Attr("Name"));
    sLabel4->Font().SetSize(18);
  }
  if (const XmlNode n = first("//Display/DefaultTheme/MainMenuFont/FontColor")) {
    TColor color;
    if (colour(n, color))
      for (TControl* c : {static_cast<TControl*>(exitbtn), static_cast<TControl*>(ripbtn),
                          static_cast<TControl*>(cddbbtn), static_cast<TControl*>(slideBtn)})
        c->Font().SetColor(color);
  }
  if (const XmlNode n = first("//Display/DefaultTheme/FrameColor")) colour(n, FFrameColor);
  if (const XmlNode n = first("//Display/DefaultTheme/SelectedFrameColor"))
    colour(n, FSelectedFrameColor);
  if (FBackgroundFile.empty()) FBackgroundFile = folder + "images/background.jpg";
  for (TsButton* b : {ripbtn, cddbbtn, exitbtn, slideBtn}) {
    SetNormalColor(*b, FFrameColor);
    SetHotColor(*b, FSelectedFrameColor);
  }
  sSkinManager1->UpdateSkin();
}

void TForm1::LoadLanguage(const std::string& IniFile) {
  if (!FileExists(IniFile)) return;
  TIniFile ini(IniFile);
  // A missing key yields its default (the key itself); a key given empty keeps what is there.
  const auto text = [&ini](const std::string& Key) { return ini.ReadString("LANGUAGE", Key, Key); };
  const std::pair<const char*, TControl*> captions[] = {
      {"CDDB", cddbbtn},   {"RIP", ripbtn},    {"EXIT", exitbtn}, {"SLIDE", slideBtn},
      {"Artist", sLabel1}, {"Album", sLabel2}, {"Genre", sLabel3}};
  for (const auto& [key, control] : captions)
    if (const std::string value = text(key); !value.empty()) control->SetCaption(value);
  for (std::string& message : session_->LangMessages)
    if (const std::string value = text(message); !value.empty()) message = value;
}

void TForm1::ShowSessionData() {
  const TRipSession& s = *session_;
  trackList->Items().BeginUpdate();
  trackList->Items().Clear();
  for (const std::string& line : s.TrackLines) trackList->Items().Add(line);
  trackList->Items().EndUpdate();
  trackList->SetItemIndex(s.TrackLines.empty() ? -1 : 0);
  artist->SetText(s.Texts.Artist);
  album->SetText(s.Texts.Album);
  for (size_t i = size_t(category->Items().Count()); i < s.Categories.size(); ++i)
    category->Items().Add(s.Categories[i]);
  int selected = -1;
  for (int i = 0; i < category->Items().Count() && !s.Texts.Genre.empty(); ++i)
    if (SameText(category->Items()[i], s.Texts.Genre)) {
      selected = i;
      break;
    }
  category->SetItemIndex(selected);
  if (selected < 0) category->SetText("");
}

void TForm1::FormDestroy(TComponent*) {
  // The message hook calls this window: it must not outlive it.
  if (TApplication* app = ExistingApplication()) app->OnMessage = nullptr;
  ClearCovers(false);
  session_->Log.WriteLog("Quorvel closing");
  session_->Log.CloseLog();
  RaiseSuite();
}

HWND TForm1::LastActivePopup() {
  // The newest modal form shown over this one (the choice list), else the window itself.
  for (int i = Screen()->FormCount() - 1; i >= 0; --i) {
    TCustomForm* f = Screen()->Forms(i);
    if (f != this && f->Modal() && f->HandleAllocated() && IsWindowVisible(f->Handle()))
      return f->Handle();
  }
  return Handle();
}

void TForm1::RaiseSuite() {
  CurrentDisplayBackend().RaiseWindowByTitle("Zentha");
}

void TForm1::FormKeyPress(TComponent*, char& Key) {
  const auto code = static_cast<unsigned char>(Key);
  if (code == (FEscKey & 0xFF)) {
    FAbort = true;
    Close();
  } else if (code == (FBackKey & 0xFF)) {
    RaiseSuite();
  }
}

void TForm1::CMDialogKey(TMessage& Message) {
  if (int(Message.WParam) == FEscKey) {
    FAbort = true;
    Close();
    Message.Result = 1;
  } else if (int(Message.WParam) == FBackKey) {
    RaiseSuite();
    Message.Result = 1;
  }
  TForm::CMDialogKey(Message);
}

void TForm1::Abort() {
  FAbort = true;
  Close();
}

void TForm1::Timer1Timer(TComponent*) {
  Timer1->SetEnabled(false);
  TakeRipState();
  // A cover search that is still downloading is part of the lookup: the rip waits for the
  // lookup's end, so that it saves the cover the search finds.
  session_->StartTimerFired(!coverSearch_->Searching());
}

void TForm1::cddbbtnClick(TComponent*) {
  auto* choice = static_cast<TselectAlbumFrm*>(FindComponent("selectAlbumFrm"));
  if (choice != nullptr && choice->Visible()) {
    // The choice list is shown from inside Cddb1's own reply handling: the list is closed as
    // cancelled, its lookup is dropped, and the new lookup starts once that handler has
    // returned (Cddb1 is not to be asked again from inside its own event).
    TimerCDDB->SetEnabled(false);
    lookupRunning_ = false;
    choice->SetModalResult(mrCancel);
    PostToMain([this] { cddbbtnClick(this); });
    return;
  }
  if (lookupRunning_) {
    // The previous request is dropped; its late events must not end the new lookup.
    TimerCDDB->SetEnabled(false);
    lookupRunning_ = false;
    Cddb1->Abort();
  }
  session_->NewLookup();
  ShowSessionData();
  ClearCovers(true);
  CDDBQuery();
}

void TForm1::ripBtnClick(TComponent*) {
  TakeRipState();
  session_->CDrip();
}

void TForm1::TakeRipState() {
  session_->Cover = coverSearch_->ShownCover();
  // The user may have chosen another category since the lookup; the tags take the box's.
  session_->Texts.Genre = category->Text();
}

void TForm1::exitbtnClick(TComponent*) {
  FAbort = true;
  Close();
}

// Published but wired to nothing: the stored form data assigns none of these.
void TForm1::exitBtnEnter(TComponent*) {
  SetHotColor(*exitbtn, FSelectedFrameColor);
}

void TForm1::exitBtnExit(TComponent*) {
  SetHotColor(*exitbtn, FFrameColor);
}

void TForm1::cddbBtnEnter(TComponent*) {}

void TForm1::cddbBtnExit(TComponent*) {}

void TForm1::Button1Click(TComponent*) {
  CDDBQuery();
}

void TForm1::riptBtnClick(TComponent* Sender) {
  ripBtnClick(Sender);
}

void TForm1::refreshBtnClick(TComponent*) {
  RefreshTrackList();
}

void TForm1::slideBtnClick(TComponent*) {
  coverSearch_->SlideClick();
}

void TForm1::audioFormatBoxChange(TComponent*) {
  TRipOptions& o = session_->Options;
  o.FormatIndex = audioformatBox->ItemIndex();
  bitrateBox->Items().Clear();
  for (const std::string& item : BitrateItems(o.FormatIndex)) bitrateBox->Items().Add(item);
  bitrateBox->SetItemIndex(
      BitrateItemIndex(o.FormatIndex, MP3Out1->BitRate, VorbisOut1->Compression));
}

void TForm1::bitrateBoxChange(TComponent*) {
  const int i = bitrateBox->ItemIndex();
  if (i < 0) return;
  TMP3BitRate rate = MP3Out1->BitRate;
  float compression = VorbisOut1->Compression;
  if (ApplyBitrateItem(audioformatBox->ItemIndex(), bitrateBox->Items()[i], rate, compression)) {
    MP3Out1->BitRate = rate;
    VorbisOut1->Compression = compression;
  }
}

void TForm1::ripbtnMouseEnter(TComponent*) {
  SetHotColor(*ripbtn, FSelectedFrameColor);
}

void TForm1::ripbtnMouseLeave(TComponent*) {
  SetNormalColor(*ripbtn, FFrameColor);
}

// The buttons' section is not in the skin: they paint from their own style, a white face
// half transparent over its gradients, without a bevel, fading between its looks.
void TForm1::StyleButton(TsButton& Button) {
  TsActiveBGStyle& style = *Button.sStyle();
  style.SetSkinSection("MyTsButton");
  style.Painting.SetColor(clWhite);
  style.Painting.SetTransparency(50);
  style.Painting.SetBevel(cbNone);
  style.HotStyle.HotPainting.Bevel = cbNone;
  style.Background.Gradient().SetData("8421504;16777215;99;0;0;16777215;16777215;0;0;0");
  style.HotStyle.HotBackground.Gradient().SetData(
      "8421504;8421504;10;0;0;8421504;16777215;43;0;0;16777215;10658466;28;0;0;10658466;"
      "13816530;18;0;0;13816530;13816530;0;0;0");
  style.BtnEffects.Fading.Enabled = true;
  Button.SetBevelWidth(1);
}

// A colour the theme did not give (clNone) leaves the style's own.
void TForm1::SetNormalColor(TsButton& Button, TColor Color) {
  if (Color != clNone) Button.sStyle()->Painting.SetColor(Color);
}

void TForm1::SetHotColor(TsButton& Button, TColor Color) {
  if (Color == clNone || Button.sStyle()->HotStyle.HotPainting.Color == Color) return;
  Button.sStyle()->HotStyle.HotPainting.Color = Color;
  Button.sStyle()->Invalidate();
}

void TForm1::CDEvents1AfterArrival(TComponent*, char) {
  const std::string status = session_->MediaArrived();
  if (status.empty()) return;  // a rip is running
  SetStatus(status);
  cddbbtnClick(this);
}

void TForm1::CDEvents1AfterRemove(TComponent*, char) {
  const std::string status = session_->MediaRemoved();
  if (status.empty()) return;
  if (lookupRunning_) {
    TimerCDDB->SetEnabled(false);
    lookupRunning_ = false;
    Cddb1->Abort();
  }
  ShowSessionData();
  ClearCovers(true);
  lookupStatus_ = status;  // also when a cover search is waiting: it stays after it
  lookupStatusSerial_ = lookupSerial_;
  SetStatus(status);
}

void TForm1::ClearCovers(bool AddPlaceholder) {
  coverSearch_->ClearCovers(AddPlaceholder);
  // The placeholder goes on show at once, so that a rip after a lookup that found nothing
  // does not save the previous disc's cover; the slide caption stays the plain "Slide".
  bool shown = false;
  if (AddPlaceholder && coverSearch_->CoverCount() > 0) {
    try {
      AdvPicture1->Picture().LoadFromBytes(coverSearch_->Covers()[0]);
      shown = true;
    } catch (const Exception& e) {
      session_->Log.Report("ClearCovers : " + e.Message());
    }
  }
  if (!shown) AdvPicture1->Picture().Clear();
  AdvPicture1->Invalidate();
}

void TForm1::RefreshTrackList() {
  session_->RefreshTrackList();
  ShowSessionData();
}

void TForm1::CDDBQuery() {
  TRipSession& s = *session_;
  TRipLog& log = s.Log;
  // A lookup starts clean: a request of an earlier one still under way is dropped, and the end
  // an earlier request left in the component's state is no end of this lookup (the local
  // database's messages arrive before this lookup asks the server anything).
  if (lookupRunning_) {
    TimerCDDB->SetEnabled(false);
    lookupRunning_ = false;
    Cddb1->Abort();
  }
  Cddb1->State = cdsIdle;
  ++lookupSerial_;
  lookupRunning_ = true;
  reading_ = false;
  serverLookup_ = false;
  entryFromServer_ = false;
  try {
    log.WriteLog("CDDBQuery : Starting");
    log.WriteLog("CDDBQuery : CDRip drive " + CDIn1->DriveName());
    log.WriteLog("CDDBQuery : CDDB drive " + CddbDriveName());
    Cddb1->RefreshTOC();
    const TCDDiscInfo info = CDIn1->DiscInfo();
    if (info != TCDDiscInfo::cdiDiscAudio && info != TCDDiscInfo::cdiDiscMixed) {
      s.LookupFailed();
      LookupFinished();
      return;
    }
    log.WriteLog("CDDBQuery : DiscInfo OK cdiDiscMixed or cdiDiscAudio");
    Cddb1->BuildLocalIndex();
    TLocalMatchArray matches{};
    Cddb1->QueryLocalCDDB(matches);
    log.WriteLog("CDDBQuery : DiscID " + matches[0].DiscID);
    log.WriteLog("Query local CDDB");
    // A stored entry without any title (kept by an older version from a broken answer) is
    // passed over, so that the server can answer again.
    if (!matches[0].DiscID.empty() && Cddb1->ReadFromLocalCDDB() >= 0 &&
        HasTitles(*Cddb1->GetCDInfo())) {
      Cddb1StatusMessage(Cddb1, "LocalOK");
      log.WriteLog("CDDBQuery : Local CDDB OK");
      return;
    }
    log.WriteLog("CDDBQuery : No local CDDB");
    Cddb1->ServerAdditionalAddr = "/~cddb/cddb.cgi";
    Cddb1->ServerType = TServerType::HTTP;
    Cddb1->ServerPort = "80";
    log.WriteLog("CDDBQuery : Query internet CDDB");
    serverLookup_ = true;
    const int started = Cddb1->Query();
    if (started != 0 && lookupRunning_) {
      // The request did not even start: the lookup ends as a failed request.
      SetStatus(s.LookupFailed(TRipSession::TLookupFailure::NotConnected));
      LookupFinished();
      return;
    }
    if (lookupRunning_) {
      TimerCDDB->SetInterval(CddbTimeout);
      TimerCDDB->SetEnabled(true);
    }
  } catch (const std::exception& e) {
    // The message box reports it; the log names it for -debug runs.
    log.WriteLog("CDDBQuery : unknown CD / CDDB Error");
    log.WriteLog("CDDBQuery : " + std::string(e.what()));
    if (lookupRunning_) {
      s.LookupFailed();
      LookupFinished();
    }
    MessageBox("unknown CD / CDDB Error", "Error", MB_OK);
  }
}

void TForm1::TimerCDDBTimer(TComponent*) {
  TimerCDDB->SetEnabled(false);
  session_->Log.WriteLog("TimerCDDB : no answer, request aborted");
  if (reading_ && lookupRunning_)
    session_->Log.Report("TimerCDDB : the entry could not be read : no answer within " +
                         std::to_string(CddbTimeout) + " ms");
  Cddb1->Abort();
  // An abort that reports nothing still ends the lookup.
  if (lookupRunning_) {
    SetStatus(session_->LookupFailed(TRipSession::TLookupFailure::NotConnected));
    LookupFinished();
  }
}

void TForm1::Cddb1Match(TComponent* Sender, const TMatchArray& Matches, int& RightOne) {
  TimerCDDB->SetEnabled(false);
  RightOne = 0;
  int count = 0;
  while (count < int(Matches.size()) && !Matches[size_t(count)].empty()) ++count;
  if (count > 1 && ChooseAlbum() && !ChoiceUnattended) {
    auto* selectAlbumFrm = static_cast<TselectAlbumFrm*>(FindComponent("selectAlbumFrm"));
    if (selectAlbumFrm == nullptr) selectAlbumFrm = Create<TselectAlbumFrm>(this);
    selectAlbumFrm->Font().Assign(Font());
    selectAlbumFrm->ListBox1->Items().Clear();
    for (int i = 0; i < count; ++i) selectAlbumFrm->ListBox1->Items().Add(Matches[size_t(i)]);
    selectAlbumFrm->ListBox1->SetItemIndex(0);
    selectAlbumFrm->SetModalResult(mrNone);
    if (OnChoiceShown) OnChoiceShown(*selectAlbumFrm);
    (void)selectAlbumFrm->ShowModal();
    selectAlbumFrm->Hide();
    // A new lookup closed the list: nothing is read for this one.
    if (!lookupRunning_) return;
    // Enter and Backspace both close the list; either way the highlighted line is read.
    RightOne = selectAlbumFrm->ListBox1->ItemIndex();
  }
  PostMessage(Handle(), WM_CDDBCHOICE, WPARAM(Sender), 0);
}

void TForm1::WMCddbChoice(TMessage& Message) {
  auto* cddb = reinterpret_cast<TCddb*>(Message.WParam);
  if (cddb != Cddb1 || !lookupRunning_) return;
  if (cddb->State == cdsMatchFound || cddb->State == cdsMatchesReceived) {
    const int started = cddb->ReadEntry();
    reading_ = started == 0;
    if (started == 0 && lookupRunning_) {
      // The read has its own watchdog.
      TimerCDDB->SetInterval(CddbTimeout);
      TimerCDDB->SetEnabled(true);
    } else if (lookupRunning_) {
      session_->LookupFailed();
      LookupFinished();
    }
    return;
  }
  // A message of a lookup that was replaced while it waited: the running one is asking.
  if (cddb->State == cdsQuerying || cddb->State == cdsReading) return;
  // No entry was chosen.
  SetStatus(session_->LookupFailed(TRipSession::TLookupFailure::NoMatch));
  LookupFinished();
}

void TForm1::NoteReadFailure(const std::string& Msg) {
  if (!reading_) return;
  reading_ = false;
  // The status line stays as it is; the log says what went wrong, whatever -debug says.
  session_->Log.Report("Cddb1StatusMessage : the entry could not be read : " + Msg +
                       " (the server answered \"" + Cddb1->ServerAnswer() + "\")");
}

void TForm1::Cddb1StatusMessage(TComponent*, const std::string& Msg) {
  const int state = Cddb1->State;
  if (Msg != "LocalOK" && state == cdsHttpError) {
    // After the watchdog's abort the lookup has ended and said so already.
    if (lookupRunning_) {
      session_->Log.WriteLog("Cddb1StatusMessage : " + Msg);
      NoteReadFailure(Msg);
      SetStatus(session_->LangMessages[0]);
      session_->LookupFailed(TRipSession::TLookupFailure::NotConnected);
      LookupFinished();
    }
    return;
  }
  if (Msg != "LocalOK" && state == cdsNoMatch) {
    SetStatus(session_->LangMessages[1]);
    if (lookupRunning_) {
      session_->LookupFailed(TRipSession::TLookupFailure::NoMatch);
      LookupFinished();
    }
    return;
  }
  if (Msg != "LocalOK" && state == cdsReadFailed) {
    if (lookupRunning_ && Msg == TCddb::kNoTitlesText) {
      // Nothing usable came: said as for no match, and nothing is saved.
      session_->Log.Report("Cddb1StatusMessage : " + Msg + ", the entry is not used");
      SetStatus(session_->LookupFailed(TRipSession::TLookupFailure::NoMatch));
      LookupFinished();
      return;
    }
    if (lookupRunning_) {
      NoteReadFailure(Msg);
      session_->LookupFailed();
      LookupFinished();
    }
    return;
  }
  if (!((state == cdsEntryRead && Msg == "Entry read") || Msg == "LocalOK")) return;
  if (!lookupRunning_) return;  // a late answer to a lookup that was given up
  TimerCDDB->SetEnabled(false);
  Cddb1->ParseEntryLines();
  const TCDInfo info = *Cddb1->GetCDInfo();
  const std::string status = session_->ApplyEntry(info);
  ShowSessionData();
  artist->Repaint();
  album->Repaint();
  category->Repaint();
  // Only an entry from the server is new here. A local one is stored already, and writing it
  // again would harm it: the file would be made anew from what this window reads of it (its
  // play order and comments lost), its revision raised at every lookup, and an entry found
  // as a near match (another pressing's identifier) would get this disc's track offsets.
  if (Msg != "LocalOK") {
    const int saved = Cddb1->SaveToLocalCDDB();
    if (saved < 0) session_->Log.Report("Cddb1StatusMessage : entry not saved locally");
  }
  lookupRunning_ = false;
  // A lookup ended while the search waits (a local hit) ends its own handler first, and a
  // removed disc says so: their line is the one that stays when this search returns.
  lookupStatus_ = status;
  lookupStatusSerial_ = lookupSerial_;
  try {
    coverSearch_->SearchCovers(album->Text(), artist->Text());
  } catch (const std::exception& e) {
    session_->Log.Report("SearchCovers : " + std::string(e.what()));
  }
  // A lookup begun while the search waited and still running, or one that ended without an
  // entry of its own, has replaced this one: its status line and its end are its own.
  if (lookupRunning_ || lookupStatusSerial_ != lookupSerial_) return;
  // The destination replaces the search's last line: a failed search's reason stays on it.
  const std::string& failure = coverSearch_->LastFailure();
  SetStatus(failure.empty() ? lookupStatus_ : lookupStatus_ + " - " + failure);
  LookupFinished();
}

void TForm1::LookupFinished() {
  lookupRunning_ = false;
  reading_ = false;
  TimerCDDB->SetEnabled(false);
  // After the handler that ended the lookup has returned: an unattended rip must not run
  // inside the CD database component's own event.
  PostToMain([this] {
    // A lookup begun since this one ended ends itself; the rip waits for it.
    if (lookupRunning_) return;
    TakeRipState();
    session_->LookupEnded();
  });
}

// TRipWindow.

void TForm1::SelectTrackLine(int Index) {
  if (Index < trackList->Items().Count()) trackList->SetItemIndex(Index);
}

void TForm1::SetStatus(const std::string& Text) {
  sLabel4->SetCaption(Text);
  if (created_ && HandleAllocated()) sLabel4->Repaint();
  if (StatusEcho != nullptr) {
    std::fprintf(StatusEcho, "%s\n", Text.c_str());
    std::fflush(StatusEcho);
  }
}

void TForm1::SetProgress(int Position) {
  ProgressBar1->SetPosition(Position);
}

void TForm1::SetRipping(bool Ripping) {
  ripbtn->SetEnabled(!Ripping);
  cddbbtn->SetEnabled(!Ripping);
  audioformatBox->SetEnabled(!Ripping);
  bitrateBox->SetEnabled(!Ripping);
  trackList->SetEnabled(Ripping);
  if (Ripping && HandleAllocated() && exitbtn->CanFocus()) exitbtn->SetFocus();
}

void TForm1::PumpUntil(const std::function<bool()>& Done) {
  if (qv::PumpUntil(Done) != PumpResult::Quit) return;
  // The loop is ending: the rip stops, and what it still waits for (its output letting go
  // of the file) arrives as posted tasks.
  FAbort = true;
  while (!Done()) {
    if (!tasks_.Run()) tasks_.Wait();
  }
}

void TForm1::PostToMain(std::function<void()> Task) {
  tasks_.Post(handle_, CM_FORMTASKS, std::move(Task));
}

void TForm1::SelectCddbDrive(int Index) {
  if (Index >= 0 && Index < 256) Cddb1->SelectDrive(std::uint8_t(Index));
}

std::string TForm1::CddbDriveName() {
  const TCDDriveList& list = Cddb1->DriveList;
  const int i = list.CurrentDrive;
  // The log names the drive by its product name.
  return i >= 0 && i < list.DriveCount ? list.Drives[size_t(i)].ProductId : std::string();
}

void TForm1::WndProc(TMessage& Message) {
  if (Message.Msg == CM_FORMTASKS) {
    tasks_.Run();
    return;
  }
  if (Message.Msg == WM_CDDBCHOICE) {
    WMCddbChoice(Message);
    return;
  }
  TForm::WndProc(Message);
}

// ICoverSearchView.

std::string TForm1::LangMessage(int index) const {
  return index >= 0 && index < int(session_->LangMessages.size())
             ? session_->LangMessages[size_t(index)]
             : std::string();
}

void TForm1::ShowStatus(const std::string& text) {
  SetStatus(text);
}

void TForm1::SetSlideCaption(const std::string& caption) {
  slideBtn->SetCaption(caption);
}

}  // namespace qv
