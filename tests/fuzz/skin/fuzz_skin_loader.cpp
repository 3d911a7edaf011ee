// libFuzzer target over a skin folder: the input is an "Options.dat" text, the bytes of two
// images and a row of knobs. The knobs choose which sections the skinned controls find,
// give them every number the loader reads at the extremes of their type (or leave it out)
// and their Boolean keys, a well-formed mask of a size they choose, which images each
// section names, and what the mouse does to the button (enter, press, release inside or
// outside, leave, fade steps). The loader reads the folder as it would a user's skin, then
// everything it loaded is painted: gradients, backgrounds and borders masks in states -1..4
// over a parent and without one, bevels of both kinds, glyphs, check boxes, and real
// controls on a headless form (an edit, focused and not, and a button, both on a panel
// that paints their shadows). A crash, a hang, undefined behaviour or an escaping exception
// is a finding.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "platform/classlib/forms.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/font.h"
#include "platform/msg/clock.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/sbuttons.h"
#include "skin/scheckglyphs.h"
#include "skin/sedit.h"
#include "skin/sgradient.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
// Knob 0 leaves a key out; knob k > 0 picks kExtremes[(k - 1) % size].
constexpr std::int64_t kExtremes[] = {
    kMin, kMin + 1, -65536, -257,       -101,           -2,       0,   1, 2, 3, 50, 99, 100, 101,
    255,  256,      65536,  kMax / 255, kMax / 255 + 1, kMax - 1, kMax};
// Every number the loader reads of a section; each takes one knob.
constexpr const char* kNumberKeys[] = {"PaintingColor",
                                       "PaintingBevel",
                                       "PaintingBevelWidth",
                                       "ShadowBlur",
                                       "ShadowOffset",
                                       "ShadowColor",
                                       "ShadowTransparency",
                                       "FONTCOLOR",
                                       "TCLEFT",
                                       "TCTOP",
                                       "TCRIGHT",
                                       "TCBOTTOM",
                                       "HOTFONTCOLOR",
                                       "HOTTCLEFT",
                                       "HOTTCTOP",
                                       "HOTTCRIGHT",
                                       "HOTTCBOTTOM",
                                       "PaintingTransparency",
                                       "GradientPercent",
                                       "ImagePercent",
                                       "FadingIntervalIn",
                                       "FadingIntervalOut",
                                       "FadingIterations",
                                       "HotPaintingColor",
                                       "HotPaintingTransparency",
                                       "HotPaintingBevel",
                                       "HotPaintingBevelWidth",
                                       "HotGradientPercent",
                                       "HotImagePercent",
                                       "PaintingColorBorderTop",
                                       "PaintingColorBorderBottom",
                                       "SelectionColor",
                                       "SelectionBorderBevel",
                                       "SelectionBorderWidth"};
// Its Boolean keys, one bit of a knob each.
constexpr const char* kBooleanKeys[] = {"ShadowEnabled", "ShowFocus", "FadingEnabled",
                                        "RESERVEDBOOLEAN"};
// The sections the painted controls and the form use.
constexpr const char* kSections[] = {"TsEdit", "TsButton", "TsPanel", "FORM"};
// + whether the section is there, the image choice and the Booleans.
constexpr std::size_t kKeyKnobs = std::size(kNumberKeys) + 3;
constexpr std::size_t kKnobs = 4 + std::size(kSections) * kKeyKnobs;

struct Knobs {
  std::string_view bytes;
  std::size_t next = 0;
  unsigned Take() { return next < bytes.size() ? std::uint8_t(bytes[next++]) : (++next, 0u); }
};

// A mask of three state cells across, its mask half below, with fuchsia in the corners.
std::string MaskBytes(int cellWidth, int halfHeight) {
  const int w = std::max(1, 3 * cellWidth), h = std::max(1, 2 * halfHeight);
  qv::Bitmap bmp(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool corner = (x % std::max(1, cellWidth) == 0) && (y % std::max(1, halfHeight) == 0);
      bmp.SetPixel(x, y, corner ? qv::kSkinTransparent : qv::COLORREF(0x102030 * (x + y + 1)));
    }
  const std::vector<std::uint8_t> bytes = qv::SaveBmp(bmp);
  return std::string(bytes.begin(), bytes.end());
}

// The sections of the controls, numbers and image names chosen by the knobs. A section
// whose first knob has its high bit set is left out (its knobs are used all the same).
std::string Sections(Knobs& k) {
  std::string out;
  for (const char* section : kSections) {
    std::string text = std::string("\n[") + section + "]\n";
    const bool present = (k.Take() & 0x80) == 0;
    for (const char* key : kNumberKeys) {
      const unsigned knob = k.Take();
      if (knob == 0) continue;
      text += std::string(key) + "=" +
              std::to_string(kExtremes[(knob - 1) % std::size(kExtremes)]) + "\n";
    }
    const unsigned images = k.Take();
    if (images & 1) text += "BORDERSMASK=m.bmp\n";
    if (images & 2) text += "IMAGEFILE=Sub\\B.JPG\n";
    if (images & 4) text += "HOTIMAGEFILE=a.bmp\n";
    if (images & 8) text += "IMAGEFILE=m.bmp\n";
    if (images & 16) text += "GradientData=255;65280;40;0;0;16711680;0;60;0;0\n";
    if (images & 32) text += "HotGradientData=65280;255;100;1;1\n";
    const unsigned flags = k.Take();
    for (std::size_t i = 0; i < std::size(kBooleanKeys); ++i)
      text += std::string(kBooleanKeys[i]) + "=" + ((flags >> i) & 1 ? "TRUE" : "FALSE") + "\n";
    if (present) out += text;
  }
  return out;
}

void Paint(const qv::TsGradArray& gradient) {
  qv::Bitmap bmp(8, 6);
  for (const qv::Rect& r : {qv::Rect{0, 0, 8, 6}, qv::Rect{-3, 2, 5, 40}, qv::Rect{6, 1, 2, 4}})
    qv::PaintGrad(bmp, gradient, r);
}

// One section's background, borders mask, bevels and glyphs in every state.
void PaintSection(int index, qv::TBitmap& parent) {
  const qv::TsGeneralData& s = qv::SkinSections[std::size_t(index)];
  const std::string& name = s.ClassName;
  qv::Bitmap bmp(24, 16);
  qv::DC dc(&bmp);
  const qv::TsBGInfo parents[] = {qv::DefaultPaintInfo, {&parent, 3, 2, true}};
  for (int state = -1; state <= 4; ++state) {
    for (const qv::TsBGInfo& p : parents) {
      qv::PaintItem(index, name, p, bmp, {1, 1}, {0, 0, 24, 16}, state, state % 2 == 0);
      qv::PaintItem(index, name, p, bmp, {0, 0}, {2, 3, 20, 9}, state, true);
      qv::PaintItemBGFast(index, name, p, dc, {0, 0}, {1, 1, 23, 15}, state, false);
    }
    const int mask = qv::GetMaskIndex(index, name, "BORDERSMASK");
    if (qv::IsValidImgIndex(mask)) {
      const qv::Bitmap& m = qv::SkinMasks[std::size_t(mask)].Bmp->Image();
      qv::Region region(qv::Rect{0, 0, 24, 16});
      qv::PaintMaskedBorder(bmp, &m, region, state & 1, qv::kSkinTransparent, state);
      qv::PaintBlendGlyph(bmp, &m, {-2, 3}, state & 1, qv::kSkinTransparent, state);
      qv::PaintMaskedGlyph(bmp, m, {5, -1}, qv::kSkinTransparent, state);
    }
  }
  for (const bool gradient : {false, true}) {
    for (const int width : {s.PaintingBevelWidth, s.HotPaintingBevelWidth, s.SelectionBorderWidth})
      for (int kind = 0; kind < 4; ++kind)
        qv::PaintRectBevel(dc, s.PaintingColorBorderTop, s.PaintingColorBorderBottom, gradient,
                           kind, width, {0, 0, 24, 16}, s.PaintingColor);
    qv::PaintBevel(bmp, {0, 0, 24, 16}, s.PaintingBevelWidth, s.PaintingBevel, gradient);
    qv::PaintBevel(bmp, {3, 2, 20, 14}, s.HotPaintingBevelWidth, s.HotPaintingBevel, gradient);
  }
  qv::TBitmap cache;
  for (int kind : {qv::kKindCheckBox, qv::kKindRadioButton})
    for (int look = 0; look < 8; ++look) {
      qv::TsCheckedControlState c;
      c.Width = 40;
      c.Height = 14;
      c.Checked = look & 1;
      c.Hot = look & 2;
      c.Pressed = look & 4;
      c.Caption = "Box";
      c.SkinIndex = index;
      c.SkinSection = name;
      c.KindCode = kind;
      c.ParentBG = parents[look & 1];
      qv::PaintCheckedControl(c, cache, nullptr);
    }
}

// A headless window system with a form holding the skin manager and the controls, made once.
struct Scene {
  qv::TForm* form = nullptr;
  qv::TsSkinManager* manager = nullptr;
  qv::TsEdit* edit = nullptr;
  qv::TsButton* button = nullptr;
  qv::TsPanel* panel = nullptr;

  qv::HeadlessBackend* headless = nullptr;

  Scene() {
    qv::UseBuiltinFontEverywhere(true);
    auto backend = std::make_unique<qv::HeadlessBackend>(std::vector<qv::Monitor>{},
                                                         std::make_shared<qv::FakeClock>());
    headless = backend.get();
    if (!qv::StartWindowSystem(std::move(backend))) std::abort();
    form = qv::Create<qv::TForm>(qv::Application());
    form->SetBorderStyle(qv::TFormBorderStyle::bsNone);
    form->SetBounds(10, 10, 160, 90);
    manager = qv::Create<qv::TsSkinManager>(form);
    manager->SetSkinDirectory(qv::fuzz::ScratchDir());
    panel = Add<qv::TsPanel>(form, {0, 0, 160, 40});
    edit = Add<qv::TsEdit>(panel, {4, 10, 90, 31});  // its shadow falls on the panel
    edit->SetTabStop(true);
    button = Add<qv::TsButton>(panel, {100, 4, 150, 30});
    button->SetCaption("Go");
    form->AfterConstruction();
    form->Show();
    Pump();
  }
  template <class T>
  T* Add(qv::TWinControl* parent, qv::Rect r) {
    auto* c = qv::Create<T>(form);
    c->SetParent(parent);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    return c;
  }
  static void Pump() { qv::Application()->ProcessMessages(); }
  // What the mouse does to the button, by the knob's bits: 1 moves in, 2 presses, 4 then
  // releases inside (else outside), 32 gives the edit the focus after that, 8 moves out,
  // 16 steps the fade after each of them.
  void Mouse(unsigned actions) {
    const qv::Point inside = button->ClientToScreen({5, 5});
    const qv::Point outside = form->ClientToScreen({2, 80});
    const auto steps = [&] {
      if ((actions & 16) == 0) return;
      for (int i = 0; i < 3; ++i) button->FadeTick();
    };
    if (actions & 1) {
      headless->InjectMouseMove(inside);
      Pump();
      steps();
    }
    if (actions & 2) {
      headless->InjectMouseMove(inside);
      headless->InjectButton(inside, qv::MouseButton::Left, true);
      Pump();
      const qv::Point at = (actions & 4) ? inside : outside;
      headless->InjectMouseMove(at);
      headless->InjectButton(at, qv::MouseButton::Left, false);
      Pump();
      steps();
    }
    if (actions & 32) {
      edit->SetFocus();
      Pump();
    }
    if (actions & 8) {
      headless->InjectMouseMove(outside);
      Pump();
      steps();
    }
  }
};

// The window goes before this thread's screen and message queue at exit: a thread-local
// object made after them is destroyed before them.
struct Closer {
  ~Closer() {
    qv::DestroyApplication();
    qv::StopWindowSystem();
  }
};

}  // namespace

// The input: kKnobs bytes of knobs, a two-byte little-endian length, that many bytes of
// "Options.dat", then the bitmap's bytes and the picture's bytes, split in the middle.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qv::fuzz::WriteFile;
  static Scene scene;
  static thread_local Closer closer;
  (void)closer;
  const std::string_view all = qv::fuzz::Text(data, size);
  Knobs knobs{all.substr(0, std::min(all.size(), kKnobs))};
  const std::string_view input = all.substr(knobs.bytes.size());
  if (input.size() < 2) return 0;
  const std::size_t textLength =
      std::min<std::size_t>(std::uint8_t(input[0]) | std::uint8_t(input[1]) << 8, input.size() - 2);
  const std::string_view text = input.substr(2, textLength);
  const std::string_view images = input.substr(2 + textLength);
  const std::string folder = qv::fuzz::ScratchDir() + "s/";
  ::mkdir(folder.c_str(), 0700);
  const int cellWidth = int(knobs.Take() % 13), halfHeight = int(knobs.Take() % 9);
  const unsigned focus = knobs.Take();
  const unsigned mouse = knobs.Take();
  // The fixed section names both images, so that they are read whatever the text says.
  WriteFile(folder + "Options.dat", std::string(text) + "\n[FUZZ]\nBORDERSMASK=a.bmp\n" +
                                        "IMAGEFILE=Sub\\B.JPG\n" + Sections(knobs));
  WriteFile(folder + "a.bmp", images.substr(0, images.size() / 2));
  WriteFile(folder + "m.bmp", MaskBytes(cellWidth, halfHeight));
  ::mkdir((folder + "sub").c_str(), 0700);
  WriteFile(folder + "sub/b.jpg", images.substr(images.size() / 2));

  qv::TsGradArray gradient;
  qv::PrepareGradArray(text, gradient);
  Paint(gradient);

  // The manager loads the folder as a user's skin and the controls repaint from it.
  scene.manager->SetSkinName("s");
  scene.form->Invalidate();
  Scene::Pump();
  // The edit focused, then left for the button (which some knobs skip).
  scene.edit->SetFocus();
  Scene::Pump();
  if ((focus & 1) != 0) {
    scene.button->SetFocus();
    scene.edit->Invalidate();
    Scene::Pump();
  }
  scene.Mouse(mouse);

  qv::TBitmap parent;
  parent.SetSize(40, 30);
  parent.SetPixelFormat(qv::PixelFormat::pf24bit);
  for (std::size_t i = 0; i < qv::SkinSections.size(); ++i) {
    const qv::TsGeneralData& section = qv::SkinSections[i];
    Paint(section.GradientArray);
    Paint(section.HotGradientArray);
    const int mask = qv::GetMaskIndex(int(i), section.ClassName, "BORDERSMASK");
    if (mask >= 0 && !qv::IsValidImgIndex(mask)) ::abort();
    const int pattern = qv::GetPatternIndex(int(i), section.ClassName, "IMAGEFILE");
    if (pattern >= int(qv::SkinPatterns.size())) ::abort();
    PaintSection(int(i), parent);
  }
  return 0;
}
