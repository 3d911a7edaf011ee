// The skinned controls and skin components the main window names. Until the skinning
// engine exists they are the class library's plain controls under those names, keeping the
// properties the window sets (skin section, painting colours, the skin manager's image
// changes) so the window's code reads the same once the engine fills them in.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/classlib/extctrls.h"
#include "platform/classlib/stdctrls.h"

namespace qv {

// What a skinned control keeps of its skin.
struct TsCommonData {
  std::string SkinSection;
};

class TsButton : public TButton {
 public:
  explicit TsButton(TComponent* owner) : TButton(owner) {}
  TsCommonData SkinData;
  // The style's normal and mouse-over painting colours (clNone: the skin's).
  TColor PaintingColor = clNone;
  TColor HotPaintingColor = clNone;
};

class TsPanel : public TPanel {
 public:
  explicit TsPanel(TComponent* owner) : TPanel(owner) {}
  TsCommonData SkinData;
};

class TsLabel : public TLabel {
 public:
  explicit TsLabel(TComponent* owner) : TLabel(owner) {}
};

// Records what it is asked to do; there is no skin to apply yet.
class TsSkinManager : public TComponent {
 public:
  explicit TsSkinManager(TComponent* owner) : TComponent(owner) {}
  std::string SkinName;
  bool Active = true;
  // ChangeImage(section, property, file): e.g. "FORM", "IMAGEFILE", a background picture.
  void ChangeImage(const std::string& Section, const std::string& Property,
                   const std::string& FileName) {
    ImageChanges.push_back({Section + "." + Property, FileName});
  }
  void UpdateSkin() { ++Updates; }
  std::vector<std::pair<std::string, std::string>> ImageChanges;
  int Updates = 0;
};

class TsSkinProvider : public TComponent {
 public:
  explicit TsSkinProvider(TComponent* owner) : TComponent(owner) {}
  TsCommonData SkinData;
};

}  // namespace qv
