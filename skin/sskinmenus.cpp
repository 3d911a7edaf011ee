#include "skin/sskinmenus.h"

#include <algorithm>
#include <cmath>

#include "platform/classlib/commctrl.h"
#include "platform/classlib/forms.h"
#include "skin/scontrolutils.h"
#include "skin/sfadeeffects.h"
#include "skin/smdiform.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"

namespace qv {

namespace {

// The handlers as functors that carry their object, so that unhooking can tell its own
// handlers from the application's.
struct PopupMeasure {
  TsSkinableMenus* owner;
  void operator()(TComponent* s, TCanvas& c, int& w, int& h) const {
    owner->MeasureItem(s, c, w, h);
  }
};
struct PopupDraw {
  TsSkinableMenus* owner;
  void operator()(TComponent* s, TCanvas& c, const Rect& r, TOwnerDrawState st) const {
    owner->DrawItem(s, c, r, st);
  }
};
struct BarMeasure {
  TsSkinableMenus* owner;
  void operator()(TComponent* s, TCanvas& c, int& w, int& h) const {
    owner->MeasureMenuBarItem(s, c, w, h);
  }
};
struct BarDraw {
  TsSkinableMenus* owner;
  void operator()(TComponent* s, TCanvas& c, const Rect& r, TOwnerDrawState st) const {
    owner->DrawMenuBarItem(s, c, r, st);
  }
};

template <class Handler, class Event>
bool IsOurs(const Event& event, const TsSkinableMenus* owner) {
  const Handler* h = event.template target<Handler>();
  return h != nullptr && h->owner == owner;
}

// The menu the item belongs to, through its parents to the menu's root item.
TMenu* MenuOf(const TMenuItem* item) {
  while (item->Parent() != nullptr) item = item->Parent();
  return dynamic_cast<TMenu*>(item->Owner());
}

bool IsMenuBarItem(const TMenuItem* item) {
  const TMenuItem* parent = item->Parent();
  return parent != nullptr && parent->Parent() == nullptr &&
         dynamic_cast<TMainMenu*>(parent->Owner()) != nullptr;
}

TCustomForm* FormOf(TComponent* c) {
  while (c != nullptr && dynamic_cast<TCustomForm*>(c) == nullptr) c = c->Owner();
  return static_cast<TCustomForm*>(c);
}

const ImageList* ImagesOf(const TMenuItem& item) {
  const TMenu* menu = MenuOf(&item);
  return menu != nullptr ? menu->Images() : nullptr;
}

bool HasImage(const TMenuItem& item) {
  const ImageList* images = ImagesOf(item);
  return images != nullptr && item.ImageIndex() >= 0 &&
         item.ImageIndex() < int(images->images.size());
}

void UseMenuFont(TCanvas& canvas) {
  canvas.Font().Assign(Screen()->MenuFont());
}

}  // namespace

TsMenuItemType MenuItemType(const TMenuItem& item) {
  const std::string& c = item.Caption();
  if (c == "-") return smDivider;
  if (c.size() > 1 && c.front() == '-' && c.back() == '-') return smCaption;
  return smNormal;
}

TsSkinableMenus::TsSkinableMenus(TsSkinManager* manager) : manager_(manager) {}

TsSkinableMenus::~TsSkinableMenus() {
  // Items that outlive this object (menus of forms the application does not own, menus
  // hooked while another manager was in use) must not keep handlers into it.
  while (!hooked_.empty()) Unhook(hooked_.back());
  manager_ = nullptr;
  ClearCache(true);
}

void TsSkinableMenus::Track(TMenuItem* item) {
  const bool ours = IsOurs<BarDraw>(item->OnAdvancedDrawItem, this) ||
                    IsOurs<PopupDraw>(item->OnAdvancedDrawItem, this) ||
                    IsOurs<BarMeasure>(item->OnMeasureItem, this) ||
                    IsOurs<PopupMeasure>(item->OnMeasureItem, this);
  const auto it = std::find(hooked_.begin(), hooked_.end(), item);
  if (ours && it == hooked_.end()) {
    hooked_.push_back(item);
    if (manager_ != nullptr) manager_->FreeNotification(item);
  } else if (!ours && it != hooked_.end()) {
    hooked_.erase(it);
    if (manager_ != nullptr) manager_->RemoveFreeNotification(item);
  }
}

void TsSkinableMenus::Unhook(TMenuItem* item) {
  if (IsOurs<BarDraw>(item->OnAdvancedDrawItem, this) ||
      IsOurs<PopupDraw>(item->OnAdvancedDrawItem, this))
    item->OnAdvancedDrawItem = nullptr;
  if (IsOurs<BarMeasure>(item->OnMeasureItem, this) ||
      IsOurs<PopupMeasure>(item->OnMeasureItem, this))
    item->OnMeasureItem = nullptr;
  Track(item);
}

void TsSkinableMenus::Forget(const TComponent* component) {
  const auto it = std::find(hooked_.begin(), hooked_.end(), component);
  if (it != hooked_.end()) hooked_.erase(it);
}

void TsSkinableMenus::Walk(TComponent* owner, bool active) {
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* c = owner->Components(i);
    if (auto* main = dynamic_cast<TMainMenu*>(c)) {
      HookMainMenu(main, active);
    } else if (auto* popup = dynamic_cast<TPopupMenu*>(c)) {
      HookPopupMenu(popup, active);
    } else if (auto* item = dynamic_cast<TMenuItem*>(c)) {
      if (dynamic_cast<TMainMenu*>(MenuOf(item)) == nullptr) HookItem(item, active);
    }
    Walk(c, active);
  }
}

void TsSkinableMenus::UpdateMenus(bool active) {
  if (manager_ != nullptr && manager_->HasState(csDesigning)) return;
  // Only the application there is: while the program ends it may be on its way out, and a
  // new one made here would outlive the window system.
  TApplication* app = ExistingApplication();
  if (app == nullptr || app->HasState(csDestroying)) return;
  Walk(app, active);
}

void TsSkinableMenus::ApplySkinState() {
  UpdateMenus(SkinData.Active);
}

void TsSkinableMenus::HookMainMenu(TMainMenu* menu, bool active) {
  if (menu == nullptr) return;
  menu->SetOwnerDraw(active);
  TMenuItem* root = menu->Items();
  for (int i = 0; i < root->Count(); ++i) {
    TMenuItem* item = root->Items(i);
    if (active && SkinData.Active) {
      item->OnAdvancedDrawItem = BarDraw{this};
      item->OnMeasureItem = BarMeasure{this};
      Track(item);
    } else if (!active) {
      Unhook(item);
    }
    // The items of the bar's popups are hooked here: no message asks for them when they
    // are shown.
    for (int k = 0; k < item->Count(); ++k) HookItem(item->Items(k), active);
  }
}

void TsSkinableMenus::HookPopupMenu(TPopupMenu* menu, bool active) {
  if (menu == nullptr) return;
  menu->SetOwnerDraw(active);
  TMenuItem* root = menu->Items();
  for (int i = 0; i < root->Count(); ++i) HookItem(root->Items(i), active);
}

void TsSkinableMenus::HookItem(TMenuItem* item, bool active) {
  if (item == nullptr) return;
  const bool bar = IsMenuBarItem(item);
  if (active) {
    if (bar) {
      item->OnAdvancedDrawItem = BarDraw{this};
      item->OnMeasureItem = BarMeasure{this};
    } else {
      if (!item->OnAdvancedDrawItem) item->OnAdvancedDrawItem = PopupDraw{this};
      if (!item->OnMeasureItem) item->OnMeasureItem = PopupMeasure{this};
    }
    Track(item);
  } else {
    Unhook(item);
  }
  for (int i = 0; i < item->Count(); ++i) HookItem(item->Items(i), active);
}

void TsSkinableMenus::ClearCache(bool all) {
  if (all) cache_.clear();
}

bool TsSkinableMenus::IsMDIChildMaximized() const {
  if (MDIFormProvider == nullptr || MDIFormProvider->Form() == nullptr) return false;
  if (MDIFormProvider->Form()->FormStyle() != TFormStyle::fsMDIForm) return false;
  const TsMDIForm* mdi = MDIFormProvider->MDIForm();
  if (mdi == nullptr || !mdi->ChildMaximized()) return false;
  // Every form carries an icon object (empty: the application's icon is shown), so the
  // active maximised child always has one.
  TCustomForm* child = MDIFormProvider->Form()->ActiveMDIChild();
  return child != nullptr && child->WindowState() == TWindowState::wsMaximized;
}

Size TsSkinableMenus::GlyphSize(const TMenuItem& item) const {
  const ImageList* images = ImagesOf(item);
  return images != nullptr ? Size{images->cx, images->cy} : Size{16, 16};
}

int TsSkinableMenus::MeasureItemHeight(TCanvas& canvas, TMenuItem* item) {
  const TsMenuItemType type = MenuItemType(*item);
  if (type == smDivider) return 2;
  int h = int(std::nearbyint(1.25 * canvas.TextHeight("W")));
  if (type == smNormal) h = std::max(h, GlyphSize(*item).cy);
  return h + 2 * Margin;
}

void TsSkinableMenus::MeasureItem(TComponent* sender, TCanvas& canvas, int& width, int& height) {
  auto* item = dynamic_cast<TMenuItem*>(sender);
  if (item == nullptr) return;
  UseMenuFont(canvas);
  const TsMenuItemType type = MenuItemType(*item);
  std::string text;
  if (type == smCaption)
    text = "-" + item->Caption() + "-";
  else if (type == smNormal)
    text = item->Caption() + ShortCutToText(item->ShortCut());
  width = canvas.TextWidth(text) + 2 * GlyphSize(*item).cx + 3 * Margin;
  height = MeasureItemHeight(canvas, item);
}

TBitmap* TsSkinableMenus::BackgroundFor(TMenuItem* popup, int width, const TMenuItem* item,
                                        int& top) {
  top = 0;
  if (popup == nullptr) return nullptr;
  TBitmap measure(1, 1);
  UseMenuFont(measure.Canvas());
  int height = 0;
  for (int i = 0; i < popup->Count(); ++i) {
    if (popup->Items(i) == item) top = height;
    if (popup->Items(i)->Visible()) height += MeasureItemHeight(measure.Canvas(), popup->Items(i));
  }
  // Kept per popup and painted again when the popup's size changed (items came or went).
  auto it = std::find_if(cache_.begin(), cache_.end(),
                         [&](const Background& b) { return b.popup == popup; });
  if (it != cache_.end() && it->bmp->Width() == width && it->bmp->Height() == height)
    return it->bmp.get();
  if (it == cache_.end()) it = cache_.insert(cache_.end(), Background{popup, nullptr});
  it->bmp = std::make_unique<TBitmap>(std::max(width, 1), std::max(height, 1));
  it->bmp->Canvas().Handle()->FillRect({0, 0, it->bmp->Width(), it->bmp->Height()},
                                       Brush{BrushStyle::bsSolid, clMenu});
  if (const int index = GetSkinIndex("MAINMENU"); index >= 0)
    PaintItemBGFast(index, "MAINMENU", DefaultPaintInfo, *it->bmp->Canvas().Handle(), {0, 0},
                    {0, 0, width, height}, 0, false);
  return it->bmp.get();
}

void TsSkinableMenus::DrawItem(TComponent* sender, TCanvas& canvas, const Rect& r,
                               TOwnerDrawState state) {
  auto* item = dynamic_cast<TMenuItem*>(sender);
  DC* target = canvas.Handle();
  if (item == nullptr || target == nullptr || r.IsEmpty()) return;
  const TsMenuItemType type = MenuItemType(*item);
  if (type == smDivider) {
    // An etched line: grey above white.
    Rect line{r.Left + BorderWidth + Margin, r.Top, r.Right - BorderWidth - Margin, r.Bottom};
    PaintFrame3D(*target, line, TColor(0x808080), 1, clWhite);
    return;
  }
  if (type == smCaption) return;
  const int w = r.Width();
  const int h = r.Height();
  const bool selected = (state & odSelected) != 0;
  const bool hot = (state & (odSelected | odHotLight)) != 0;
  TBitmap b(w, h);
  DC* dc = b.Canvas().Handle();
  // The item's slice of the background: by its place among the popup's items, not by where
  // the popup window puts its rows.
  int top = 0;
  TBitmap* bg = BackgroundFor(item->Parent(), w, item, top);
  if (bg != nullptr) CopyBitmapRect(b.Image(), {0, 0}, bg->Image(), {0, top, w, top + h});
  const int itemIndex = GetSkinIndex("MENUITEM");
  if (itemIndex >= 0)
    PaintItemBGFast(itemIndex, "MENUITEM", TsBGInfo{bg, 0, 0, bg != nullptr}, *dc, {0, top},
                    {0, 0, w, h}, selected ? 1 : 0, true);
  const Size glyph = GlyphSize(*item);
  if (item->Checked()) {
    const int top = (h - glyph.cy) / 2;
    Rect box{Margin, top, Margin + glyph.cx, top + glyph.cy};
    FadeRect(b.Image(), {box.Left, box.Top, box.Right - 1, box.Bottom - 1}, 50, clWhite);
    Rect frame = box;
    PaintFrame3D(*dc, frame, TColor(0x808080), 1, clWhite);
    if (!HasImage(*item)) DrawTick(*dc, box, item->Enabled(), clBlack);
  }
  if (HasImage(*item)) {
    const ImageList& images = *ImagesOf(*item);
    const int d = (h - images.cy) / 2;
    DrawImage(*dc, images, item->ImageIndex(), d, d, item->Enabled());
  }
  TCanvas& bc = b.Canvas();
  UseMenuFont(bc);
  bc.Font().SetStyle((state & odDefault) ? TFontStyles(fsBold) : TFontStyles(0));
  Rect text{glyph.cx + 2 * Margin, 0, w, h};
  WriteTextExt(bc, item->Caption(), item->Enabled(), text, AlignmentFlag(Alignment) | DT_VCENTER,
               itemIndex, hot);
  const std::string keys = ShortCutToText(item->ShortCut());
  if (!keys.empty()) {
    Rect keyRect{w - (glyph.cx + 2 * Margin), 0, w - 8, h};
    WriteTextExt(bc, keys, item->Enabled(), keyRect, DT_RIGHT | DT_VCENTER, itemIndex, hot);
  }
  if (OnDrawItem) OnDrawItem(item, bc, {0, 0, w, h}, state, type);
  target->BitBlt(r.Left, r.Top, w, h, *b.Canvas().Handle(), 0, 0);
}

void TsSkinableMenus::MeasureMenuBarItem(TComponent* sender, TCanvas& canvas, int& width,
                                         int& height) {
  auto* item = dynamic_cast<TMenuItem*>(sender);
  if (item == nullptr) return;
  height = GetSystemMetrics(SM_CYMENU) - 1;
  int w = 8;
  if (item->Caption() != "-") {
    UseMenuFont(canvas);
    w = canvas.TextWidth(item->Caption() + ShortCutToText(item->ShortCut())) + Margin + 5;
    if (item->Caption().find('&') != std::string::npos) w -= canvas.TextWidth("&");
    // The line's ends make room for the child's icon and, at the right, for its buttons:
    // the ends of the line as drawn, which shows the child's merged items among the form's.
    if (IsMDIChildMaximized()) {
      const auto [first, last] = MDIFormProvider->MenuLineEnds();
      if (item == first) w += GetSystemMetrics(SM_CYMENU) - 2;
      if (item == last) w += 40;
    }
  }
  width = std::max(width, w);
}

void TsSkinableMenus::DrawMenuBarItem(TComponent* sender, TCanvas& canvas, const Rect& r,
                                      TOwnerDrawState state) {
  auto* item = dynamic_cast<TMenuItem*>(sender);
  if (item == nullptr || canvas.Handle() == nullptr) return;
  if (item->Name() == "sMDICII" || item->Caption() == "-") return;
  Rect R = r;
  if (IsMDIChildMaximized() && item == MDIFormProvider->MenuLineEnds().second) R.Right -= 40;
  const bool hot = (state & (odSelected | odHotLight)) != 0;
  // The MDI form's line shows the merged items of its children too; else the line is that
  // of the form of the item's menu.
  TsSkinProvider* provider = MDIFormProvider;
  if (provider == nullptr) {
    TMenu* menu = MenuOf(item);
    TCustomForm* form = FormOf(menu != nullptr ? static_cast<TComponent*>(menu) : item);
    provider = form != nullptr && form->HandleAllocated() ? GetSkinProvider(form) : nullptr;
  }
  if (provider != nullptr)
    PaintItemBGFast(GetSkinIndex("MENUITEM"), "MENUITEM",
                    TsBGInfo{&provider->MenuLineStrip(), 0, 0, true}, *canvas.Handle(),
                    {R.Left, R.Top - (provider->CaptionHeight() + provider->SysBorderWidth())}, R,
                    hot ? 1 : 0, true);
  UseMenuFont(canvas);
  canvas.Font().SetStyle((state & odDefault) ? TFontStyles(fsBold) : TFontStyles(0));
  const Rect textRect{R.Left + Margin, R.Top, R.Right - Margin, R.Bottom};
  Rect text = textRect;
  const int lineIndex = GetSkinIndex("MENULINE");
  WriteTextExt(canvas, item->Caption(), item->Enabled(), text,
               AlignmentFlag(Alignment) | DT_VCENTER, lineIndex, hot);
  const std::string keys = ShortCutToText(item->ShortCut());
  if (!keys.empty()) {
    Rect keyRect{textRect.Width(), R.Top, textRect.Right - 8, R.Bottom};
    WriteTextExt(canvas, keys, item->Enabled(), keyRect, DT_RIGHT | DT_VCENTER, lineIndex, hot);
  }
}

}  // namespace qv
