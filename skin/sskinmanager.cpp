#include "skin/sskinmanager.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "skin/sutils.h"

namespace qv {

void TsSkinGeneral::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsSkinGeneral*>(&source)) {
    static_cast<TsSkinGeneralValues&>(*this) = *other;
    Changed(false);
    return;
  }
  TCollectionItem::Assign(source);
}

TsSkinImage::TsSkinImage(TCollection* collection)
    : TCollectionItem(collection), image_(std::make_unique<TBitmap>()) {}

void TsSkinImage::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsSkinImage*>(&source)) {
    SectionName = other->SectionName;
    PropertyName = other->PropertyName;
    Name = other->Name;
    image_->Assign(*other->image_);
    Changed(false);
    return;
  }
  TCollectionItem::Assign(source);
}

TsSkinPattern::TsSkinPattern(TCollection* collection)
    : TCollectionItem(collection), image_(std::make_unique<TJPEGImage>()) {}

void TsSkinPattern::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsSkinPattern*>(&source)) {
    SectionName = other->SectionName;
    PropertyName = other->PropertyName;
    Name = other->Name;
    // An empty picture has nothing to copy; the target becomes empty as well.
    if (other->image_->Empty())
      image_ = std::make_unique<TJPEGImage>();
    else
      image_->Assign(*other->image_);
    Changed(false);
    return;
  }
  TCollectionItem::Assign(source);
}

TsStoredSkin::TsStoredSkin(TCollection* collection) : TCollectionItem(collection) {}

void TsStoredSkin::SetName(const std::string& name) {
  if (name != name_) name_ = name;
}

void TsStoredSkin::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsStoredSkin*>(&source)) {
    name_ = other->name_;
    generalData_.Assign(other->generalData_);
    images_.Assign(other->images_);
    patterns_.Assign(other->patterns_);
    Changed(false);
    return;
  }
  TCollectionItem::Assign(source);
}

TsSkinManager::TsSkinManager(TComponent* owner)
    : TComponent(owner), skinableMenus_(std::make_unique<TsSkinableMenus>(this)) {
  for (TComponent* c = owner; c != nullptr && ownerForm_ == nullptr; c = c->Owner())
    ownerForm_ = dynamic_cast<TCustomForm*>(c);
  if (SkinData.SkinManager != nullptr) {
    ShowWarning(
        "Please, be sure that only one exemplar of TsSkinManager component is present in "
        "project.");
    return;
  }
  SkinData.SkinManager = this;
}

TsSkinManager::~TsSkinManager() {
  if (hookWindow_ != 0) DeallocateHWnd(hookWindow_);
  internalSkins_.Clear();
  if (Registered()) {
    SendRemoveSkin();
    SkinData.SkinManager = nullptr;
    SkinData.SkinFile.reset();
    SkinData.SkinPath.clear();
  }
}

namespace {
// Posted to the manager's hidden window: look at the components that joined meanwhile.
constexpr UINT kHookPendingMessage = WM_USER + 0x51;
}  // namespace

void TsSkinManager::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // A menu item of ours going away takes its handlers along.
  if (operation == opRemove && component != nullptr && component->HasState(csDestroying))
    skinableMenus_->Forget(component);
  if (component == nullptr || component == this || HasState(csDestroying)) return;
  if (operation == opInsert) {
    if (auto* menu = dynamic_cast<TMainMenu*>(component)) {
      HookMenu(menu);
      return;
    }
    // A component joins its owner from its base constructor, before it is a menu: look
    // again once the constructor is through.
    pending_.push_back(component);
    if (hookWindow_ == 0) {
      hookWindow_ = AllocateHWnd([this](HWND hwnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg != kHookPendingMessage) return DefWindowProc(hwnd, msg, w, l);
        HookPending();
        return 0;
      });
    }
    if (pending_.size() == 1) PostMessage(hookWindow_, kHookPendingMessage, 0, 0);
    return;
  }
  pending_.erase(std::remove(pending_.begin(), pending_.end(), component), pending_.end());
  const auto it = std::find(hookedMenus_.begin(), hookedMenus_.end(), component);
  const bool hookedHere = it != hookedMenus_.end();
  if (hookedHere) hookedMenus_.erase(it);
  // Also a menu the skin's broadcast hooked: whoever hooked it, a menu that only leaves the
  // form keeps its items, which must not keep handlers of this manager. One being destroyed
  // takes its items and their handlers along.
  auto* menu = component->HasState(csDestroying) ? nullptr : dynamic_cast<TMainMenu*>(component);
  if (menu != nullptr) skinableMenus_->HookMainMenu(menu, false);
  // Cached pictures of its popups must not outlive it.
  if (hookedHere || menu != nullptr) skinableMenus_->ClearCache(true);
}

void TsSkinManager::HookMenu(TMainMenu* menu) {
  if (menu == nullptr || !Registered() || !SkinData.Active || HasState(csDesigning)) return;
  skinableMenus_->HookMainMenu(menu, true);
  if (std::find(hookedMenus_.begin(), hookedMenus_.end(), menu) == hookedMenus_.end())
    hookedMenus_.push_back(menu);
}

void TsSkinManager::HookPending() {
  const std::vector<TComponent*> joined = std::move(pending_);
  pending_.clear();
  for (TComponent* c : joined)
    if (auto* menu = dynamic_cast<TMainMenu*>(c)) HookMenu(menu);
}

void TsSkinManager::Loaded() {
  TComponent::Loaded();
  if (active_ && !skinName_.empty()) {
    SkinChanging = false;
    Broadcast(SKM_NEWSKIN);
    Broadcast(SKM_REPAINT);
  }
}

void TsSkinManager::Broadcast(UINT msg) {
  TMessage message{};
  MakeMessage(msg, WPARAM(groupIndex_), reinterpret_cast<LPARAM>(this), message, 0);
  BroadcastToForms(message);
}

void TsSkinManager::SetActive(bool value) {
  if (value == active_) return;
  active_ = value;
  if (!value) {
    if (OnBeforeChange) OnBeforeChange(this);
    if (!HasState(csLoading)) SendRemoveSkin();
    if (OnAfterChange) OnAfterChange(this);
  } else {
    SetSkinName(skinName_);
  }
}

void TsSkinManager::SetSkinDirectory(const std::string& value) {
  if (value == skinDirectory_) return;
  skinDirectory_ = value;
  if (Registered()) SkinData.SkinPath = GetFullSkinDirectory();
}

void TsSkinManager::SetSkinName(const std::string& value) {
  skinName_ = value;
  if (!active_ || !Registered()) return;
  if (OnBeforeChange) OnBeforeChange(this);
  if (value.empty()) skinDirectory_.clear();
  SkinData.Active = false;
  SkinData.SkinFile.reset();
  SkinData.SkinPath.clear();
  // An empty name is no folder: the skin directory's own files are not a skin.
  if (!value.empty()) {
    const std::string folder = GetFullSkinDirectory() + NormalizePath(value) + "/";
    const std::string options = FindSkinOptions(folder);
    if (!options.empty()) {
      SkinData.SkinFile = std::make_unique<TMemIniFile>(options);
      SkinData.SkinPath = folder;
    }
  }
  LoadAllMasks();
  LoadAllPatterns();
  LoadAllGeneralData();
  SendNewSkin();
  if (OnAfterChange) OnAfterChange(this);
}

void TsSkinManager::SendNewSkin() {
  SkinData.Active = false;
  SkinChanging = true;
  try {
    Broadcast(SKM_BEFORECHANGE);
    SkinData.Active = true;
    Broadcast(SKM_NEWSKIN);
  } catch (...) {
    SkinChanging = false;
    throw;
  }
  SkinChanging = false;
  // Menus hooked anew, their popup backgrounds painted again from the new skin; by the
  // manager whose skin it is, so that a second one freed later leaves no handlers behind.
  if (TsSkinManager* owner = SkinData.SkinManager) {
    owner->SkinableMenus().ClearCache(true);
    owner->SkinableMenus().UpdateMenus(true);
  }
  if (!HasState(csLoading) && !HasState(csReading)) Broadcast(SKM_REPAINT);
}

void TsSkinManager::SendRemoveSkin() {
  SkinData.Active = false;
  skinableMenus_->ClearCache(true);
  skinableMenus_->UpdateMenus(false);
  Broadcast(SKM_REMOVESKIN);
  FreeAllMasks();
}

void TsSkinManager::GetSkinNames(TStringList& list, std::string& firstName) const {
  list.Clear();
  for (int i = 0; i < internalSkins_.Count(); ++i) list.Add(internalSkins_[i]->Name());
  const std::string dir = GetFullSkinDirectory();
  if (DirExists(dir)) {
    for (const std::string& name : ListSubFolders(dir))
      if (name.front() != '.') list.Add(name);
  }
  firstName = list.Count() > 0 ? list[0] : std::string();
}

std::string TsSkinManager::GetFullSkinDirectory() const {
  const std::string dir = NormalizePath(skinDirectory_);
  std::string full;
  if (dir.rfind("./", 0) == 0)
    full = GetAppPath() + dir.substr(2);
  else if (!dir.empty() && dir.front() == '/')
    full = dir;
  else if (dir.size() >= 2 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':')
    full = dir;  // a drive path stays as it is
  else
    full = GetAppPath() + dir;
  return NormalDir(full);
}

namespace {

// Skin bitmaps are painted as 24 bits per pixel, whatever the file held.
void LoadMask(TBitmap& bmp, const std::string& fileName) {
  bmp.LoadFromFile(fileName);
  bmp.SetPixelFormat(PixelFormat::pf24bit);
}

template <class Table>
int FindPair(const Table& table, const std::string& section, const std::string& property) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].ClassName == section && table[i].PropertyName == property) return int(i);
  return -1;
}

template <class Table>
bool RemovePair(Table& table, const std::string& section, const std::string& property) {
  const int i = FindPair(table, section, property);
  if (i < 0) return false;
  table.erase(table.begin() + i);
  return true;
}

}  // namespace

bool TsSkinManager::ChangeImage(const std::string& sectionName, const std::string& propertyName,
                                const std::string& fileName) {
  if (!SkinData.Active || sectionName.empty() || propertyName.empty() || !FileExists(fileName))
    return false;
  const std::string section = UpperCase(sectionName);
  const std::string property = UpperCase(propertyName);
  const bool isBitmap = UpperCase(fileName).find(".BMP") != std::string::npos;
  bool result = false;
  bool moved = false;
  if (property == "IMAGEFILE" || property == "HOTIMAGEFILE") {
    if (isBitmap) {
      if (const int i = FindPair(SkinMasks, section, property); i >= 0) {
        LoadMask(*SkinMasks[std::size_t(i)].Bmp, fileName);
        return true;
      }
      auto bmp = std::make_unique<TBitmap>();
      LoadMask(*bmp, fileName);
      if (bmp->Width() >= 1) SkinMasks.push_back({std::move(bmp), section, property, 0});
      moved = RemovePair(SkinPatterns, section, property);
      result = true;
    } else {
      if (const int i = FindPair(SkinPatterns, section, property); i >= 0) {
        SkinPatterns[std::size_t(i)].Img->LoadFromFile(fileName);
        return true;
      }
      auto img = std::make_unique<TJPEGImage>();
      img->LoadFromFile(fileName);
      if (img->Width() >= 1) SkinPatterns.push_back({std::move(img), section, property});
      moved = RemovePair(SkinMasks, section, property);
    }
  } else if (isBitmap) {
    if (const int i = FindPair(SkinMasks, section, property); i >= 0) {
      LoadMask(*SkinMasks[std::size_t(i)].Bmp, fileName);
      result = true;
    }
  }
  if (moved) UpdateSkin();
  return result;
}

}  // namespace qv
