// The skin manager: the one component that owns the current skin. It keeps the stored
// skins, knows where skin folders live, loads the tables (sskindata.h) when its SkinName
// is set and announces every change to all forms with the engine messages.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/persistent.h"
#include "platform/base/stringlist.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "platform/classlib/jpeg.h"
#include "skin/smessages.h"
#include "skin/sskindata.h"
#include "skin/sskinmenus.h"

namespace qv {

// The values of one stored section, as the form data stores them. FontColor and
// HotFontColor are "colour left top right bottom" (five integers separated by blanks).
struct TsSkinGeneralValues {
  std::string SectionName;
  std::string ParentClassName;
  TColor PaintingColor = 0;
  TsControlBevel PaintingBevel = cbNone;
  std::int32_t PaintingBevelWidth = 0;
  std::int32_t ShadowBlur = 0;
  TColor ShadowColor = 0;
  bool ShadowDontUse = false;
  bool ShadowEnabled = false;
  bool ReservedBoolean = false;
  std::int32_t ShadowOffset = 0;
  std::int32_t ShadowTransparency = 0;
  std::string FontColor;
  std::string HotFontColor;
  std::int32_t PaintingTransparency = 0;
  std::int32_t GradientPercent = 0;
  TsGradientData GradientData;
  std::int32_t ImagePercent = 0;
  bool ShowFocus = false;
  bool FadingEnabled = false;
  std::int32_t FadingIntervalIn = 0;
  std::int32_t FadingIntervalOut = 0;
  std::int32_t FadingIterations = 0;
  TColor HotPaintingColor = 0;
  std::int32_t HotPaintingTransparency = 0;
  TsControlBevel HotPaintingBevel = cbNone;
  std::int32_t HotPaintingBevelWidth = 0;
  std::int32_t HotGradientPercent = 0;
  TsGradientData HotGradientData;
  std::int32_t HotImagePercent = 0;
  TColor PaintingColorBorderTop = 0;
  TColor PaintingColorBorderBottom = 0;
  TsEditorBevel SelectionBorderBevel = ebNone;
  std::int32_t SelectionBorderWidth = 0;
  TColor SelectionColor = 0;
  std::string Name;
};

class TsSkinGeneral : public TCollectionItem, public TsSkinGeneralValues {
 public:
  explicit TsSkinGeneral(TCollection* collection) : TCollectionItem(collection) {}
  void Assign(const TPersistent& source) override;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinGeneral"; }
};

class TsSkinImage : public TCollectionItem {
 public:
  explicit TsSkinImage(TCollection* collection);
  void Assign(const TPersistent& source) override;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinImage"; }
  [[nodiscard]] TBitmap& Image() { return *image_; }
  [[nodiscard]] const TBitmap& Image() const { return *image_; }
  void SetImage(const TGraphic& image) { image_->Assign(image); }
  std::string SectionName;
  std::string PropertyName;
  std::string Name;

 private:
  std::unique_ptr<TBitmap> image_;
};

class TsSkinPattern : public TCollectionItem {
 public:
  explicit TsSkinPattern(TCollection* collection);
  void Assign(const TPersistent& source) override;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinPattern"; }
  [[nodiscard]] TJPEGImage& Image() { return *image_; }
  [[nodiscard]] const TJPEGImage& Image() const { return *image_; }
  void SetImage(const TGraphic& image) { image_->Assign(image); }
  std::string SectionName;
  std::string PropertyName;
  std::string Name;

 private:
  std::unique_ptr<TJPEGImage> image_;
};

class TsSkinGenerals : public TOwnedCollection<TsSkinGeneral> {
 public:
  using TOwnedCollection::TOwnedCollection;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinGenerals"; }
};
class TsSkinImages : public TOwnedCollection<TsSkinImage> {
 public:
  using TOwnedCollection::TOwnedCollection;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinImages"; }
};
class TsSkinPatterns : public TOwnedCollection<TsSkinPattern> {
 public:
  using TOwnedCollection::TOwnedCollection;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinPatterns"; }
};

class TsStoredSkin : public TCollectionItem {
 public:
  explicit TsStoredSkin(TCollection* collection);
  void Assign(const TPersistent& source) override;
  [[nodiscard]] std::string ClassName() const override { return "TsStoredSkin"; }

  [[nodiscard]] const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  [[nodiscard]] TsSkinGenerals& GeneralData() { return generalData_; }
  [[nodiscard]] const TsSkinGenerals& GeneralData() const { return generalData_; }
  [[nodiscard]] TsSkinImages& Images() { return images_; }
  [[nodiscard]] const TsSkinImages& Images() const { return images_; }
  [[nodiscard]] TsSkinPatterns& Patterns() { return patterns_; }
  [[nodiscard]] const TsSkinPatterns& Patterns() const { return patterns_; }
  void SetGeneralData(const TsSkinGenerals& value) { generalData_.Assign(value); }
  void SetImages(const TsSkinImages& value) { images_.Assign(value); }
  void SetPatterns(const TsSkinPatterns& value) { patterns_.Assign(value); }

 private:
  std::string name_;
  TsSkinGenerals generalData_{this};
  TsSkinImages images_{this};
  TsSkinPatterns patterns_{this};
};

class TsStoredSkins : public TOwnedCollection<TsStoredSkin> {
 public:
  using TOwnedCollection::TOwnedCollection;
  [[nodiscard]] std::string ClassName() const override { return "TsStoredSkins"; }
};

class TsSkinManager : public TComponent {
 public:
  // The first manager registers itself in SkinData; a second one warns and stays
  // unregistered, so that its changes load nothing.
  explicit TsSkinManager(TComponent* owner);
  // Removes the skin when this is the registered manager.
  ~TsSkinManager() override;
  [[nodiscard]] std::string ClassName() const override { return "TsSkinManager"; }

  // After the form data: announces the skin that was set while loading.
  void Loaded() override;

  [[nodiscard]] bool Active() const { return active_; }
  void SetActive(bool value);
  [[nodiscard]] TsStoredSkins& InternalSkins() { return internalSkins_; }
  void SetInternalSkins(const TsStoredSkins& value) { internalSkins_.Assign(value); }
  [[nodiscard]] const std::string& SkinDirectory() const { return skinDirectory_; }
  void SetSkinDirectory(const std::string& value);
  [[nodiscard]] const std::string& SkinName() const { return skinName_; }
  // Loads the skin (a folder of the skin directory with "Options.dat", else the stored
  // skin of that name) and announces it, even when the name is the current one.
  void SetSkinName(const std::string& value);

  TNotifyEvent OnBeforeChange;
  TNotifyEvent OnAfterChange;

  // Stored skins in order, then the sub-folders of the skin directory whose names do not
  // begin with "." (in case-blind order); `firstName` is the first entry or "".
  void GetSkinNames(TStringList& list, std::string& firstName) const;
  // SkinDirectory made absolute ("./x" and plain relative names from the program's
  // folder), ending in "/".
  [[nodiscard]] std::string GetFullSkinDirectory() const;

  // BEFORECHANGE, NEWSKIN and (unless loading) REPAINT to every form, with SkinChanging
  // set until NEWSKIN is through.
  void SendNewSkin();
  void SendRemoveSkin();
  // Announces the tables as they are.
  void UpdateSkin() { SendNewSkin(); }
  // Replaces a section's image: IMAGEFILE and HOTIMAGEFILE may move between the bitmap
  // and the picture table; other keys only reload a bitmap the skin has. True when a
  // bitmap was reloaded or added, or a picture reloaded. When an entry moved out of a
  // table the skin is announced again, so that no control keeps an index that moved.
  bool ChangeImage(const std::string& sectionName, const std::string& propertyName,
                   const std::string& fileName);

  // The form that owns the manager: the first form up its chain of owners, nil if none.
  [[nodiscard]] TCustomForm* OwnerForm() const { return ownerForm_; }
  // The group number sent with every broadcast (never set, so 0).
  [[nodiscard]] int GroupIndex() const { return groupIndex_; }
  // Makes the application's menus follow the skin.
  [[nodiscard]] TsSkinableMenus& SkinableMenus() { return *skinableMenus_; }
  // Main menus that joined the form after the skin and were hooked here.
  [[nodiscard]] const std::vector<TMainMenu*>& HookedMenus() const { return hookedMenus_; }

 protected:
  // A main menu that joins the form is hooked to the skin, one that leaves is unhooked.
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void HookMenu(TMainMenu* menu);
  // Looks at the components that joined while still being built.
  void HookPending();
  void Broadcast(UINT msg);
  [[nodiscard]] bool Registered() const { return SkinData.SkinManager == this; }

  bool active_ = true;
  TsStoredSkins internalSkins_{this};
  std::string skinDirectory_;
  std::string skinName_;
  int groupIndex_ = 0;
  TCustomForm* ownerForm_ = nullptr;
  std::unique_ptr<TsSkinableMenus> skinableMenus_;
  // Components that joined before their constructors ran through (compared, never used
  // until the posted look at them), and the menus hooked so far.
  std::vector<TComponent*> pending_;
  std::vector<TMainMenu*> hookedMenus_;
  HWND hookWindow_ = 0;  // hidden window for the posted look, made on first need
};

}  // namespace qv
