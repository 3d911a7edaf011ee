// The skin engine's private messages, the records every part of the engine shares, the
// control kind codes with their sets, the engine-wide state and the broadcast routines.
// Everything runs on the GUI thread: messages are delivered synchronously (Perform or
// SendMessage), and the globals below are unlocked because of that.
#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "platform/classlib/jpeg.h"
#include "platform/msg/messages.h"

namespace qv {

class TCustomForm;

// Engine messages. Those from SKM_REFRESH to the end of the paint family carry a group
// number in WParam (see PassesGroupFilter).
constexpr UINT SKM_GETSTYLE = 0xA000;
constexpr UINT SKM_REFRESH = 0xA401;
constexpr UINT SKM_NEWSKIN = 0xA402;
constexpr UINT SKM_REMOVESKIN = 0xA403;
constexpr UINT SKM_BEFORECHANGE = 0xA404;
constexpr UINT SKM_GETPROVIDER = 0xA406;
constexpr UINT SKM_REPAINT = 0xA407;
constexpr UINT SKM_GETBGINFO = 0xA408;
constexpr UINT SKM_UPDATESECTION = 0xA409;
constexpr UINT SKM_UPDATETRANSPARENT = 0xA40A;
constexpr UINT SKM_CONTROLMOVED = 0xA40B;

// The two property families share their offsets.
constexpr UINT SKM_EDIT_FIRST = 0xA415;
constexpr UINT SKM_EDIT_LAST = 0xA432;
constexpr UINT SKM_PAINT_FIRST = 0xA433;
constexpr UINT SKM_PAINT_LAST = 0xA464;
constexpr UINT SKM_OFFSET_SOFTCONTROL = 0;
constexpr UINT SKM_OFFSET_COLOR = 10;
constexpr UINT SKM_OFFSET_SHADOWENABLED = 20;
constexpr UINT SKM_OFFSET_SHADOWCOLOR = 21;
constexpr UINT SKM_OFFSET_SHADOWTRANSPARENCY = 22;
constexpr UINT SKM_OFFSET_SHADOWOFFSET = 23;
constexpr UINT SKM_OFFSET_SHADOWBLUR = 24;
constexpr UINT SKM_OFFSET_SHADOWUPDATE = 25;

constexpr UINT SKM_EDIT_SOFTCONTROL = SKM_EDIT_FIRST + SKM_OFFSET_SOFTCONTROL;
constexpr UINT SKM_EDIT_SHADOWENABLED = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWENABLED;
constexpr UINT SKM_EDIT_SHADOWCOLOR = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWCOLOR;
constexpr UINT SKM_EDIT_SHADOWTRANSPARENCY = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWTRANSPARENCY;
constexpr UINT SKM_EDIT_SHADOWOFFSET = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWOFFSET;
constexpr UINT SKM_EDIT_SHADOWBLUR = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWBLUR;
constexpr UINT SKM_EDIT_SHADOWUPDATE = SKM_EDIT_FIRST + SKM_OFFSET_SHADOWUPDATE;
// The editor styles' own properties (no paint-style counterpart).
constexpr UINT SKM_EDIT_COLOR = 0xA41F;
constexpr UINT SKM_EDIT_COLORBORDERTOP = 0xA421;
constexpr UINT SKM_EDIT_COLORBORDERBOTTOM = 0xA422;
constexpr UINT SKM_EDIT_BEVEL = 0xA423;
constexpr UINT SKM_EDIT_SELECTIONCOLOR = 0xA424;
constexpr UINT SKM_EDIT_SELECTIONBORDERWIDTH = 0xA425;
constexpr UINT SKM_EDIT_SELECTIONBORDERBEVEL = 0xA426;
constexpr UINT SKM_PAINT_SOFTCONTROL = SKM_PAINT_FIRST + SKM_OFFSET_SOFTCONTROL;
constexpr UINT SKM_PAINT_COLOR = SKM_PAINT_FIRST + SKM_OFFSET_COLOR;
constexpr UINT SKM_PAINT_SHADOWENABLED = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWENABLED;
constexpr UINT SKM_PAINT_SHADOWCOLOR = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWCOLOR;
constexpr UINT SKM_PAINT_SHADOWTRANSPARENCY = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWTRANSPARENCY;
constexpr UINT SKM_PAINT_SHADOWOFFSET = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWOFFSET;
constexpr UINT SKM_PAINT_SHADOWBLUR = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWBLUR;
constexpr UINT SKM_PAINT_SHADOWUPDATE = SKM_PAINT_FIRST + SKM_OFFSET_SHADOWUPDATE;

// The group number the form style of a skin provider accepts besides its own.
constexpr int kFormStyleGroup = 21;

[[nodiscard]] constexpr bool IsGroupMessage(UINT msg) {
  return msg >= SKM_REFRESH && msg <= SKM_PAINT_LAST;
}
// Whether a receiver of group `group` acts on the message: messages without a group number
// always pass, the others only with WParam equal to the group.
[[nodiscard]] constexpr bool PassesGroupFilter(const TMessage& message, int group) {
  return !IsGroupMessage(message.Msg) || message.WParam == static_cast<WPARAM>(group);
}

// The answer to SKM_GETBGINFO: the parent's painted background and where the asking
// control lies in it.
struct TsBGInfo {
  TBitmap* Bmp = nullptr;
  std::int32_t OffsetX = 0;
  std::int32_t OffsetY = 0;
  bool Ready = false;
};

// Bevel kinds, by their ordinal in stored skins.
enum TsControlBevel : std::uint8_t {
  cbNone,
  cbRaisedSoft,
  cbLoweredSoft,
  cbRaisedHard,
  cbLoweredHard,
};
enum TsEditorBevel : std::uint8_t { ebNone, ebRaised, ebLowered, ebAsTopBorder, ebAsBottomBorder };

struct TsGradientPoint {
  TColor Color1 = 0;
  TColor Color2 = 0;
  std::uint8_t Percent = 0;
  std::int32_t Mode = 0;
  std::int32_t Reserved = 0;
};
using TsGradArray = std::vector<TsGradientPoint>;
// ";"-separated integers, five per point: Color1, Color2, Percent, Mode, one unused.
using TsGradientData = std::string;

// One skin section's painting values.
struct TsGeneralData {
  std::string ParentClassName;
  std::string ClassName;
  TColor PaintingColor = 0;
  TsControlBevel PaintingBevel = cbNone;
  std::int32_t PaintingBevelWidth = 0;
  TColor FontColor = 0;
  std::int32_t TCLeft = 0;
  std::int32_t TCTop = 0;
  std::int32_t TCRight = 0;
  std::int32_t TCBottom = 0;
  TColor HotFontColor = 0;
  std::int32_t HotTCLeft = 0;
  std::int32_t HotTCTop = 0;
  std::int32_t HotTCRight = 0;
  std::int32_t HotTCBottom = 0;
  bool ReservedBoolean = false;
  std::int32_t ShadowBlur = 0;
  TColor ShadowColor = 0;
  bool ShadowDontUse = false;
  bool ShadowEnabled = false;
  std::int32_t ShadowOffset = 0;
  std::int32_t ShadowTransparency = 0;
  std::int32_t PaintingTransparency = 0;
  std::int32_t GradientPercent = 0;
  TsGradientData GradientData;
  TsGradArray GradientArray;
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
  TsGradArray HotGradientArray;
  std::int32_t HotImagePercent = 0;
  TColor PaintingColorBorderTop = 0;
  TColor PaintingColorBorderBottom = 0;
  TsEditorBevel SelectionBorderBevel = ebNone;
  std::int32_t SelectionBorderWidth = 0;
  TColor SelectionColor = 0;
};
using TsGeneralDataArray = std::vector<TsGeneralData>;

// A skin bitmap: section and key in upper case.
struct TsMaskData {
  std::unique_ptr<TBitmap> Bmp;
  std::string ClassName;
  std::string PropertyName;
  TColor TransparentColor = 0;
};
using TsMaskArray = std::vector<TsMaskData>;

// A skin JPEG picture: section and key in upper case.
struct TsPatternData {
  std::unique_ptr<TJPEGImage> Img;
  std::string ClassName;
  std::string PropertyName;
};
using TsPatternArray = std::vector<TsPatternData>;

// Control kind codes.
constexpr int kKindPanel = 51;
constexpr int kKindCustomPanel = 68;
constexpr int kKindButtonControl = 91;
constexpr int kKindButton = 93;
constexpr int kKindScrollBar = 142;
constexpr int kKindFormStyle = 224;

// A set of kind codes 0..255, written as single codes and inclusive ranges.
class TsKindSet {
 public:
  constexpr TsKindSet(std::initializer_list<std::pair<int, int>> ranges) {
    for (const auto& [low, high] : ranges)
      for (int k = low; k <= high; ++k) bits_[std::size_t(k) / 64] |= std::uint64_t(1) << (k % 64);
  }
  [[nodiscard]] constexpr bool Contains(int kind) const {
    return kind >= 0 && kind <= 255 && ((bits_[std::size_t(kind) / 64] >> (kind % 64)) & 1) != 0;
  }

 private:
  std::uint64_t bits_[4] = {};
};

inline constexpr TsKindSet NoShadowKinds{{57, 57}, {74, 74}, {110, 110}, {141, 141}, {151, 151}};
inline constexpr TsKindSet ShadowedKinds{{51, 68},   {91, 95},   {141, 141},
                                         {151, 151}, {161, 161}, {165, 165}};
inline constexpr TsKindSet ContainerKinds{{51, 68}, {151, 151}};
inline constexpr TsKindSet RoundedKinds{{1, 140}, {150, 200}};
inline constexpr TsKindSet NoHotKinds{{51, 74}, {110, 110}, {141, 161}};

// Engine-wide state. SkinData lives with the tables' loader (sskindata.h).
extern TsGeneralDataArray SkinSections;
extern TsMaskArray SkinMasks;
extern TsPatternArray SkinPatterns;
extern TsBGInfo ParentBGInfo;
// True while the manager is between SKM_BEFORECHANGE and SKM_NEWSKIN; receivers then set
// no redraw flags.
extern bool SkinChanging;
extern std::string UpdatedSectionName;

// A component that is not a control but takes engine messages for a form (the skin
// provider's form style).
class ISkinMessageTarget {
 public:
  virtual void SkinWndProc(TMessage& message) = 0;

 protected:
  ~ISkinMessageTarget() = default;
};

// The message to the form (and to an MDI form's client window), then
// to each component the form owns, in order: the broadcast stops at the first one being
// destroyed or still being read; controls that are not ready are skipped; a skin message
// target gets it through SkinWndProc, any other control through Perform. Nothing while the
// form itself is being destroyed.
void BroadcastToControl(TCustomForm* form, TMessage& message);
// BroadcastToControl for every form the application owns that is not being destroyed.
void BroadcastToForms(TMessage& message);
// The style object a control names in its answer to SKM_GETSTYLE (null for anything that
// is not a control or has none), and whether it has one.
[[nodiscard]] TPersistent* GetStyleOf(TComponent* component);
[[nodiscard]] bool IsStyledControl(TComponent* component);
// Asks the control's parent for its painted background: `info` is zeroed, and filled from
// the parent's answer when there is a parent (Ready stays false when it does not answer).
void AskParentBGInfo(TControl* control, TsBGInfo& info);

}  // namespace qv
