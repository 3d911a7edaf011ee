#include "skin/sskinprovider.h"

#include <algorithm>
#include <utility>

#include "platform/msg/message_queue.h"
#include "platform/ui/icons.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/scontrolutils.h"
#include "skin/smdiform.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sutils.h"

namespace qv {

namespace {

using BS = TFormBorderStyle;

UINT TaskbarCreatedMessage = 0;
// Posted by an MDI child's provider to the MDI form once its system command is done;
// wParam: the child was maximised before and is not now.
UINT MDIChildChangedMessage = 0;

constexpr int kIconicWidth = 160;
constexpr int kDefaultButtonSize = 21;
constexpr int kDefaultChildButtonSize = 16;
constexpr int kLargeChange = 80;

// The title buttons in their record order, with their hit codes.
constexpr int kHitCodes[7] = {HTMINBUTTON,   HTMAXBUTTON,  HTCLOSE,   HTHELP,
                              HTMDIMINIMIZE, HTMDIRESTORE, HTMDICLOSE};
enum { kMin, kMax, kClose, kHelp, kChildMin, kChildRestore, kChildClose };

Point LParamPoint(LPARAM l) {
  return {static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(l))),
          static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(l)))};
}

TCustomForm* FirstForm(TComponent* c) {
  while (c != nullptr && dynamic_cast<TCustomForm*>(c) == nullptr) c = c->Owner();
  return static_cast<TCustomForm*>(c);
}

const Bitmap* MaskImage(int index) {
  return IsValidImgIndex(index) ? &SkinMasks[std::size_t(index)].Bmp->Image() : nullptr;
}

bool IsChildButton(int hitCode) {
  return hitCode == HTMDICLOSE || hitCode == HTMDIRESTORE || hitCode == HTMDIMINIMIZE;
}

// The item of `parent`'s tree with that command number, null when none.
TMenuItem* FindCommand(TMenuItem* parent, int command) {
  for (int i = 0; parent != nullptr && i < parent->Count(); ++i) {
    TMenuItem* item = parent->Items(i);
    if (item->Command() == command) return item;
    if (TMenuItem* found = FindCommand(item, command)) return found;
  }
  return nullptr;
}

}  // namespace

// A form leaves the screen's list first thing when it is destroyed, before its windows go:
// from then on its messages pass unchanged.
static bool FormAlive(const TCustomForm* form) {
  TScreen* screen = Screen();
  for (int i = 0; i < screen->FormCount(); ++i)
    if (screen->Forms(i) == form) return !form->HasState(csDestroying);
  return false;
}

TsSkinProvider* MDIFormProvider = nullptr;

TsGrip* MakeSkinGrip(TsSkinProvider& provider, TCustomForm& form) {
  auto* grip = Create<TsGrip>(&provider);
  grip->Form = &form;
  grip->SetParent(&form);
  return grip;
}

namespace {
bool IsMDIChild(const TCustomForm* form) {
  return form != nullptr && form->FormStyle() == TFormStyle::fsMDIChild;
}
// The MDI form's provider while it and its form are alive.
TsSkinProvider* LiveMDIFormProvider() {
  TsSkinProvider* p = MDIFormProvider;
  return p != nullptr && !p->HasState(csDestroying) && p->Form() != nullptr &&
                 FormAlive(p->Form()) && p->MDIForm() != nullptr
             ? p
             : nullptr;
}
void RepaintMDIForm(TsSkinProvider* main) {
  main->NeedRepaint = true;
  if (main->Form()->HandleAllocated()) SendMessage(main->Form()->Handle(), WM_NCPAINT, 0, 0);
}
}  // namespace

bool TsSkinProvider::HookedOnTop() const {
  return hookId_ != 0 && IsWindow(hookedHandle_) && IsSubclassOnTop(hookedHandle_, hookId_);
}

// ---- TsSystemMenu --------------------------------------------------------------------------

// Owned by the provider: the skin's menu hooking walks the components it owns and finds the
// system menu there with the form's other menus.
TsSystemMenu::TsSystemMenu(TsSkinProvider* provider, TCustomForm* form)
    : TPopupMenu(provider), provider_(provider), form_(form) {
  ItemRestore = AddItem("Restore", "ItemRestore", [this] {
    SendMessage(form_->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    UpdateItems();
    provider_->NeedRepaint = true;
    SendMessage(form_->Handle(), WM_PAINT, 0, 0);
    SendMessage(form_->Handle(), WM_NCPAINT, 0, 0);
  });
  ItemMove = AddItem("Move", "ItemMove",
                     [this] { SendMessage(form_->Handle(), WM_SYSCOMMAND, SC_MOVE, 0); });
  Itemsize = AddItem("Size", "Itemsize",
                     [this] { SendMessage(form_->Handle(), WM_SYSCOMMAND, SC_SIZE, 0); });
  ItemMinimize = AddItem("Minimize", "ItemMinimize", [this] {
    if (Application()->MainForm() == form_) {
      Application()->Minimize();
    } else {
      form_->SetWindowState(TWindowState::wsMinimized);
      if (form_->FormStyle() == TFormStyle::fsMDIChild) {
        // The child's strip in the MDI client is drawn from a new image at once.
        provider_->NeedRepaint = true;
        SendMessage(form_->Handle(), WM_PAINT, 0, 0);
        SendMessage(form_->Handle(), WM_NCPAINT, 0, 0);
      }
    }
    UpdateItems();
  });
  ItemMaximize = AddItem("Maximize", "ItemMaximize", [this] {
    SendMessage(form_->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    UpdateItems();
  });
  AddItem("-", "", nullptr);
  ItemClose = AddItem("Close", "ItemClose",
                      [this] { SendMessage(form_->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); });
  ItemClose->SetShortCut(static_cast<std::uint16_t>(unsigned(scAlt) | unsigned(VK_F4)));
}

TMenuItem* TsSystemMenu::AddItem(const std::string& caption, const std::string& name,
                                 const std::function<void()>& action) {
  auto* item = new TMenuItem(this);
  item->SetCaption(caption);
  item->SetName(name);
  if (action) item->OnClick = [action](TComponent*) { action(); };
  Items()->Add(item);
  return item;
}

bool TsSystemMenu::VisibleRestore() const {
  const BS bs = form_->BorderStyle();
  return (bs == BS::bsSingle || bs == BS::bsSizeable) &&
         (provider_->BorderIcons() & biSystemMenu) != 0;
}
bool TsSystemMenu::VisibleSize() const {
  const BS bs = form_->BorderStyle();
  return bs == BS::bsSingle || bs == BS::bsSizeable || bs == BS::bsSizeToolWin;
}
bool TsSystemMenu::VisibleMax() const {
  return form_->BorderStyle() == BS::bsSizeable && (provider_->BorderIcons() & biSystemMenu) != 0;
}
bool TsSystemMenu::VisibleClose() const {
  return (provider_->BorderIcons() & biSystemMenu) != 0;
}
bool TsSystemMenu::EnabledRestore() const {
  return (provider_->BorderIcons() & biMaximize) != 0 &&
         form_->WindowState() != TWindowState::wsNormal;
}
bool TsSystemMenu::EnabledMove() const {
  return form_->WindowState() != TWindowState::wsMaximized;
}
bool TsSystemMenu::EnabledSize() const {
  return form_->BorderStyle() != BS::bsSingle;
}
bool TsSystemMenu::EnabledMin() const {
  return (provider_->BorderIcons() & biMinimize) != 0 &&
         form_->WindowState() != TWindowState::wsMinimized;
}
bool TsSystemMenu::EnabledMax() const {
  return (provider_->BorderIcons() & biMaximize) != 0 &&
         form_->WindowState() != TWindowState::wsMaximized;
}

void TsSystemMenu::UpdateItems() {
  ItemRestore->SetVisible(VisibleRestore());
  ItemRestore->SetEnabled(EnabledRestore());
  ItemMove->SetVisible(true);
  ItemMove->SetEnabled(EnabledMove());
  Itemsize->SetVisible(VisibleSize());
  Itemsize->SetEnabled(EnabledSize());
  ItemMinimize->SetVisible(VisibleRestore());
  ItemMinimize->SetEnabled(EnabledMin());
  ItemMaximize->SetVisible(VisibleMax());
  ItemMaximize->SetEnabled(EnabledMax());
  ItemClose->SetVisible(VisibleClose());
  ItemClose->SetEnabled(true);
}

void TsSystemMenu::MakeSkinItems() {
  TsSkinManager* manager = provider_->SkinManager();
  if (manager == nullptr) return;
  TStringList names;
  std::string first;
  manager->GetSkinNames(names, first);
  if (names.Count() == 0) return;
  auto* select = new TMenuItem(this);
  select->SetCaption("Available skins");
  select->SetName("SkinSelectItem");
  Items()->Insert(0, select);
  auto* line = new TMenuItem(this);
  line->SetCaption("-");
  Items()->Insert(1, line);
  for (int i = 0; i < names.Count(); ++i) {
    auto* item = new TMenuItem(this);
    item->SetCaption(names[i]);
    item->SetName("SkinSelectItem" + std::to_string(i));
    item->OnClick = [this](TComponent* sender) { SkinSelectClick(sender); };
    select->Add(item);
  }
}

void TsSystemMenu::SkinSelectClick(TComponent* sender) {
  TsSkinManager* manager = provider_->SkinManager();
  auto* item = dynamic_cast<TMenuItem*>(sender);
  if (manager == nullptr || item == nullptr) return;
  manager->SetSkinName(DelChars(item->Caption(), '&'));
  if (!manager->Active()) manager->SetActive(true);
}

// ---- TsSkinProvider: life ------------------------------------------------------------------

TsSkinProvider::TsSkinProvider(TComponent* owner) : TComponent(owner) {
  form_ = FirstForm(owner);
  for (int i = 0; i < 7; ++i) buttons_[i].HitCode = kHitCodes[i];
  if (form_ != nullptr) {
    captionCopy1_ = captionCopy2_ = form_->Caption();
    formAutoScroll_ = form_->AutoScroll();
    if (!HasState(csDesigning)) form_->SetAutoScroll(false);
    formBorderIcons_ = form_->BorderIcons();
    formBorderStyle_ = form_->BorderStyle();
  }
  if (skinManager_ == nullptr && SkinData.SkinManager != nullptr) {
    skinManager_ = SkinData.SkinManager;
    FreeNotification(skinManager_);
    if (SkinData.Active && form_ != nullptr && !HasState(csDesigning)) form_->SetBorderIcons(0);
  }
  if (form_ != nullptr) {
    systemMenu_ = std::make_unique<TsSystemMenu>(this, form_);
    systemMenu_->UpdateItems();
  }
  cutRects_.assign(1, Rect{});
  if (TaskbarCreatedMessage == 0) TaskbarCreatedMessage = RegisterWindowMessage("TaskbarCreated");
}

TsSkinProvider::~TsSkinProvider() {
  if (FormAlive(form_) && IsMDIChild(form_))
    if (TsSkinProvider* main = LiveMDIFormProvider(); main != nullptr && main != this)
      RepaintMDIForm(main);
  if (MDIFormProvider == this) MDIFormProvider = nullptr;
  mdiForm_.reset();
  const bool restore = FormAlive(form_) && form_->HandleAllocated() && hookId_ != 0;
  UnhookForm();
  if (restore) {
    // The form gets its own frame back: the system's caption buttons, no cut region, and
    // its own scrolling.
    form_->SetBorderIcons(formBorderIcons_);
    form_->SetAutoScroll(formAutoScroll_);
    SetWindowRgn(form_->Handle(), std::nullopt, true);
    FrameChanged();
    form_->Invalidate();
  }
  if (skinManager_ != nullptr) RemoveFreeNotification(skinManager_);
  systemMenu_.reset();
}

void TsSkinProvider::AfterConstruction() {
  // A manager made after the provider (later in the same form data) is only a bare component
  // while its owner announces it: the provider takes it from SkinData here.
  if (skinManager_ == nullptr && SkinData.SkinManager != nullptr) {
    skinManager_ = SkinData.SkinManager;
    FreeNotification(skinManager_);
  }
  UpdateSkinIndexes();
  HookForm();
  if (MDIChildChangedMessage == 0)
    MDIChildChangedMessage = RegisterWindowMessage("QuorvelMDIChildChanged");
  if (form_ == nullptr || HasState(csDesigning)) return;
  if (form_->FormStyle() == TFormStyle::fsMDIForm && mdiForm_ == nullptr) {
    MDIFormProvider = this;
    mdiForm_ = std::make_unique<TsMDIForm>(this);
  } else if (IsMDIChild(form_) && SkinData.Active) {
    if (TsSkinProvider* main = LiveMDIFormProvider()) {
      RepaintMDIForm(main);
      main->MDIForm()->UpdateScrollBars();
    }
  }
}

void TsSkinProvider::Loaded() {
  TComponent::Loaded();
  // A provider read with its form's stored data takes over the form once it is read.
  if (hookId_ == 0) AfterConstruction();
  if (MakeSkinMenu && systemMenu_) systemMenu_->MakeSkinItems();
}

void TsSkinProvider::SetSkinManager(TsSkinManager* value) {
  if (value == skinManager_) return;
  if (skinManager_ != nullptr) RemoveFreeNotification(skinManager_);
  skinManager_ = value;
  if (skinManager_ != nullptr) FreeNotification(skinManager_);
}

void TsSkinProvider::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // A component going away is told from its base destructor, where it is no manager any
  // more: the pointer alone says whether it is ours.
  if (operation == opRemove && mdiForm_ != nullptr) mdiForm_->Forget(component);
  if (operation == opRemove && component != nullptr && component == skinManager_) {
    skinManager_ = nullptr;
    return;
  }
  // A menu item the form takes in, or lets go of without destroying it (one being destroyed
  // is no item by now): the skin's handlers go on or come off. Without a skin in use
  // nothing is hooked, so the form's plain menu keeps drawing itself.
  if (auto* item = dynamic_cast<TMenuItem*>(component);
      item != nullptr && skinManager_ != nullptr && !HasState(csDesigning)) {
    if (operation == opInsert && SkinData.Active)
      skinManager_->SkinableMenus().HookItem(item, true);
    else if (operation == opRemove)
      skinManager_->SkinableMenus().HookItem(item, false);
    return;
  }
  auto* manager = dynamic_cast<TsSkinManager*>(component);
  if (manager == nullptr) return;
  if (operation == opInsert && skinManager_ == nullptr) skinManager_ = manager;
}

void TsSkinProvider::HookForm() {
  if (form_ == nullptr) return;
  const HWND h = form_->Handle();
  if (hookId_ != 0 && hookedHandle_ == h && IsSubclassOnTop(h, hookId_)) return;
  UnhookForm();
  hookedHandle_ = h;
  hookId_ =
      SubclassWindow(h, [this](HWND hwnd, UINT msg, WPARAM w, LPARAM l, const WndProc& inherited) {
        return NewWndProc(hwnd, msg, w, l, inherited);
      });
  ScrollBarsReady = true;
  NeedRepaint = true;
  FrameChanged();
}

void TsSkinProvider::UnhookForm() {
  // Removal by token: the chain keeps whatever was installed over the provider working.
  if (hookId_ != 0 && IsWindow(hookedHandle_)) RemoveWindowSubclass(hookedHandle_, hookId_);
  hookId_ = 0;
  hookedHandle_ = 0;
}

void TsSkinProvider::UpdateSkinIndexes() {
  style_.SkinIndex = GetSkinIndex(style_.SkinSection);
  style_.BorderIndex = style_.GetMaskIndex(style_.SkinSection, "BORDERSMASK");
  static const char* const kGlyphs[7] = {"BICONMIN", "BICONMAX", "BICONCLOSE", "BICONHELP",
                                         "BICONMIN", "BICONMAX", "BICONCLOSE"};
  for (int i = 0; i < 7; ++i)
    buttons_[i].ImageIndex = style_.GetMaskIndex(style_.SkinSection, kGlyphs[i]);
}

bool TsSkinProvider::Acting() const {
  return form_ != nullptr && FormAlive(form_) && !HasState(csDesigning) &&
         skinManager_ != nullptr && SkinData.SkinManager != nullptr && SkinData.Active &&
         style_.SkinIndex >= 0 && !Suspended;
}

void TsSkinProvider::FrameChanged() {
  if (form_ == nullptr || !form_->HandleAllocated()) return;
  SetWindowPos(form_->Handle(), 0, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// A skin came or went: the indexes, the system's caption buttons and the frame follow.
void TsSkinProvider::SkinChanged(bool active) {
  UpdateSkinIndexes();
  if (form_ == nullptr || HasState(csDesigning)) return;
  Suspended = true;
  form_->SetBorderIcons(active && style_.SkinIndex >= 0 ? 0 : formBorderIcons_);
  // Skinned, the provider's bars scroll the form; without a skin its own scrolling again.
  form_->SetAutoScroll(active ? false : formAutoScroll_);
  Suspended = false;
  TitleStrip.reset();
  regionChanged_ = true;
  RegionSet = false;
  if (!active && form_->HandleAllocated()) SetWindowRgn(form_->Handle(), std::nullopt, true);
  NeedRepaint = true;
  FrameChanged();
  if (mdiForm_ != nullptr) mdiForm_->UpdateMDIMenu();
}

void TsSkinProvider::SetCaptionAlignment(TAlignment value) {
  captionAlignment_ = value;
  NeedRepaint = true;
  if (form_ != nullptr && form_->Visible() && form_->HandleAllocated())
    SendMessage(form_->Handle(), WM_NCPAINT, 0, 0);
}

void TsSkinProvider::SetShowAppIcon(bool value) {
  showAppIcon_ = value;
  NeedRepaint = true;
  if (form_ != nullptr && form_->Visible() && form_->HandleAllocated())
    SendMessage(form_->Handle(), WM_NCPAINT, 0, 0);
}

// ---- Geometry ------------------------------------------------------------------------------

int TsSkinProvider::SysBorderWidth() const {
  const int f = GetSystemMetrics(SM_CYFRAME);
  switch (form_->BorderStyle()) {
    case BS::bsNone:
      return 0;
    case BS::bsSingle:
    case BS::bsDialog:
      return f - 1;
    default:
      return f;
  }
}

int TsSkinProvider::SysBorderHeight() const {
  const int f = GetSystemMetrics(SM_CXFRAME);
  switch (form_->BorderStyle()) {
    case BS::bsNone:
      return 0;
    case BS::bsSingle:
    case BS::bsDialog:
    case BS::bsToolWindow:
      return f - 1;
    default:
      return f;
  }
}

int TsSkinProvider::CaptionHeight() const {
  switch (form_->BorderStyle()) {
    case BS::bsNone:
      return 0;
    case BS::bsToolWindow:
      return GetSystemMetrics(SM_CYSMCAPTION) - 1;
    case BS::bsSizeToolWin:
      return GetSystemMetrics(SM_CYSMCAPTION);
    default:
      return GetSystemMetrics(SM_CYCAPTION);
  }
}

bool TsSkinProvider::HasBorder() const {
  return form_->BorderStyle() != BS::bsNone;
}

bool TsSkinProvider::HasMenu() const {
  TMainMenu* menu = form_->Menu();
  if (menu == nullptr || form_->BorderStyle() == BS::bsDialog || IsMDIChild(form_)) return false;
  for (int i = 0; i < menu->Items()->Count(); ++i)
    if (menu->Items()->Items(i)->Visible()) return true;
  return false;
}

int TsSkinProvider::MenuHeight() const {
  return form_->Menu() != nullptr ? GetSystemMetrics(SM_CYMENU) - 1 : 0;
}

int TsSkinProvider::MenuBottom() const {
  if (!HasBorder()) return 1;
  const int menu = HasMenu() ? MenuHeight() * MenuLineCount : 0;
  return 1 + SysBorderWidth() + CaptionHeight() + menu + form_->BorderWidth();
}

TCustomForm* TsSkinProvider::MaximizedMDIChild() const {
  if (mdiForm_ == nullptr || !mdiForm_->ChildMaximized()) return nullptr;
  return form_->ActiveMDIChild();
}

Point TsSkinProvider::ClientOrigin() const {
  const int bw = form_->BorderWidth();
  const bool menu = HasMenu() && MenuHeight() > 0;
  // One row of frame stays above the client area on every form, a borderless one without
  // a menu included (its top row shows the form's background).
  return {SysBorderHeight() + bw,
          SysBorderWidth() + CaptionHeight() + (menu ? MenuHeight() * MenuLineCount : 0) + bw + 1};
}

// The cache as the parent background of the sections painted over the form's own, placed as
// the client area's controls see it.
TsBGInfo TsSkinProvider::CacheAsParent() {
  const Point o = ClientOrigin();
  return TsBGInfo{&style_.CacheBmp, o.X, o.Y, true};
}

Point TsSkinProvider::WindowPoint(Point screen) const {
  Rect r;
  if (form_->HandleAllocated() && GetWindowRect(form_->Handle(), r))
    return {screen.X - r.Left, screen.Y - r.Top};
  return {screen.X - form_->Left(), screen.Y - form_->Top()};
}

int TsSkinProvider::TitleButtonWidth() const {
  const Bitmap* close = MaskImage(buttons_[kClose].ImageIndex);
  return close != nullptr ? close->Width() / 3 : kDefaultButtonSize;
}

int TsSkinProvider::TitleButtonHeight() const {
  const Bitmap* close = MaskImage(buttons_[kClose].ImageIndex);
  return close != nullptr ? close->Height() / 2 : kDefaultButtonSize;
}

int TsSkinProvider::TitleButtonCount() const {
  if ((borderIcons_ & biSystemMenu) == 0) return 0;
  int n = 1;
  if (systemMenu_->VisibleMax()) ++n;
  if (systemMenu_->VisibleRestore()) ++n;
  if (borderIcons_ & biHelp) ++n;
  return n;
}

const TsCaptionButton& TsSkinProvider::Button(int hitCode) const {
  for (const auto& b : buttons_)
    if (b.HitCode == hitCode) return b;
  static const TsCaptionButton none;
  return none;
}

// ---- Hit test and button states ------------------------------------------------------------

int TsSkinProvider::HitTest(Point p) {
  const int w = form_->Width();
  const int h = form_->Height();
  int result = 0;
  const int bh = TitleButtonHeight();
  const int top = (SysBorderWidth() + CaptionHeight() - bh) / 2;
  if (p.Y >= top && p.Y <= top + bh) {
    const TsCaptionButton& close = buttons_[kClose];
    const TsCaptionButton& max = buttons_[kMax];
    const TsCaptionButton& min = buttons_[kMin];
    const TsCaptionButton& help = buttons_[kHelp];
    const int iconRight = SysBorderHeight() + GetSystemMetrics(SM_CXSMICON);
    if (!close.Rect.IsEmpty() && close.Rect.Contains(p))
      result = HTCLOSE;
    else if (!max.Rect.IsEmpty() && (systemMenu_->EnabledMax() || systemMenu_->EnabledRestore()) &&
             max.Rect.Contains(p))
      result = HTMAXBUTTON;
    else if (!min.Rect.IsEmpty() && systemMenu_->EnabledMin() && min.Rect.Contains(p))
      result = HTMINBUTTON;
    else if (p.X >= SysBorderHeight() && p.X <= iconRight)
      result = HTSYSMENU;
    else if ((borderIcons_ & biHelp) && !help.Rect.IsEmpty() && help.Rect.Contains(p))
      result = HTHELP;
    if (result == HTCLOSE || result == HTMAXBUTTON || result == HTMINBUTTON || result == HTHELP)
      SetHotButton(result);
    else if (result == HTSYSMENU)
      SetHotButton(0);
    else if (result == 0 && p.Y < top + bh)
      result = HTCAPTION;
  } else if (MaximizedMDIChild() != nullptr) {
    // The maximised child's buttons in the menu line.
    for (const int code : {HTMDICLOSE, HTMDIRESTORE, HTMDIMINIMIZE}) {
      const TsCaptionButton& b = Button(code);
      if (!b.Rect.IsEmpty() && b.Rect.Contains(p)) {
        result = code;
        break;
      }
    }
    SetHotButton(result);
  } else {
    SetHotButton(0);
  }
  if (form_->WindowState() == TWindowState::wsMaximized && !Rect{2, 2, w - 2, h - 2}.Contains(p)) {
    SetHotButton(0);
    return HTTRANSPARENT;
  }
  return result;
}

void TsSkinProvider::SetHotButton(int code) {
  // A menu-line item lit from outside a menu (no popup holds the pointer) is drawn normal
  // and forgotten. While a popup of the line is open its item stays lit: this window
  // system hit-tests the form under the pointer even then.
  if (form_ != nullptr && form_->MenuBarHotItem() != nullptr && GetCapture() == 0)
    form_->SetMenuBarHotItem(nullptr);  // the line is painted anew without it
  // The same button again keeps its state: a pressed button stays pressed while the
  // pointer is held on it, so that the press still shows until the release decides.
  if (code == hotButton_) return;
  if (hotButton_ != 0) {
    TsCaptionButton& old = const_cast<TsCaptionButton&>(Button(hotButton_));
    old.State = 0;
    RepaintButton(old);
  }
  hotButton_ = code;
  if (code != 0) {
    TsCaptionButton& b = const_cast<TsCaptionButton&>(Button(code));
    b.State = 1;
    RepaintButton(b);
    // The pointer may leave the window straight from the button: the non-client leave
    // turns it normal again.
    if (form_ != nullptr && form_->HandleAllocated()) {
      TRACKMOUSEEVENT tme;
      tme.dwFlags = TME_LEAVE | TME_NONCLIENT;
      tme.hwndTrack = form_->Handle();
      TrackMouseEvent(tme);
    }
  }
}

void TsSkinProvider::SetPressedButton(int code) {
  if (hotButton_ != 0 && hotButton_ != code) {
    TsCaptionButton& old = const_cast<TsCaptionButton&>(Button(hotButton_));
    old.State = 0;
    RepaintButton(old);
  }
  hotButton_ = code;
  TsCaptionButton& b = const_cast<TsCaptionButton&>(Button(code));
  b.State = 2;
  RepaintButton(b);
  // The pressed look shows before anything else runs. A release already queued is handled
  // in here and finds the state set above; nothing of the provider is touched after this
  // (the release may close and free the form).
  Application()->ProcessMessages();
}

// ---- Painting ------------------------------------------------------------------------------

void TsSkinProvider::PaintButton(TsCaptionButton& b, bool alone) {
  const Bitmap* glyph = MaskImage(b.ImageIndex);
  // A maximised window's maximize button, and the maximised child's, restore.
  if ((b.HitCode == HTMAXBUTTON && !systemMenu_->EnabledMax()) || b.HitCode == HTMDIRESTORE) {
    const int norm = style_.GetMaskIndex(style_.SkinSection, "BICONNORM");
    if (IsValidImgIndex(norm)) glyph = MaskImage(norm);
  }
  if (glyph == nullptr || b.Rect.IsEmpty()) return;
  const int mode = FormActive || (alone && b.State != 0) ? 1 : 2;
  PaintBlendGlyph(style_.CacheBmp.Image(), glyph, {b.Rect.Left, b.Rect.Top}, mode, kSkinTransparent,
                  b.State);
}

void TsSkinProvider::RepaintButton(TsCaptionButton& b) {
  if (b.Rect.IsEmpty() || form_ == nullptr || !form_->HandleAllocated() || !Acting()) return;
  Bitmap& cache = style_.CacheBmp.Image();
  const Bitmap& strip = ButtonsStrip.Image();
  if (IsChildButton(b.HitCode)) {
    // The child's buttons lie on the menu line, kept before its items were drawn.
    const int top = SysBorderWidth() + CaptionHeight();
    CopyBitmapRect(cache, {b.Rect.Left, b.Rect.Top}, menuLineStrip_.Image(),
                   b.Rect.Offset(0, -top));
  } else if (strip.Width() > 0) {
    const int shift = cache.Width() - strip.Width();
    CopyBitmapRect(cache, {b.Rect.Left, b.Rect.Top}, strip, b.Rect.Offset(-shift, 0));
  }
  PaintButton(b, true);
  if (DC* dc = GetWindowDC(form_->Handle())) {
    DC src(&cache);
    dc->BitBlt(b.Rect.Left, b.Rect.Top, b.Rect.Width(), b.Rect.Height(), src, b.Rect.Left,
               b.Rect.Top);
    ReleaseDC(form_->Handle(), dc);
  }
}

void TsSkinProvider::PlaceAndPaintButtons() {
  for (int i = 0; i < 4; ++i) buttons_[i].Rect = Rect{};
  const int bw = TitleButtonWidth();
  const int bh = TitleButtonHeight();
  const int right = form_->Width() - SysBorderHeight();
  const int top = (SysBorderWidth() + CaptionHeight() - bh) / 2;
  auto at = [&](int slot) {
    return Rect{right - slot * (bw + 1), top, right - slot * (bw + 1) + bw, top + bh};
  };
  int slot = 1;
  if ((borderIcons_ & biSystemMenu) && IsValidImgIndex(buttons_[kClose].ImageIndex)) {
    buttons_[kClose].Rect = at(1);
    slot = 2;
  }
  if (systemMenu_->VisibleMax()) {
    const int glyph = systemMenu_->EnabledMax()
                          ? buttons_[kMax].ImageIndex
                          : style_.GetMaskIndex(style_.SkinSection, "BICONNORM");
    if (IsValidImgIndex(glyph)) buttons_[kMax].Rect = at(2);
    slot = 3;
  }
  if (systemMenu_->VisibleRestore() && IsValidImgIndex(buttons_[kMin].ImageIndex))
    buttons_[kMin].Rect = at(slot++);
  if ((borderIcons_ & biHelp) && IsValidImgIndex(buttons_[kHelp].ImageIndex))
    buttons_[kHelp].Rect = at(slot);
  for (int i = 0; i < 4; ++i) PaintButton(buttons_[i], false);
}

void TsSkinProvider::PlaceAndPaintChildButtons() {
  for (int i = kChildMin; i <= kChildClose; ++i) buttons_[i].Rect = Rect{};
  if (MaximizedMDIChild() == nullptr || !HasMenu() || MenuHeight() <= 0) return;
  const Bitmap* close = MaskImage(buttons_[kChildClose].ImageIndex);
  const int sw = close != nullptr ? close->Width() / 3 : kDefaultChildButtonSize;
  const int sh = close != nullptr ? close->Height() / 2 : kDefaultChildButtonSize;
  const int right = form_->Width() - SysBorderHeight();
  const int top = MenuBottom() - (MenuHeight() - sh) / 2 - sh - 1;
  auto at = [&](int slot) {
    return Rect{right - slot * (sw + 1), top, right - slot * (sw + 1) + sw, top + sh};
  };
  const int norm = style_.GetMaskIndex(style_.SkinSection, "BICONNORM");
  if (close != nullptr) buttons_[kChildClose].Rect = at(1);
  if (IsValidImgIndex(norm) || IsValidImgIndex(buttons_[kChildRestore].ImageIndex))
    buttons_[kChildRestore].Rect = at(2);
  if (IsValidImgIndex(buttons_[kChildMin].ImageIndex)) buttons_[kChildMin].Rect = at(3);
  for (int i = kChildMin; i <= kChildClose; ++i) PaintButton(buttons_[i], false);
}

void TsSkinProvider::PaintMDIChildIcon(TCustomForm& child) {
  const int side = MenuHeight() - 2;
  if (side <= 0) return;
  DC& dc = *style_.CacheBmp.Canvas().Handle();
  const int x = SysBorderHeight() + 1;
  const int y = CaptionHeight() + SysBorderWidth() + 1;
  HICON icon = !child.Icon().Empty()            ? child.Icon().Handle()
               : !Application()->Icon().Empty() ? Application()->Icon().Handle()
                                                : LoadIcon(0, IDI_APPLICATION);
  DrawIconEx(&dc, x, y, icon, side, side, 0, nullptr, DI_NORMAL);
}

void TsSkinProvider::PaintIcon() {
  const BS bs = form_->BorderStyle();
  if (!showAppIcon_ || (bs != BS::bsSingle && bs != BS::bsSizeable)) return;
  DC& dc = *style_.CacheBmp.Canvas().Handle();
  const int x = SysBorderHeight();
  const int y = SysBorderWidth();
  if (!form_->Icon().Empty()) {
    DrawIconEx(&dc, x, y, form_->Icon().Handle(), form_->Icon().Width(), form_->Icon().Height(), 0,
               nullptr, DI_NORMAL);
  } else if (!Application()->Icon().Empty()) {
    const int side = CaptionHeight() - SysBorderWidth();
    DrawIconEx(&dc, x, y, Application()->Icon().Handle(), side, side, 0, nullptr, DI_NORMAL);
  } else {
    DrawIconEx(&dc, x, y, LoadIcon(0, IDI_APPLICATION), GetSystemMetrics(SM_CXSMICON),
               GetSystemMetrics(SM_CYSMICON), 0, nullptr, DI_NORMAL);
  }
}

void TsSkinProvider::PaintCaption(const Rect& title) {
  Bitmap& cache = style_.CacheBmp.Image();
  const int state = FormActive ? 1 : 0;
  const TsBGInfo self = CacheAsParent();
  const int w = form_->Width();
  const int titleIndex = GetSkinIndex("FORMTITLE");
  PaintItem(titleIndex, "FORMTITLE", self, cache, {0, 0}, title, state, true);
  PaintIcon();
  const int n = TitleButtonCount();
  const int bw = TitleButtonWidth();
  const int titleMask = style_.GetMaskIndex(style_.SkinSection, "TITLEBAR");
  if (const Bitmap* mask = MaskImage(titleMask)) {
    const int l = (mask->Width() / 9) * 2 + n * bw;
    DrawSkinRect(cache, *mask, state, DefaultPaintInfo, true,
                 SkinMasks[std::size_t(titleMask)].TransparentColor,
                 Rect{title.Right - l, 0, title.Right, title.Bottom});
  }
  // The background under the buttons, for repainting one of them alone. It is taken from
  // the cache's very right end (no pixel short of it) because a button is restored from it
  // with the two right ends aligned, and only the title band's rows, the only rows the
  // title buttons lie in: the menu line below is not painted yet here and has its own
  // strip.
  const int stripWidth = std::min(n * (bw + 1) + SysBorderHeight(), w);
  const int stripHeight = std::min(SysBorderWidth() + CaptionHeight() + 1, cache.Height());
  ButtonsStrip.SetSize(stripWidth, stripHeight);
  CopyBitmapRect(ButtonsStrip.Image(), {0, 0}, cache,
                 Bounds(w - stripWidth, 0, stripWidth, stripHeight));
  PlaceAndPaintButtons();
  // The caption, cut to the room between the icon and the buttons.
  TCanvas& canvas = style_.CacheBmp.Canvas();
  canvas.Font().Assign(form_->Font());
  canvas.Font().SetStyle(canvas.Font().Style() | fsBold);
  const bool icon = showAppIcon_ && (form_->BorderStyle() == BS::bsSingle ||
                                     form_->BorderStyle() == BS::bsSizeable);
  const int iconWidth = GetSystemMetrics(SM_CXSMICON);
  // The icon's place is kept out of the caption's room whether or not the icon shows.
  const int iconRight = SysBorderHeight() + iconWidth;
  const std::string text = CutText(canvas, form_->Caption(), w - iconRight - n * bw - 16);
  Rect r{SysBorderHeight() + 4 + (icon ? iconWidth : 0), title.Top + SysBorderWidth(),
         w - n * bw - 16, title.Top + CaptionHeight()};
  if (!r.IsEmpty())
    WriteTextExt(canvas, text, form_->Enabled(), r, AlignmentDrawFlags(*form_, captionAlignment_),
                 titleIndex, FormActive);
}

// Lines the items wrap into on a form `formWidth` wide, measured by their owner-draw
// handlers. Counted over every item that is drawn: ending the count at an item without a
// caption (the maximised MDI child's item, which comes first) or a disabled one would draw
// the items that wrap below the menu line, out of sight and out of reach.
int TsSkinProvider::CountMenuLines(int formWidth) {
  const int spacing = GetSystemMetrics(SM_CXMENUSIZE) - 6;
  const int room = formWidth - 2 * SysBorderHeight() - 6 - 2 * form_->BorderWidth();
  int lines = 1;
  int x = SysBorderHeight();
  WalkMenuLine([&](TMenuItem* item) {
    if (!item->Visible()) return true;  // a hidden item hides none after it
    if (!item->OnMeasureItem || !item->OnAdvancedDrawItem) return false;
    int iw = 0, ih = 0;
    item->OnMeasureItem(item, style_.CacheBmp.Canvas(), iw, ih);
    if (room < x + iw + spacing) {
      ++lines;
      x = SysBorderHeight();
    }
    x += iw + spacing;
    return true;
  });
  return lines;
}

void TsSkinProvider::PaintMenuLine() {
  Bitmap& cache = style_.CacheBmp.Image();
  const int top = SysBorderWidth() + CaptionHeight();
  const int mh = MenuHeight();
  const int spacing = GetSystemMetrics(SM_CXMENUSIZE) - 6;
  const int room = form_->Width() - 2 * SysBorderHeight() - 6 - 2 * form_->BorderWidth();
  MenuLineCount = CountMenuLines(form_->Width());
  int x = SysBorderHeight();
  const Rect line{0, top, cache.Width(), top + mh * MenuLineCount + 1};
  PaintItem(GetSkinIndex("MENULINE"), "MENULINE", CacheAsParent(), cache, {0, top}, line,
            FormActive ? 1 : 0, true);
  menuLineStrip_.SetSize(std::max(0, form_->Width()), line.Height());
  CopyBitmapRect(menuLineStrip_.Image(), {0, 0}, cache, line);
  if (MDIFormProvider == this)
    if (TCustomForm* child = MaximizedMDIChild()) PaintMDIChildIcon(*child);
  // The items themselves, up to the first one that cannot draw itself.
  x = SysBorderHeight();
  int y = top;
  menuLineLayout_.Bar = {SysBorderHeight(), top, form_->Width() - SysBorderHeight(),
                         top + mh * MenuLineCount};
  menuLineLayout_.Items.clear();
  const Point pointer = WindowPoint(GetCursorPos());
  WalkMenuLine([&](TMenuItem* item) {
    if (!item->Visible()) return true;  // a hidden item hides none after it
    if (!item->OnMeasureItem || !item->OnAdvancedDrawItem) return false;
    int iw = 0, ih = 0;
    item->OnMeasureItem(item, style_.CacheBmp.Canvas(), iw, ih);
    if (room < x + iw + spacing) {
      x = SysBorderHeight();
      y += mh;
    }
    const Rect r{x, y, x + iw + spacing, y + mh};
    menuLineLayout_.Items.emplace_back(item, r);
    // Drawn in its states, as the class library's own menu bar draws them, so that an
    // item opened from the line, a disabled one and the default one look alike skinned.
    TOwnerDrawState state = item == form_->MenuBarHotItem() ? TOwnerDrawState(odSelected) : 0;
    if (r.Contains(pointer)) state |= odHotLight;
    if (!item->Enabled()) state |= odDisabled | odGrayed;
    if (item->Default()) state |= odDefault;
    item->OnAdvancedDrawItem(item, style_.CacheBmp.Canvas(), r, state);
    x += iw + spacing;
    return true;
  });
}

// The menu line's top-level items in their order. A maximised MDI child's merged items
// stand in for the form's items of their group, drawn once where the group first comes;
// the merged items of groups the form lacks follow the form's own.
void TsSkinProvider::WalkMenuLine(const std::function<bool(TMenuItem*)>& visit) const {
  TMainMenu* menu = form_->Menu();
  if (menu == nullptr) return;
  TCustomForm* child = MaximizedMDIChild();
  TMainMenu* merged =
      child != nullptr && menu->Merged() == child->Menu() ? menu->Merged() : nullptr;
  std::vector<TMenuItem*> pending;
  if (merged != nullptr)
    for (int i = 0; i < merged->Items()->Count(); ++i) pending.push_back(merged->Items()->Items(i));
  std::vector<int> placed;  // groups the merged items already stand in for
  for (int i = 0; i < menu->Items()->Count(); ++i) {
    TMenuItem* item = menu->Items()->Items(i);
    const int group = item->GroupIndex();
    if (std::find(placed.begin(), placed.end(), group) != placed.end()) continue;
    if (merged != nullptr && menu->MergedHasGroup(group)) {
      placed.push_back(group);
      for (auto it = pending.begin(); it != pending.end();) {
        if ((*it)->GroupIndex() != group) {
          ++it;
          continue;
        }
        TMenuItem* m = *it;
        it = pending.erase(it);
        if (!visit(m)) return;
      }
      continue;
    }
    if (!visit(item)) return;
  }
  for (TMenuItem* m : pending)
    if (!visit(m)) return;
}

std::pair<TMenuItem*, TMenuItem*> TsSkinProvider::MenuLineEnds() const {
  std::pair<TMenuItem*, TMenuItem*> ends{nullptr, nullptr};
  if (form_ == nullptr) return ends;
  WalkMenuLine([&](TMenuItem* item) {
    if (!item->Visible()) return true;  // a hidden item hides none after it
    if (!item->OnMeasureItem || !item->OnAdvancedDrawItem) return false;
    if (ends.first == nullptr) ends.first = item;
    ends.second = item;
    return true;
  });
  return ends;
}

void TsSkinProvider::PaintAll() {
  if (form_ == nullptr || painting_) return;
  const int w = form_->Width();
  const int h = form_->Height();
  const bool iconic = form_->WindowState() == TWindowState::wsMinimized;
  const int sbw = SysBorderWidth();
  const int ch = CaptionHeight();
  const Rect r = iconic ? Rect{0, 0, kIconicWidth, ch + sbw + 1} : Rect{0, 0, w, h};
  if (!NeedRepaint) return;
  painting_ = true;
  Bitmap& cache = style_.CacheBmp.Image();
  const bool fast = IsValidSkinIndex(style_.SkinIndex) &&
                    SkinSections[std::size_t(style_.SkinIndex)].ReservedBoolean && TitleStrip &&
                    TitleStrip->Width() == w && cache.Height() == h && cache.Width() == w &&
                    !iconic && HasBorder();
  if (fast) {
    CopyBitmapRect(cache, {0, 0}, TitleStrip->Image(), TitleStrip->Image().BoundsRect());
    PaintCaption(Rect{0, 0, TitleStrip->Width(), TitleStrip->Height()});
    NeedRepaint = false;
    painting_ = false;
    return;
  }
  regionChanged_ = true;
  style_.CacheBmp.SetSize(std::max(w, 0), std::max(h, 0));
  if (!IsValidSkinIndex(style_.SkinIndex) || w <= 0 || h <= 0) {
    painting_ = false;
    return;
  }
  const int state = FormActive ? 1 : 0;
  if (HasBorder())
    PaintItem(style_.SkinIndex, style_.SkinSection, DefaultPaintInfo, cache, {0, 0}, r, state,
              false);
  else
    PaintItemBG(style_.SkinIndex, style_.SkinSection, DefaultPaintInfo, cache, {0, 0}, r, state);
  if (IsValidSkinIndex(style_.SkinIndex) &&
      SkinSections[std::size_t(style_.SkinIndex)].ReservedBoolean && HasBorder() &&
      (!TitleStrip || TitleStrip->Width() != w)) {
    TitleStrip = std::make_unique<TBitmap>(w, std::min(ch + sbw, h));
    CopyBitmapRect(TitleStrip->Image(), {0, 0}, cache, TitleStrip->Image().BoundsRect());
  }
  if (HasBorder()) {
    if (iconic) {
      PaintItem(GetSkinIndex("FORMTITLE"), "FORMTITLE", CacheAsParent(), cache, {0, 0}, r, state,
                true);
    } else {
      PaintCaption(Rect{0, 0, w, std::min(ch + sbw, h)});
    }
  }
  menuLineLayout_ = {};
  if (!iconic && HasMenu() && MenuHeight() > 0) PaintMenuLine();
  if (!iconic) PlaceAndPaintChildButtons();
  if (mdiForm_ != nullptr && !mdiForm_->ChildMaximized()) {
    // The MDI area under the client window.
    const int x = mdiForm_->MDIOffsetX();
    const int y = mdiForm_->MDIOffsetY();
    const Rect area = Bounds(x, y, mdiForm_->MDIAreaWidth(), mdiForm_->MDIAreaHeight());
    if (!area.IsEmpty()) {
      DC dc(&cache);
      PaintItemBGFast(GetSkinIndex("MDIAREA"), "MDIAREA", TsBGInfo{&style_.CacheBmp, 0, 0, true},
                      dc, {x, y}, area, 0, false);
    }
  }
  NeedRepaint = false;
  painting_ = false;
}

void TsSkinProvider::PaintNC(DC& dc) {
  PaintAll();
  Bitmap& cache = style_.CacheBmp.Image();
  DC src(&cache);
  const int w = cache.Width();
  const int h = cache.Height();
  if (form_->WindowState() == TWindowState::wsMinimized) {
    dc.BitBlt(0, 0, kIconicWidth, CaptionHeight() + SysBorderWidth() + 1, src, 0, 0);
    return;
  }
  const Point o = ClientOrigin();
  const int side = SysBorderHeight() + form_->BorderWidth();
  const int bottom = SysBorderWidth() + form_->BorderWidth();
  dc.BitBlt(0, 0, w, o.Y, src, 0, 0);
  dc.BitBlt(0, o.Y, side, h - o.Y, src, 0, o.Y);
  dc.BitBlt(0, h - bottom, w, bottom, src, 0, h - bottom);
  dc.BitBlt(w - side, o.Y, side, h - o.Y, src, w - side, o.Y);
}

// ---- Region --------------------------------------------------------------------------------

void TsSkinProvider::RebuildCutRects() {
  regionChanged_ = false;
  cutRects_.clear();
  if (!HasBorder()) return;
  const int titleIndex = GetSkinIndex("FORMTITLE");
  const Bitmap* mask = MaskImage(GetMaskIndex(titleIndex, "FORMTITLE", "BORDERSMASK"));
  if (mask == nullptr) return;
  const bool iconic = form_->WindowState() == TWindowState::wsMinimized;
  MaskToRegion(cutRects_, *mask, iconic ? kIconicWidth : form_->Width());
}

void TsSkinProvider::UpdateRegion() {
  RegionSet = true;
  if (!form_->HandleAllocated()) return;
  if (cutRects_.empty() || (cutRects_.size() == 1 && cutRects_[0].IsEmpty())) {
    Region none;
    if (GetWindowRgn(form_->Handle(), none) != NULLREGION)
      SetWindowRgn(form_->Handle(), std::nullopt, true);
    return;
  }
  Region region(Rect{0, 0, form_->Width(), form_->Height()});
  for (const Rect& cut : cutRects_)
    if (!cut.IsEmpty()) region = region.Subtract(Region(cut));
  Region current;
  if (GetWindowRgn(form_->Handle(), current) != NULLREGION && current == region) return;
  SetWindowRgn(form_->Handle(), region, true);
}

// ---- Scroll bars ---------------------------------------------------------------------------

int TsSkinProvider::ContentExtent(bool vertical) const {
  int extent = 0;
  for (int i = 0; i < form_->ControlCount(); ++i) {
    TControl* c = form_->Controls(i);
    if (c == vBar_ || c == hBar_ || c == grip_ || !c->Visible()) continue;
    if (auto* bar = dynamic_cast<TsScrollBar*>(c); bar != nullptr && bar->LinkedOwner != nullptr)
      continue;
    const TAlign a = c->Align();
    if (vertical && (a == TAlign::alNone || a == TAlign::alTop))
      extent = std::max(extent, c->Top() + vOffset_ + c->Height());
    if (!vertical && (a == TAlign::alNone || a == TAlign::alLeft))
      extent = std::max(extent, c->Left() + hOffset_ + c->Width());
  }
  return extent + 2;
}

bool TsSkinProvider::ScrollControls(bool vertical, int delta) {
  if (delta == 0) return true;
  // Held until the pending messages are done as well: a bar set off by them (the moves
  // resize nothing, but a queued size message may come) must not free the bar whose change
  // is being handled here.
  const bool wasScrolling = std::exchange(Scrolling, true);
  for (int i = 0; i < form_->ControlCount(); ++i) {
    TControl* c = form_->Controls(i);
    if (c == vBar_ || c == hBar_ || c == grip_) continue;
    if (auto* bar = dynamic_cast<TsScrollBar*>(c); bar != nullptr && bar->LinkedOwner != nullptr)
      continue;
    if (vertical)
      c->SetBounds(c->Left(), c->Top() - delta, c->Width(), c->Height());
    else
      c->SetBounds(c->Left() - delta, c->Top(), c->Width(), c->Height());
    SendRefreshMessage(c, true);
    if (dynamic_cast<TWinControl*>(c) != nullptr) c->Repaint();
  }
  (vertical ? vOffset_ : hOffset_) += delta;
  form_->Invalidate();
  // The form may go while the messages run (a release of it was pending), this provider
  // with it.
  const TComponentWatch self(this);
  Application()->ProcessMessages();
  if (!self.Alive()) return false;
  Scrolling = wasScrolling;
  return true;
}

bool TsSkinProvider::UpdateFormScrollBars() {
  if (form_ != nullptr && form_->FormStyle() == TFormStyle::fsMDIForm) {
    if (mdiForm_ != nullptr) mdiForm_->UpdateScrollBars();
    return true;
  }
  // Moving the controls realigns the form: the bars are settled once the move is done.
  if (form_ == nullptr || Scrolling || HasState(csDesigning) || form_->HasState(csDestroying) ||
      form_->HasState(csLoading))
    return true;
  const bool can = Acting() && form_->Visible() && IsValidSkinIndex(style_.SkinIndex);
  const Rect client = form_->ClientRect();
  const int thickV = GetSystemMetrics(SM_CXVSCROLL);
  const int thickH = GetSystemMetrics(SM_CYHSCROLL);
  bool showV = false, showH = false;
  int rangeV = 0, rangeH = 0;
  // Each bar's presence takes room from the other direction: settle in two passes. The
  // room a bar takes counts once, in the other direction's range; the page is the client's.
  const int pageV = client.Height() - 4;
  const int pageH = client.Width() - 4;
  for (int pass = 0; pass < 2; ++pass) {
    rangeV = std::max(form_->VertScrollBar().Range(), ContentExtent(true) + (showH ? thickH : 0));
    rangeH = std::max(form_->HorzScrollBar().Range(), ContentExtent(false) + (showV ? thickV : 0));
    showV = can && form_->VertScrollBar().Visible() && rangeV > pageV + 4;
    showH = can && form_->HorzScrollBar().Visible() && rangeH > pageH + 4;
  }
  const bool rightToLeft = form_->BiDiMode() == TBiDiMode::bdRightToLeft;
  // False when the provider went while the controls were scrolled back.
  auto apply = [&](TsScrollBar*& bar, bool show, bool vertical, int range) {
    int& offset = vertical ? vOffset_ : hOffset_;
    if (!show) {
      if (!ScrollControls(vertical, -offset)) return false;
      delete bar;
      bar = nullptr;
      return true;
    }
    if (bar == nullptr) {
      bar = new TsScrollBar(this);
      bar->SetTabStop(false);
      bar->SetKind(vertical ? TScrollBarKind::sbVertical : TScrollBarKind::sbHorizontal);
      bar->LinkedOwner = this;
      bar->LinkedForm = form_;
      bar->SetParent(form_);
      bar->OnChange = [this, vertical](TComponent* sender, int) {
        auto* b = static_cast<TsScrollBar*>(sender);
        ScrollControls(vertical, b->Position() - (vertical ? vOffset_ : hOffset_));
      };
    }
    const int page = vertical ? pageV : pageH;
    const int span = std::max(range - page, 1);
    bar->SmallChange = (vertical ? form_->VertScrollBar() : form_->HorzScrollBar()).Increment();
    bar->LargeChange = kLargeChange;
    bar->SetPageSize(std::max(page, 0));
    bar->SetParams(std::min(offset, span), 0, span);
    const int shortV = showH ? thickH : 0;
    const int shortH = showV ? thickV : 0;
    // Right to left the vertical bar runs down the left edge, from (1, 1) to one pixel
    // above the bottom, and the horizontal one starts right of it.
    if (vertical && rightToLeft)
      bar->SetBounds(1, 1, thickV, client.Height() - shortV - 2);
    else if (vertical)
      bar->SetBounds(client.Width() - thickV, 0, thickV, client.Height() - shortV);
    else if (rightToLeft)
      bar->SetBounds(showV ? 1 + thickV : 0, client.Height() - thickH, client.Width() - shortH - 1,
                     thickH);
    else
      bar->SetBounds(0, client.Height() - thickH, client.Width() - shortH, thickH);
    bar->BringToFront();
    return true;
  };
  if (!apply(vBar_, showV, true, rangeV) || !apply(hBar_, showH, false, rangeH)) return false;
  if (showV && showH) {
    if (grip_ == nullptr) grip_ = MakeSkinGrip(*this, *form_);
    grip_->SetBounds(rightToLeft ? 1 : client.Width() - thickV, client.Height() - thickH, thickV,
                     thickH);
  } else if (grip_ != nullptr) {
    delete grip_;
    grip_ = nullptr;
  }
  return true;
}

// ---- Messages ------------------------------------------------------------------------------

void TsSkinProvider::CaptionMaybeChanged(std::string& copy) {
  if (form_->Caption() == copy) return;
  copy = form_->Caption();
  RepaintFrame();
}

void TsSkinProvider::RepaintFrame() {
  NeedRepaint = true;
  if (form_->HandleAllocated() && form_->Visible()) SendMessage(form_->Handle(), WM_NCPAINT, 0, 0);
}

void TsSkinProvider::MinimizeForm() {
  if (Application()->MainForm() == form_)
    Application()->Minimize();
  else
    form_->SetWindowState(TWindowState::wsMinimized);
}

// The MDI form hears of it once the messages the command left are handled (a closed
// child is gone by then).
void TsSkinProvider::MDIChildCommand(WPARAM command, bool wasZoomed) {
  if (command != SC_MINIMIZE && command != SC_MAXIMIZE && command != SC_CLOSE &&
      command != SC_RESTORE)
    return;
  if (TsSkinProvider* main = LiveMDIFormProvider(); main != nullptr && main != this)
    PostMessage(main->Form()->Handle(), MDIChildChangedMessage,
                wasZoomed && command != SC_MAXIMIZE ? 1 : 0, 0);
}

void TsSkinProvider::MDIChildChanged(bool wasZoomed) {
  if (mdiForm_ == nullptr) return;
  mdiForm_->UpdateMDIMenu();
  RepaintMDIForm(this);
  if (wasZoomed && form_->ClientHandle() != 0) InvalidateRect(form_->ClientHandle(), nullptr, true);
  mdiForm_->UpdateScrollBars();
}

void TsSkinProvider::HookMenuItems() {
  TMainMenu* menu = form_->Menu();
  if (menu == nullptr || skinManager_ == nullptr) return;
  for (int i = 0; i < menu->Items()->Count(); ++i)
    skinManager_->SkinableMenus().HookItem(menu->Items()->Items(i), SkinData.Active);
}

// The menu bar measures and draws its items anew.
void TsSkinProvider::RefreshMenuBar() {
  TMainMenu* menu = form_->Menu();
  if (menu == nullptr || menu->Items()->Count() == 0) return;
  NeedRepaint = true;
  qv::RefreshMenuBar(*form_);
}

void TsSkinProvider::ShowSystemMenu(Point screen) {
  systemMenu_->UpdateItems();
  systemMenu_->Popup(screen.X, screen.Y);
}

// What an activation change sets off: the other MDI children and the MDI form repaint, a
// bordered form repaints its frame and refreshes its controls and menus, and the scroll
// bars are settled again.
void TsSkinProvider::ActivationSteps(HWND hwnd) {
  if (IsMDIChild(form_))
    if (TsSkinProvider* main = LiveMDIFormProvider(); main != nullptr && main != this) {
      // The other children draw their titles inactive, the MDI form its menu line anew.
      for (int i = 0; i < main->Form()->MDIChildCount(); ++i) {
        TCustomForm* other = main->Form()->MDIChildren(i);
        if (other != form_ && other->Visible() && other->HandleAllocated())
          SendMessage(other->Handle(), WM_NCPAINT, 0, 0);
      }
      main->NeedRepaint = true;
      if (form_->Visible()) SendMessage(hwnd, WM_NCPAINT, 0, 0);
    }
  if (HasBorder()) {
    // The menus are hooked before the frame is painted, so that the menu line shows the
    // items at once.
    if (skinManager_ != nullptr) skinManager_->SkinableMenus().UpdateMenus(SkinData.Active);
    RepaintFrame();
    TMessage refresh{SKM_REFRESH, 0, 1, 0};
    BroadcastToControl(form_, refresh);
  }
  UpdateFormScrollBars();
}

LRESULT TsSkinProvider::NewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                   const WndProc& inherited) {
  switch (msg) {
    case SKM_NEWSKIN:
      if (!PassesGroupFilter(TMessage{msg, wParam, lParam, 0}, 0)) break;
      SkinChanged(SkinData.Active);
      break;
    case SKM_REMOVESKIN:
      if (!PassesGroupFilter(TMessage{msg, wParam, lParam, 0}, 0)) break;
      SkinChanged(false);
      break;
    case WM_NCDESTROY:
      hookId_ = 0;  // the chain goes with the window
      hookedHandle_ = 0;
      return inherited(hwnd, msg, wParam, lParam);
    default:
      break;
  }
  if (!Acting()) return inherited(hwnd, msg, wParam, lParam);
  return Acted(hwnd, msg, wParam, lParam, inherited);
}

LRESULT TsSkinProvider::Acted(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              const WndProc& inherited) {
  auto pass = [&] { return inherited(hwnd, msg, wParam, lParam); };
  const bool creating = (form_->ControlState() & csCreating) != 0;
  if (TaskbarCreatedMessage != 0 && msg == TaskbarCreatedMessage) return 0;
  if (MDIChildChangedMessage != 0 && msg == MDIChildChangedMessage) {
    MDIChildChanged(wParam != 0);
    return 0;
  }
  switch (msg) {
    case WM_CREATE: {
      const LRESULT result = pass();
      HookMenuItems();
      return result;
    }
    case WM_MEASUREITEM: {
      const auto* mis = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
      if (mis != nullptr && mis->CtlType == ODT_MENU && !IsMDIChild(form_) &&
          form_->Menu() != nullptr && skinManager_ != nullptr)
        if (TMenuItem* item = FindCommand(form_->Menu()->Items(), int(mis->itemID)))
          skinManager_->SkinableMenus().HookItem(item, true);
      return pass();
    }
    case WM_SYSCOLORCHANGE: {
      const LRESULT result = pass();
      RefreshMenuBar();
      return result;
    }
    case WM_NCCALCSIZE: {
      if (wParam == 0 || lParam == 0) return pass();
      auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
      SetMenuBarHeight(hwnd, 0);  // the menu line is drawn here, not by the window system
      // The client starts below as many menu lines as the items take at the new width.
      if (HasMenu() && MenuHeight() > 0) MenuLineCount = CountMenuLines(params->rgrc[0].Width());
      const Point o = ClientOrigin();
      const int side = SysBorderHeight() + form_->BorderWidth();
      const int bottom = SysBorderWidth() + form_->BorderWidth();
      Rect& r = params->rgrc[0];
      r = Rect{r.Left + o.X, r.Top + o.Y, std::max(r.Left + o.X, r.Right - side),
               std::max(r.Top + o.Y, r.Bottom - bottom)};
      return 0;
    }
    case WM_SIZE: {
      const LRESULT result = pass();
      TCustomForm* active = form_->ActiveMDIChild();
      if (mdiForm_ != nullptr && active != nullptr) {
        mdiForm_->UpdateScrollBars();
        if (active->WindowState() == TWindowState::wsMaximized)
          SendMessage(active->Handle(), WM_SIZE, 0, 0);
      } else {
        if (!UpdateFormScrollBars()) return result;
        if (IsMDIChild(form_) && form_->WindowState() == TWindowState::wsMaximized)
          if (TsSkinProvider* main = LiveMDIFormProvider())
            SendMessage(main->Form()->Handle(), WM_NCPAINT, 0, 0);
      }
      return result;
    }
    case WM_MOVE: {
      const LRESULT result = pass();
      if (IsMDIChild(form_) && form_->WindowState() != TWindowState::wsMaximized)
        if (TsSkinProvider* main = LiveMDIFormProvider()) main->MDIForm()->UpdateScrollBars();
      return result;
    }
    case WM_SYSCOMMAND: {
      if (!IsMDIChild(form_)) return pass();
      const bool wasZoomed = form_->WindowState() == TWindowState::wsMaximized;
      const LRESULT result = pass();
      MDIChildCommand(wParam & 0xFFF0, wasZoomed);
      return result;
    }
    case WM_SHOWWINDOW: {
      // A child that comes or goes changes the client's scroll bars too.
      const LRESULT result = pass();
      if (IsMDIChild(form_)) MDIChildCommand(SC_RESTORE, false);
      return result;
    }
    case WM_ACTIVATE: {
      // Passed on all the same: the window system moves the keyboard focus into a top-level
      // window only in its default handling of WM_ACTIVATE (when the focus lies outside
      // it). Swallowed, a skinned form shown, clicked or activated after a dialog closes
      // would leave the keys going to the window that had them before.
      const LRESULT result = pass();
      if (creating) return result;
      if (!ScrollBarsReady) {
        if (!UpdateFormScrollBars()) return result;
        ScrollBarsReady = true;
      }
      NeedRepaint = true;
      ActivationSteps(hwnd);
      return result;
    }
    case WM_SETTEXT: {
      const LRESULT result = pass();
      captionCopy1_ = captionCopy2_ = form_->Caption();
      RepaintFrame();
      return result;
    }
    case WM_GETTEXT: {
      const LRESULT result = pass();
      CaptionMaybeChanged(captionCopy2_);
      return result;
    }
    case WM_SETCURSOR: {
      const LRESULT result = pass();
      CaptionMaybeChanged(captionCopy1_);
      return result;
    }
    case WM_PAINT: {
      form_->SetControlState(form_->ControlState() | csCustomPaint);
      if (form_->Visible()) {
        PAINTSTRUCT ps;
        DC* dc = BeginPaint(hwnd, ps);
        PaintAll();
        if (dc != nullptr) {
          const Point o = ClientOrigin();
          Bitmap& cache = style_.CacheBmp.Image();
          DC src(&cache);
          Rect client;
          (void)GetClientRect(hwnd, client);
          dc->BitBlt(0, 0, client.Width(), client.Height(), src, o.X, o.Y);
          // The form's graphic controls on top of the background.
          inherited(hwnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
          // Labels show a copy of this background, which may just have changed.
          for (int i = 0; i < form_->ControlCount(); ++i)
            if (auto* label = dynamic_cast<TsLabel*>(form_->Controls(i));
                label != nullptr && ControlIsReady(label))
              label->Repaint();
        }
        EndPaint(hwnd, ps);
      }
      form_->SetControlState(form_->ControlState() & ~unsigned(csCustomPaint));
      NeedRepaint = false;
      return 1;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_GETMINMAXINFO: {
      if (auto* info = reinterpret_cast<MINMAXINFO*>(lParam)) {
        Rect work;
        SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
        info->ptMaxTrackSize = {work.Width() + 6, work.Height() + 6};
      }
      return pass();
    }
    case WM_WINDOWPOSCHANGED:
    case WM_EXITSIZEMOVE: {
      // The size message sent meanwhile settles the bars, which may let a pending release
      // of the form run: the form goes, this provider with it.
      const TComponentWatch self(this);
      const LRESULT result = pass();
      if (!self.Alive()) return result;
      const Bitmap& cache = style_.CacheBmp.Image();
      if (cache.Width() != form_->Width() || cache.Height() != form_->Height()) {
        if (!creating) NeedRepaint = true;
        regionChanged_ = true;
        RegionSet = false;
        // A form not on the screen yet (sized while it is created) is painted when it shows:
        // a paint now would clear NeedRepaint and leave the cache at its old size.
        if (IsWindowVisible(hwnd)) {
          SendMessage(hwnd, WM_PAINT, 0, 0);
          SendMessage(hwnd, WM_NCPAINT, 0, 0);
        }
        for (int i = 0; i < form_->ControlCount(); ++i)
          if (dynamic_cast<TWinControl*>(form_->Controls(i)) != nullptr)
            form_->Controls(i)->Perform(SKM_UPDATETRANSPARENT, 0, 0);
      }
      return result;
    }
    case WM_SIZING: {
      const LRESULT result = pass();
      const Bitmap& cache = style_.CacheBmp.Image();
      if (cache.Width() != form_->Width() || cache.Height() != form_->Height()) {
        if (!creating) NeedRepaint = true;
        if (mdiForm_ != nullptr) mdiForm_->UpdateScrollBars();
      }
      return result;
    }
    case WM_NCHITTEST: {
      if (!HasBorder()) return pass();
      const int hit = HitTest(WindowPoint(LParamPoint(lParam)));
      if (hit == HTNOWHERE || hit == HTCAPTION) {
        SetHotButton(0);
        if (hit == HTCAPTION && form_->WindowState() == TWindowState::wsMaximized) return hit;
        return pass();
      }
      return hit;
    }
    case WM_NCPAINT: {
      if (form_->Visible() && !form_->HasState(csLoading)) {
        PaintAll();
        // The region is set again only when it changed: setting it redraws the frame, so
        // setting it on every WM_NCPAINT would never end.
        if (regionChanged_) {
          RebuildCutRects();
          RegionSet = false;
        }
        if (!RegionSet) UpdateRegion();
        if (DC* dc = GetWindowDC(hwnd)) {
          const int saved = dc->SaveDC();
          PaintNC(*dc);
          dc->RestoreDC(saved);
          ReleaseDC(hwnd, dc);
        }
      }
      return 1;
    }
    case WM_NCACTIVATE: {
      const LRESULT result = pass();
      if (creating) return result;
      if (!ScrollBarsReady) {
        if (!UpdateFormScrollBars()) return result;
        ScrollBarsReady = true;
      }
      if (HasBorder() && FormActive != (wParam != 0)) {
        FormActive = wParam != 0;
        NeedRepaint = true;
      }
      if (MaximizedMDIChild() != nullptr) {
        // The child's buttons in the menu line follow the main form's activation.
        FormActive = wParam != 0 || Screen()->ActiveForm() == form_->ActiveMDIChild();
        NeedRepaint = true;
      }
      // MDI children are told of their activation here and by WM_MDIACTIVATE, never by
      // WM_ACTIVATE: the steps that follow an activation run here as well.
      ActivationSteps(hwnd);
      RepaintFrame();
      if (!MenuRefreshed) {
        MenuRefreshed = true;
        RefreshMenuBar();
      }
      return result;
    }
    case WM_NCLBUTTONDOWN: {
      const int code = static_cast<int>(wParam);
      switch (code) {
        case HTSYSMENU: {
          SetHotButton(0);
          Rect wr;
          (void)GetWindowRect(hwnd, wr);
          ShowSystemMenu({wr.Left + SysBorderHeight(),
                          wr.Top + SysBorderWidth() + GetSystemMetrics(SM_CYSMICON)});
          return 1;
        }
        case HTMINBUTTON:
        case HTMAXBUTTON:
        case HTCLOSE:
        case HTHELP:
        case HTMDICLOSE:
        case HTMDIRESTORE:
        case HTMDIMINIMIZE:
          SetPressedButton(code);
          return 1;
        default:
          if (form_->WindowState() == TWindowState::wsMinimized) {
            // The drag's loop takes the button's release: it is told here once it ends.
            SendMessage(hwnd, WM_SYSCOMMAND, SC_MOVE + 2, lParam);
            if (IsWindow(hwnd)) SendMessage(hwnd, WM_NCLBUTTONUP, wParam, lParam);
            return 1;
          }
          SetHotButton(0);
          if (form_->WindowState() == TWindowState::wsMaximized &&
              WindowPoint(LParamPoint(lParam)).Y <= SysBorderWidth() + CaptionHeight())
            return 1;
          return pass();
      }
    }
    case WM_LBUTTONUP: {
      // A release in the client area only lets a pressed caption button go.
      if (hotButton_ != 0) SetHotButton(0);
      return pass();
    }
    case WM_NCLBUTTONUP: {
      const int code = static_cast<int>(wParam);
      // Only the button that was pressed acts: a press elsewhere (or on another button)
      // released over a button must not close or minimise the form.
      const bool wasPressed = hotButton_ == code && Button(code).State == 2;
      switch (code) {
        case HTHELP:
          SetHotButton(0);
          if (wasPressed) SendMessage(hwnd, WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
          systemMenu_->UpdateItems();
          return 1;
        case HTMINBUTTON:
          SetHotButton(0);
          if (wasPressed) {
            MinimizeForm();
            systemMenu_->UpdateItems();
            NeedRepaint = true;
            // A hidden form's paint would only clear NeedRepaint.
            if (form_->Visible()) {
              SendMessage(hwnd, WM_PAINT, 0, 0);
              SendMessage(hwnd, WM_NCPAINT, 0, 0);
            }
          }
          return 1;
        case HTMAXBUTTON:
          SetHotButton(0);
          if (wasPressed) {
            SendMessage(
                hwnd, WM_SYSCOMMAND,
                form_->WindowState() == TWindowState::wsMaximized ? SC_RESTORE : SC_MAXIMIZE, 0);
            NeedRepaint = true;
            systemMenu_->UpdateItems();
            RepaintFrame();
          }
          return 1;
        case HTCLOSE:
          buttons_[kClose].State = 0;
          hotButton_ = 0;
          if (wasPressed) SendMessage(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          return 1;
        case HTMDICLOSE:
        case HTMDIRESTORE:
        case HTMDIMINIMIZE:
          SetHotButton(0);
          if (TCustomForm* child = form_->ActiveMDIChild(); child != nullptr && wasPressed)
            SendMessage(child->Handle(), WM_SYSCOMMAND,
                        code == HTMDICLOSE     ? SC_CLOSE
                        : code == HTMDIRESTORE ? SC_RESTORE
                                               : SC_MINIMIZE,
                        0);
          return 1;
        default:
          if (form_->WindowState() != TWindowState::wsMinimized) return pass();
          if (MDIFormProvider != nullptr) {
            SetHotButton(0);
            ShowSystemMenu(GetCursorPos());
          }
          return 1;
      }
    }
    case WM_NCLBUTTONDBLCLK:
      if (wParam == HTCAPTION && (systemMenu_->EnabledMax() || systemMenu_->EnabledRestore())) {
        if (form_->WindowState() != TWindowState::wsMaximized)
          SendMessage(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
        else
          form_->SetWindowState(TWindowState::wsNormal);
        systemMenu_->UpdateItems();
      } else if (wParam == HTSYSMENU) {
        form_->Close();
      }
      return 1;
    case WM_NCRBUTTONDOWN:
      if (wParam == HTCAPTION || wParam == HTSYSMENU) return 1;
      pass();
      return 1;
    case WM_NCRBUTTONUP:
      if (wParam == HTCAPTION || wParam == HTSYSMENU) {
        SetHotButton(0);
        ShowSystemMenu(LParamPoint(lParam));
      }
      return 1;
    case WM_COMMAND: {
      const unsigned high = HIWORD(wParam);
      if (high == 0x400) return 0;
      const LRESULT result = pass();
      if (high == 0x300) RepaintFrame();
      return result;
    }
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE:
    case CM_MOUSELEAVE:
      SetHotButton(0);
      return pass();
    case SKM_GETPROVIDER:
      return reinterpret_cast<LRESULT>(this);
    case CM_MENUBARLAYOUT:
      if (auto* layout = reinterpret_cast<TMenuBarLayout*>(lParam)) {
        PaintAll();
        *layout = menuLineLayout_;
      }
      return 0;
    case CM_MENUBARCHANGED:
      NeedRepaint = true;
      return pass();
    case SKM_REPAINT:
      if (!form_->HasState(csLoading)) {
        NeedRepaint = true;
        TitleStrip.reset();
        form_->Repaint();
        if (form_->Visible()) SendMessage(hwnd, WM_NCPAINT, 0, 0);
        if (const HWND client = form_->ClientHandle()) {
          SendMessage(client, WM_SIZE, 0, 0);
          SendMessage(client, WM_NCPAINT, 0, 0);
        }
      }
      return pass();
    case SKM_GETBGINFO:
      if (!form_->HasState(csLoading)) {
        PaintAll();
        ParentBGInfo = CacheAsParent();
      }
      return 0;
    default:
      return pass();
  }
}

TsSkinProvider* GetSkinProvider(TControl* control) {
  TComponent* c = control;
  while (c != nullptr && dynamic_cast<TCustomForm*>(c) == nullptr) c = c->Owner();
  auto* form = static_cast<TCustomForm*>(c);
  if (form == nullptr) return nullptr;
  return reinterpret_cast<TsSkinProvider*>(SendMessage(form->Handle(), SKM_GETPROVIDER, 0, 0));
}

}  // namespace qv
