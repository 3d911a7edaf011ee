#include "skin/smdiform.h"

#include <algorithm>

#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/mdi.h"
#include "platform/ui/window_system.h"
#include "skin/scontrolutils.h"
#include "skin/spanels.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "skin/sstyles.h"

namespace qv {

namespace {

// How far the client's ranges start below 0, and set while the bars are being changed
// here, so that their change handlers do not scroll the client back.
int HorzShift = 0;
int VertShift = 0;
bool Reentering = false;

constexpr int kBand = 2;  // the client's frame

}  // namespace

int TsMDIForm::RangeShift(bool vertical) {
  return vertical ? VertShift : HorzShift;
}

TsMDIForm::TsMDIForm(TsSkinProvider* provider) : form_(provider->Form()), provider_(provider) {
  form_->HandleNeeded();
  childItem_ = std::make_unique<TMenuItem>(nullptr);
  childItem_->SetName("sMDICII");
  auto add = [this](const char* caption, const char* name, WPARAM command) {
    auto* item = new TMenuItem(childItem_.get());
    item->SetCaption(caption);
    item->SetName(name);
    if (command != 0) {
      item->OnClick = [this, command](TComponent*) {
        if (TCustomForm* child = form_->ActiveMDIChild())
          SendMessage(child->Handle(), WM_SYSCOMMAND, command, 0);
      };
    }
    childItem_->Add(item);
    return item;
  };
  add("Restore", "ItemMDIRestore", SC_RESTORE);
  add("Minimize", "ItemMDIMinimize", SC_MINIMIZE);
  add("-", "", 0);
  add("Close", "ItemMDIClose", SC_CLOSE)
      ->SetShortCut(static_cast<std::uint16_t>(unsigned(scCtrl) | unsigned(VK_F4)));
  HookClient();
}

TsMDIForm::~TsMDIForm() {
  if (hookId_ != 0 && IsWindow(hookedClient_)) RemoveWindowSubclass(hookedClient_, hookId_);
  FreeBars();
}

HWND TsMDIForm::Client() const {
  return form_->ClientHandle();
}

bool TsMDIForm::FormBusy() const {
  return form_->HasState(csDestroying) || (form_->ControlState() & csCreating) != 0;
}

void TsMDIForm::HookClient() {
  const HWND client = Client();
  if (client == 0) return;
  hookedClient_ = client;
  hookId_ = SubclassWindow(
      client, [this](HWND hwnd, UINT msg, WPARAM w, LPARAM l, const WndProc& inherited) {
        return ClientProc(hwnd, msg, w, l, inherited);
      });
}

bool TsMDIForm::ChildMaximized() const {
  bool zoomed = false;
  if (Client() != 0) SendMessage(Client(), WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&zoomed));
  return zoomed;
}

int TsMDIForm::AlignedSize(TAlign align) const {
  int size = 0;
  for (int i = 0; i < form_->ControlCount(); ++i) {
    const TControl* c = form_->Controls(i);
    if (!c->Visible() || c->Align() != align) continue;
    size += (align == TAlign::alTop || align == TAlign::alBottom) ? c->Height() : c->Width();
  }
  return size;
}

Rect TsMDIForm::FormClient() const {
  Rect r;
  if (!form_->HandleAllocated() || !GetClientRect(form_->Handle(), r)) return form_->ClientRect();
  return r;
}

int TsMDIForm::MDIAreaWidth() const {
  return FormClient().Width() - AlignedSize(TAlign::alLeft) - AlignedSize(TAlign::alRight);
}

int TsMDIForm::MDIAreaHeight() const {
  return FormClient().Height() - AlignedSize(TAlign::alTop) - AlignedSize(TAlign::alBottom);
}

// The client window lies where the provider puts the form's client area, past the
// controls aligned to the left and top.
int TsMDIForm::MDIOffsetX() const {
  return AlignedSize(TAlign::alLeft) + provider_->ClientOrigin().X;
}

int TsMDIForm::MDIOffsetY() const {
  return AlignedSize(TAlign::alTop) + provider_->ClientOrigin().Y;
}

void TsMDIForm::UpdateMDIMenu() {
  TMainMenu* menu = form_->Menu();
  if (menu != nullptr) {
    TMenuItem* items = menu->Items();
    const bool first = items->Count() > 0 && items->Items(0) == childItem_.get();
    // The item stands for the maximised child's frame buttons, which only the skin hides.
    const bool zoomed = provider_->Acting() && ChildMaximized();
    if (zoomed && !first) {
      if (childItem_->Parent() != nullptr) childItem_->Parent()->Remove(childItem_.get());
      items->Insert(0, childItem_.get());
      // Skinned, the item measures and draws itself in the menu line like its neighbours.
      if (TsSkinManager* manager = provider_->SkinManager())
        manager->SkinableMenus().HookItem(childItem_.get(), SkinData.Active);
      RefreshMenuBar(*form_);
    } else if (!zoomed && first) {
      items->Remove(childItem_.get());
      RefreshMenuBar(*form_);
    }
  }
  if (!Reentering) UpdateScrollBars();
}

// Copies the cached window image under `area` onto the DC, whose origin lies `inset`
// pixels inside the client window's top-left.
void TsMDIForm::CopyFromCache(DC& dc, Rect area, int inset) {
  Bitmap& cache = provider_->sStyle().CacheBmp.Image();
  DC src(&cache);
  dc.BitBlt(area.Left, area.Top, area.Width(), area.Height(), src, MDIOffsetX() + inset + area.Left,
            MDIOffsetY() + inset + area.Top);
}

LRESULT TsMDIForm::ClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              const WndProc& inherited) {
  if (msg == WM_NCDESTROY) {
    hookId_ = 0;
    hookedClient_ = 0;
  }
  if (!provider_->Acting()) return inherited(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_SIZE:
    case WM_HSCROLL:
    case WM_VSCROLL: {
      const LRESULT result = inherited(hwnd, msg, wParam, lParam);
      InvalidateRect(hwnd, nullptr, true);
      return result;
    }
    case WM_ERASEBKGND: {
      auto* dc = reinterpret_cast<DC*>(wParam);
      if (dc != nullptr && !ChildMaximized()) {
        provider_->PaintAll();
        const int saved = dc->SaveDC();
        CopyFromCache(*dc, {0, 0, MDIAreaWidth() + 4, MDIAreaHeight() + 4}, kBand);
        dc->RestoreDC(saved);
      }
      return 1;
    }
    case WM_NCPAINT: {
      if (ChildMaximized()) {
        TCustomForm* child = form_->ActiveMDIChild();
        if (child != nullptr && child->ControlCount() > 0) RefreshChildren(child, false);
        return 1;
      }
      provider_->PaintAll();
      if (DC* dc = GetWindowDC(hwnd)) {
        const int w = MDIAreaWidth();
        const int h = MDIAreaHeight();
        for (const Rect& band : {Rect{0, 0, w, kBand}, Rect{0, kBand, kBand, h},
                                 Rect{kBand, h - kBand, w, h}, Rect{w - kBand, kBand, w, h}})
          CopyFromCache(*dc, band, 0);
        ReleaseDC(hwnd, dc);
      }
      return 1;
    }
    default:
      return inherited(hwnd, msg, wParam, lParam);
  }
}

// The client's own bar of a direction, rebased to start at 0; false when no skinned bar
// is wanted for it.
bool TsMDIForm::ReadSystemBar(bool vertical, SystemBar& bar) {
  int& shift = vertical ? VertShift : HorzShift;
  shift = 0;
  bool wanted = false;
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  SCROLLBARINFO sbi;
  const HWND client = Client();
  if (client != 0 && GetScrollInfo(client, vertical ? SB_VERT : SB_HORZ, si) &&
      GetScrollBarInfo(client, vertical ? OBJID_VSCROLL : OBJID_HSCROLL, sbi) &&
      !(sbi.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_UNAVAILABLE))) {
    shift = si.nMin;
    int page = int(si.nPage);
    int max = si.nMax;
    if (shift < 0 && max < page) {
      max = std::max(si.nPos - shift, 1);
      page = max + 1;
    } else {
      max = max - page - shift + 1;
    }
    // Nothing left to scroll: no bar, which could only show an empty range.
    if (max > 0) {
      bar.max = max;
      bar.page = page;
      bar.pos = si.nPos - shift;
      bar.min = 0;
      const Rect& r = sbi.rcScrollBar;
      bar.rect = vertical ? Rect{r.Left, r.Top - 2, r.Right + 1, r.Bottom + 2}
                          : Rect{r.Left - 1, r.Top, r.Right + 1, r.Bottom + 2};
      wanted = true;
    }
  }
  if (!SkinData.Active) HideBars();
  return wanted;
}

void TsMDIForm::Forget(const TComponent* component) {
  if (component == vBar_) vBar_ = nullptr;
  if (component == hBar_) hBar_ = nullptr;
  if (component == grip_) grip_ = nullptr;
}

// Hidden, not freed: the bar may be the very control whose message (its button's release)
// led here, and it must outlive that message. Shown again when wanted again.
void TsMDIForm::HideBars() {
  for (TControl* c : {static_cast<TControl*>(vBar_), static_cast<TControl*>(hBar_), grip_})
    if (c != nullptr) c->SetVisible(false);
}

void TsMDIForm::FreeBars() {
  delete vBar_;
  vBar_ = nullptr;
  delete hBar_;
  hBar_ = nullptr;
  delete grip_;
  grip_ = nullptr;
}

void TsMDIForm::ScrollClient(bool vertical, TsScrollBar* bar) {
  if (Reentering || FormBusy() || Client() == 0) return;
  Reentering = true;
  const int pos = bar->Position() + (vertical ? VertShift : HorzShift);
  SendMessage(Client(), vertical ? WM_VSCROLL : WM_HSCROLL,
              MAKELONG(SB_THUMBPOSITION, static_cast<std::uint16_t>(pos)), 0);
  Reentering = false;
}

void TsMDIForm::UpdateScrollBars() {
  if (Reentering || FormBusy() || !SkinData.Active || Client() == 0) return;
  if (ChildMaximized()) {
    HideBars();
    return;
  }
  for (const bool vertical : {true, false}) {
    TsScrollBar*& bar = vertical ? vBar_ : hBar_;
    SystemBar sys;
    if (!ReadSystemBar(vertical, sys)) {
      if (bar != nullptr && bar->Visible()) {
        bar->SetVisible(false);
        form_->Invalidate();
      }
      continue;
    }
    if (bar == nullptr) {
      bar = new TsScrollBar(provider_);
      bar->SetVisible(false);
      bar->SetTabStop(false);
      bar->SetKind(vertical ? TScrollBarKind::sbVertical : TScrollBarKind::sbHorizontal);
      bar->SmallChange = 8;
      bar->LargeChange = 80;
      bar->LinkedOwner = provider_;
      bar->LinkedForm = form_;
      bar->SetParent(form_);
      bar->OnChange = [this, vertical](TComponent* sender, int) {
        ScrollClient(vertical, static_cast<TsScrollBar*>(sender));
      };
      bar->OnMouseUp = [this](TComponent*, TMouseButton, TShiftState, int, int) {
        // The messages let run may free the form (a release of it was pending), and its
        // provider and this object with it.
        const TComponentWatch provider(provider_);
        SendMessage(Client(), WM_SIZE, 0, 0);
        Application()->ProcessMessages();
        if (provider.Alive()) UpdateScrollBars();
      };
    }
    Reentering = true;
    bar->SetPageSize(sys.page);
    bar->LargeChange = std::max(sys.page, 1);
    bar->SetParams(sys.pos, sys.min, sys.max);
    Reentering = false;
    Point topLeft{sys.rect.Left, sys.rect.Top};
    ScreenToClient(form_->Handle(), topLeft);
    bar->SetBounds(topLeft.X, topLeft.Y, sys.rect.Width(), sys.rect.Height());
    bar->SetVisible(true);
    bar->BringToFront();
  }
  if (VertBar() != nullptr && HorzBar() != nullptr) {
    if (grip_ == nullptr) grip_ = MakeSkinGrip(*provider_, *form_);
    grip_->SetBounds(vBar_->Left(), hBar_->Top(), vBar_->Width(), hBar_->Height());
    grip_->SetVisible(true);
  } else if (grip_ != nullptr) {
    grip_->SetVisible(false);
  }
}

}  // namespace qv
