// Check boxes and radio buttons: the glyph (from the skin, the control's own glyphs, its
// image list or the built-in bitmaps), the caption and focus frame, over the parent's
// background, with the disabled look.
#pragma once

#include <string>
#include <vector>

#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "skin/sfadeeffects.h"
#include "skin/smessages.h"

namespace qv {

constexpr int kKindCheckBox = 32;
constexpr int kKindRadioButton = 33;

// The images of an image list: all of the list's size, drawn over its background colour.
struct TsGlyphList {
  int Width = 0;
  int Height = 0;
  TColor BkColor = clNone;
  std::vector<Bitmap> Images;
};

// What a checkable control tells the painter.
struct TsCheckedControlState {
  int Width = 0;
  int Height = 0;
  Point Position;  // the control's place in its parent
  bool Checked = false;
  bool Pressed = false;
  bool Hot = false;  // the style's ControlIsActive
  bool Focused = false;
  bool Enabled = true;
  bool ShowFocus = true;
  bool WordWrap = false;
  bool GlyphRight = false;                           // the glyph at the right
  TAlignment Alignment = TAlignment::taLeftJustify;  // of the caption
  int Margin = 0;
  std::string Caption;
  TsDisabledKind DisabledKind = dkBlended;
  // The image list and its indexes for checked, unchecked, hot checked and hot unchecked.
  const TsGlyphList* Images = nullptr;
  int ImageIndex[4] = {0, 1, 2, 3};
  // The control's own glyphs: three frames across (normal, hot, pressed) over their mask.
  const Bitmap* GlyphChecked = nullptr;
  const Bitmap* GlyphUnchecked = nullptr;
  // The style.
  int SkinIndex = -1;
  std::string SkinSection;
  int KindCode = kKindCheckBox;
  TColor PaintingColor = clBtnFace;
  // The parent's answer to SKM_GETBGINFO and its colour.
  TsBGInfo ParentBG;
  TColor ParentColor = clBtnFace;
};

// Where the glyph goes inside the control.
void GetCheckGlyphRect(const TsCheckedControlState& control, Rect& r);
// Paints the control into `cache` (its size is set to the control's) and copies it to
// `canvas` at (0, 0) when one is given. The caption is drawn in the cache canvas's font.
void PaintCheckedControl(const TsCheckedControlState& control, TBitmap& cache, DC* canvas);

}  // namespace qv
