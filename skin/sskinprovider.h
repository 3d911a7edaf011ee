// The form provider: dropped on a form, it takes over the form's window procedure and
// draws the whole window from the current skin into one cached image (frame, title bar,
// icon, caption, caption buttons, menu line and the client background), answers the
// engine's questions about the form, shapes the window from the title's border mask,
// replaces the form's scroll bars by skinned ones and shows its own system menu. Without
// an active skin, or while suspended, every message passes unchanged, so the form looks
// and behaves as an ordinary window.
//
// The provider owns the non-client area while it acts: its WM_NCCALCSIZE answer puts the
// client area exactly where the cached image has it (left and right bands SysBorderHeight,
// the bottom band SysBorderWidth, the top band down to the client origin), so the painted
// frame and the window system's client area always line up.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/classlib/forms.h"
#include "platform/classlib/graphics.h"
#include "platform/classlib/menubar.h"
#include "platform/classlib/menus.h"
#include "platform/msg/window.h"
#include "skin/smessages.h"
#include "skin/sscrollbar.h"
#include "skin/sstyles.h"

namespace qv {

class TsMDIForm;
class TsSkinManager;
class TsSkinProvider;

// The provider of the MDI form, while there is one.
extern TsSkinProvider* MDIFormProvider;

using TsBorderIcons = TBorderIcons;

// Hit codes of the buttons of a maximised MDI child drawn in the menu line.
enum : int { HTMDICLOSE = 101, HTMDIRESTORE = 102, HTMDIMINIMIZE = 103 };

struct TsCaptionButton {
  int State = 0;        // 0 normal, 1 hot, 2 pressed
  int ImageIndex = -1;  // in SkinMasks; -1 when the skin has no glyph
  qv::Rect Rect;        // window coordinates; empty while the button is not shown
  int HitCode = 0;
};

// The provider's style object is the form style of the style objects.
using TsFormSkinLink = TsPassivePaintStyle;

class TsGrip;
// The skinned grip that fills the corner between two skinned scroll bars of `form`, owned
// by the provider and sizing that form.
[[nodiscard]] TsGrip* MakeSkinGrip(TsSkinProvider& provider, TCustomForm& form);

class TsSystemMenu : public TPopupMenu {
 public:
  TsSystemMenu(TsSkinProvider* provider, TCustomForm* form);
  [[nodiscard]] std::string ClassName() const override { return "TsSystemMenu"; }

  // Visibility and enabled state of the items from the form's state and border style.
  void UpdateItems();
  // The "Available skins" submenu from the manager's skin names (none without names).
  void MakeSkinItems();

  [[nodiscard]] bool VisibleRestore() const;
  [[nodiscard]] bool VisibleSize() const;
  [[nodiscard]] bool VisibleMax() const;
  [[nodiscard]] bool VisibleClose() const;
  [[nodiscard]] bool EnabledRestore() const;
  [[nodiscard]] bool EnabledMove() const;
  [[nodiscard]] bool EnabledSize() const;
  [[nodiscard]] bool EnabledMin() const;
  [[nodiscard]] bool EnabledMax() const;

  TMenuItem* ItemRestore = nullptr;
  TMenuItem* ItemMove = nullptr;
  TMenuItem* Itemsize = nullptr;
  TMenuItem* ItemMinimize = nullptr;
  TMenuItem* ItemMaximize = nullptr;
  TMenuItem* ItemClose = nullptr;

 private:
  TMenuItem* AddItem(const std::string& caption, const std::string& name,
                     const std::function<void()>& action);
  void SkinSelectClick(TComponent* sender);

  TsSkinProvider* provider_;
  TCustomForm* form_;
};

// The engine's messages (a new skin, its removal, repaints, background questions) reach the
// provider through the form's window, whose procedure it has taken over; the form style
// hears the broadcasts as one of the form's components, so that it hears them even while
// the form's window is new and not yet hooked.
class TsSkinProvider : public TComponent, public ISkinMessageTarget {
 public:
  explicit TsSkinProvider(TComponent* owner);
  ~TsSkinProvider() override;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinProvider"; }

  // Hooks the form's window procedure and looks up the skin's indexes.
  void AfterConstruction();
  // Hooks the form when that has not been done yet, then builds the "Available skins"
  // submenu (MakeSkinMenu).
  void Loaded() override;
  // A broadcast engine message goes to the form style.
  void SkinWndProc(TMessage& message) override { style_.WndProc(message); }

  [[nodiscard]] TsBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TsBorderIcons value) { borderIcons_ = value; }
  [[nodiscard]] TAlignment CaptionAlignment() const { return captionAlignment_; }
  void SetCaptionAlignment(TAlignment value);
  bool MakeSkinMenu = true;
  [[nodiscard]] bool ShowAppIcon() const { return showAppIcon_; }
  void SetShowAppIcon(bool value);

  [[nodiscard]] TCustomForm* Form() const { return form_; }
  [[nodiscard]] TsSkinManager* SkinManager() const { return skinManager_; }
  [[nodiscard]] TsSystemMenu& SystemMenu() { return *systemMenu_; }
  [[nodiscard]] TsFormSkinLink& sStyle() { return style_; }
  // The caption buttons in their order (minimise, maximise, close, help, then the three of
  // a maximised MDI child), for the form style to set their glyphs.
  [[nodiscard]] TsCaptionButton& CaptionButtonAt(int index) { return buttons_[index]; }
  // The form style's section and border indexes and the caption buttons' glyphs, from the
  // active skin.
  void UpdateSkinIndexes();
  // Told when the manager goes, so that the pointer never outlives it.
  void SetSkinManager(TsSkinManager* value);
  // The form's BorderIcons as they were when the provider was made.
  [[nodiscard]] TsBorderIcons KeptBorderIcons() const { return formBorderIcons_; }
  // The form's AutoScroll as it was when the provider was made; given back without a skin.
  [[nodiscard]] bool KeptAutoScroll() const { return formAutoScroll_; }
  // Whether the provider's procedure is the form window's first; Rehook puts it there.
  [[nodiscard]] bool HookedOnTop() const;
  void Rehook() { HookForm(); }

  // Frame geometry by the form's border style.
  [[nodiscard]] int SysBorderWidth() const;
  [[nodiscard]] int SysBorderHeight() const;
  [[nodiscard]] int CaptionHeight() const;
  [[nodiscard]] int MenuHeight() const;
  [[nodiscard]] bool HasMenu() const;
  [[nodiscard]] bool HasBorder() const;
  // The row below the menu line, in window coordinates (1 on a borderless form).
  [[nodiscard]] int MenuBottom() const;
  // The client area's top-left in the cached image (also the SKM_GETBGINFO answer).
  [[nodiscard]] Point ClientOrigin() const;

  // Hit test of a point in window coordinates (see WM_NCHITTEST).
  [[nodiscard]] int HitTest(Point p);
  [[nodiscard]] const TsCaptionButton& Button(int hitCode) const;
  [[nodiscard]] int HotButton() const { return hotButton_; }
  void SetHotButton(int code);
  void SetPressedButton(int code);

  // Rebuilds the cached image when NeedRepaint is set.
  void PaintAll();
  // The painted menu line before its items were drawn (the menus paint items over it).
  [[nodiscard]] TBitmap& MenuLineStrip() { return menuLineStrip_; }
  // Where the menu line and its items were drawn, in window coordinates.
  [[nodiscard]] const TMenuBarLayout& MenuLineLayout() const { return menuLineLayout_; }
  // The first and the last item the menu line draws (a maximised MDI child's merged items
  // in their places), null when it draws none.
  [[nodiscard]] std::pair<TMenuItem*, TMenuItem*> MenuLineEnds() const;
  // The rectangles cut from the window region.
  [[nodiscard]] const std::vector<Rect>& CutRects() const { return cutRects_; }

  [[nodiscard]] TsScrollBar* VertBar() const { return vBar_; }
  [[nodiscard]] TsScrollBar* HorzBar() const { return hBar_; }
  // An MDI form's bars are its client's (see TsMDIForm). False when the form, and this
  // provider with it, went while the controls were scrolled back (a release was pending).
  bool UpdateFormScrollBars();
  // The skinned MDI client of an MDI form, null on any other form.
  [[nodiscard]] TsMDIForm* MDIForm() const { return mdiForm_.get(); }

  // Whether the provider acts on the form's messages now.
  [[nodiscard]] bool Acting() const;

  bool NeedRepaint = true;
  bool Suspended = false;
  bool FormActive = true;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void HookForm();
  void UnhookForm();
  LRESULT NewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const WndProc& inherited);
  LRESULT Acted(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const WndProc& inherited);
  void SkinChanged(bool active);
  void ActivationSteps(HWND hwnd);
  void FrameChanged();
  void PaintNC(DC& dc);
  void PaintCaption(const Rect& title);
  [[nodiscard]] TsBGInfo CacheAsParent();
  void PaintIcon();
  void PlaceAndPaintButtons();
  void PaintButton(TsCaptionButton& button, bool alone);
  void RepaintButton(TsCaptionButton& button);
  void PaintMenuLine();
  int CountMenuLines(int formWidth);
  void WalkMenuLine(const std::function<bool(TMenuItem*)>& visit) const;
  // The maximised MDI child's icon and buttons in the menu line of the MDI form.
  void PaintMDIChildIcon(TCustomForm& child);
  void PlaceAndPaintChildButtons();
  [[nodiscard]] TCustomForm* MaximizedMDIChild() const;
  // Hooks the main menu's top-level items and lets the menu bar measure them again.
  void HookMenuItems();
  void RefreshMenuBar();
  int TitleButtonCount() const;
  int TitleButtonWidth() const;
  int TitleButtonHeight() const;
  [[nodiscard]] Point WindowPoint(Point screen) const;
  void UpdateRegion();
  void RebuildCutRects();
  void ShowSystemMenu(Point screen);
  void CaptionMaybeChanged(std::string& copy);
  void RepaintFrame();
  // False when this provider went while pending messages ran.
  bool ScrollControls(bool vertical, int delta);
  int ContentExtent(bool vertical) const;
  void MinimizeForm();
  // An MDI child told the MDI form's provider what its system command changed.
  void MDIChildCommand(WPARAM command, bool wasZoomed);
  void MDIChildChanged(bool wasZoomed);

  TCustomForm* form_ = nullptr;
  TsFormSkinLink style_{this};
  std::string captionCopy1_;
  std::string captionCopy2_;
  std::unique_ptr<TBitmap> TitleStrip;
  TBitmap ButtonsStrip;
  TBitmap menuLineStrip_;
  TMenuBarLayout menuLineLayout_;
  int vOffset_ = 0;
  int hOffset_ = 0;
  std::vector<Rect> cutRects_;
  bool RegionSet = false;
  bool regionChanged_ = true;
  TsScrollBar* vBar_ = nullptr;
  TsScrollBar* hBar_ = nullptr;
  TControl* grip_ = nullptr;
  int hotButton_ = 0;
  TsSkinManager* skinManager_ = nullptr;
  HWND hookedHandle_ = 0;
  SubclassId hookId_ = 0;
  int MenuLineCount = 1;
  TsCaptionButton buttons_[7];
  std::unique_ptr<TsSystemMenu> systemMenu_;
  TsBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TsBorderIcons formBorderIcons_ = 0;
  TFormBorderStyle formBorderStyle_ = TFormBorderStyle::bsSizeable;
  bool formAutoScroll_ = false;
  bool ScrollBarsReady = false;
  bool MenuRefreshed = false;
  // Held while the provider moves the client controls.
  bool Scrolling = false;
  bool showAppIcon_ = true;
  TAlignment captionAlignment_ = TAlignment::taLeftJustify;
  bool painting_ = false;
  std::unique_ptr<TsMDIForm> mdiForm_;
};

// The provider of the form the control lies on (through SKM_GETPROVIDER), null when none.
[[nodiscard]] TsSkinProvider* GetSkinProvider(TControl* control);

}  // namespace qv
