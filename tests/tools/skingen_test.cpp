// The program's skin: the generator reproduces the committed folders byte for byte, the
// compiled stored skin loads into the same tables as the folder, its pictures have the
// layouts the painting code expects, and every section's text is readable on it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <cmath>
#include <set>

#include "platform/base/streams.h"
#include "skin/sedit.h"
#include "skin/sinternalskin.h"
#include "skin/spaintutils.h"
#include "tests/skin/skin_fixture.h"
#include "tools/skingen/skin_art.h"

namespace qv::test {
namespace {

const std::string kSkins = std::string(QV_SOURCE_DIR) + "/skins/";

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(dir);
  }
  return names;
}

TEST(SkinGen, OutputEqualsTheCommittedFolders) {
  std::set<std::string> expected;
  for (const skingen::ArtFile& f : skingen::MakeArt().Files) {
    expected.insert(f.Path);
    TMemoryStream committed;
    ASSERT_NO_THROW(committed.LoadFromFile(kSkins + f.Path)) << f.Path;
    EXPECT_TRUE(committed.Bytes() == f.Bytes) << f.Path << " differs: run skingen " << kSkins;
  }
  std::set<std::string> present;
  for (const char* folder : {skingen::kSkinFolder, skingen::kBuiltinFolder})
    for (const std::string& name : FilesIn(kSkins + folder)) present.insert(folder + ("/" + name));
  EXPECT_EQ(present, expected);
}

// The three tables as one load left them.
struct Tables {
  TsGeneralDataArray Sections;
  std::vector<std::tuple<std::string, std::string, TColor, Bitmap>> Masks;
  std::vector<std::tuple<std::string, std::string, Bitmap>> Patterns;
};
Tables Snapshot() {
  Tables t{SkinSections, {}, {}};
  for (const TsMaskData& m : SkinMasks)
    t.Masks.emplace_back(m.ClassName, m.PropertyName, m.TransparentColor, m.Bmp->Image());
  for (const TsPatternData& p : SkinPatterns)
    t.Patterns.emplace_back(p.ClassName, p.PropertyName, p.Img->Image());
  return t;
}

bool SameGradient(const TsGradArray& a, const TsGradArray& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.Color1 == y.Color1 && x.Color2 == y.Color2 && x.Percent == y.Percent &&
           x.Mode == y.Mode;
  });
}

class StoredSkinTest : public SkinTest {};

// Differences between the two paths that the loader's rules define, none of which shows
// here because skinc stores every value resolved:
// - a folder resolves missing keys through ParentClassName, a stored skin does not
//   (skinc writes the resolved values);
// - ShadowColor and ParentClassName are never resolved from parents on either path;
// - ShadowDontUse is neither read from a folder nor copied from a stored skin (false);
// - a stored skin parses GradientData even when it is the folder's " " (empty either way);
// - FontColor/HotFontColor are five words in a stored skin (skinc writes all five).
TEST_F(StoredSkinTest, CompiledSkinLoadsLikeTheFolder) {
  AddInternalSkin(manager->InternalSkins());
  manager->SetSkinName(kInternalSkinName);
  const Tables stored = Snapshot();
  manager->SetSkinDirectory(kSkins);
  manager->SetSkinName(skingen::kSkinFolder);
  const Tables folder = Snapshot();

  ASSERT_EQ(stored.Sections.size(), folder.Sections.size());
  ASSERT_GE(folder.Sections.size(), 20u);
  for (std::size_t i = 0; i < folder.Sections.size(); ++i) {
    const TsGeneralData &s = stored.Sections[i], &f = folder.Sections[i];
    SCOPED_TRACE(f.ClassName);
#define SAME(field) EXPECT_EQ(s.field, f.field) << #field
    SAME(ClassName);
    SAME(ParentClassName);
    SAME(PaintingColor);
    SAME(PaintingBevel);
    SAME(PaintingBevelWidth);
    SAME(FontColor);
    SAME(TCLeft);
    SAME(TCTop);
    SAME(TCRight);
    SAME(TCBottom);
    SAME(HotFontColor);
    SAME(HotTCLeft);
    SAME(HotTCTop);
    SAME(HotTCRight);
    SAME(HotTCBottom);
    SAME(ReservedBoolean);
    SAME(ShadowBlur);
    SAME(ShadowColor);
    SAME(ShadowDontUse);
    SAME(ShadowEnabled);
    SAME(ShadowOffset);
    SAME(ShadowTransparency);
    SAME(PaintingTransparency);
    SAME(GradientPercent);
    SAME(GradientData);
    SAME(ImagePercent);
    SAME(ShowFocus);
    SAME(FadingEnabled);
    SAME(FadingIntervalIn);
    SAME(FadingIntervalOut);
    SAME(FadingIterations);
    SAME(HotPaintingColor);
    SAME(HotPaintingTransparency);
    SAME(HotPaintingBevel);
    SAME(HotPaintingBevelWidth);
    SAME(HotGradientPercent);
    SAME(HotGradientData);
    SAME(HotImagePercent);
    SAME(PaintingColorBorderTop);
    SAME(PaintingColorBorderBottom);
    SAME(SelectionBorderBevel);
    SAME(SelectionBorderWidth);
    SAME(SelectionColor);
#undef SAME
    EXPECT_TRUE(SameGradient(s.GradientArray, f.GradientArray));
    EXPECT_TRUE(SameGradient(s.HotGradientArray, f.HotGradientArray));
  }
  // The main window's buttons paint from their own style values.
  EXPECT_EQ(GetSkinIndex("MyTsButton"), -1);
  // The scroll-bar sections take their values from their parents.
  EXPECT_EQ(Section("SCROLLBAR2V").PaintingColor, Section("SCROLLBAR1H").PaintingColor);
  EXPECT_EQ(Section("SCROLLBTNTOP").GradientData, Section("SCROLLBTNLEFT").GradientData);

  ASSERT_EQ(stored.Masks.size(), folder.Masks.size());
  for (std::size_t i = 0; i < folder.Masks.size(); ++i)
    EXPECT_TRUE(stored.Masks[i] == folder.Masks[i])
        << std::get<0>(folder.Masks[i]) << "." << std::get<1>(folder.Masks[i]);
  ASSERT_EQ(folder.Patterns.size(), 2u);
  EXPECT_TRUE(stored.Patterns == folder.Patterns);
  // Images follow the parent section too: the vertical buttons share the left one's frame.
  EXPECT_GE(GetMaskIndex(GetSkinIndex("SCROLLBTNTOP"), "SCROLLBTNTOP", "BORDERSMASK"), 0);
}

// Layouts the painting code relies on: three frames across over an image and a mask
// half; borders masks in 3 x 3 cells; fuchsia only where the mask lets the
// background through; the built-in glyphs transparent at their bottom-left pixel.
TEST(SkinGen, PicturesHaveTheExpectedLayouts) {
  for (const skingen::ArtImage& im : skingen::MakeArt().Images) {
    SCOPED_TRACE(im.Name);
    const Bitmap& b = im.Image;
    const bool builtinGlyph = im.Name.size() == 3;
    if (builtinGlyph) {
      EXPECT_EQ(b.Width(), im.Name[0] == 'R' ? 14 : 16);
      EXPECT_EQ(b.Height(), b.Width());
      EXPECT_EQ(b.Pixel(0, b.Height() - 1), 0xFF00FFu);
      continue;
    }
    if (im.Name.find(".jpg") != std::string::npos) continue;
    ASSERT_EQ(b.Width() % 3, 0);
    ASSERT_EQ(b.Height() % 2, 0);
    const int half = b.Height() / 2;
    for (int y = 0; y < half; ++y)
      for (int x = 0; x < b.Width(); ++x) {
        const COLORREF m = b.Pixel(x, y + half);
        ASSERT_TRUE(GetRValue(m) == GetGValue(m) && GetGValue(m) == GetBValue(m));
        if (b.Pixel(x, y) == 0xFF00FF) {
          ASSERT_EQ(m, 0xFFFFFFu) << x << "," << y;
        }
      }
  }
  EXPECT_TRUE(LoadBuiltinBitmap("BORD7").Empty());
}

double Luminance(COLORREF c) {
  const auto lin = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(GetRValue(c)) + 0.7152 * lin(GetGValue(c)) + 0.0722 * lin(GetBValue(c));
}
double Contrast(COLORREF a, COLORREF b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colours a section's background takes: its gradient's ends (or its colour), seen
// through its transparency over what lies below it.
std::vector<COLORREF> Backgrounds(const TsGeneralData& s, bool hot,
                                  const std::vector<COLORREF>& below) {
  const TsGradArray& grad = hot ? s.HotGradientArray : s.GradientArray;
  const int percent = hot ? s.HotGradientPercent : s.GradientPercent;
  std::vector<COLORREF> own;
  if (percent > 0 && !grad.empty())
    for (const TsGradientPoint& p : grad)
      own.insert(own.end(), {COLORREF(p.Color1), COLORREF(p.Color2)});
  else
    own.push_back(COLORREF(hot ? s.HotPaintingColor : s.PaintingColor));
  const int t = hot ? s.HotPaintingTransparency : s.PaintingTransparency;
  if (t <= 0) return own;
  std::vector<COLORREF> out;
  for (const COLORREF a : own)
    for (const COLORREF b : below) {
      const auto mix = [t](int x, int y) { return std::uint8_t(x + (y - x) * t / 100); };
      out.push_back(RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
                        mix(GetBValue(a), GetBValue(b))));
    }
  return out;
}

// What a focused edit shows: its field in the selection colour (the edit's default selection
// mode fills with it), framed by the border mask's hot frame.
COLORREF FocusedField(const TsGeneralData& s) {
  return COLORREF(s.SelectionColor);
}

// A focused edit of the stored skin is a white field with a one-pixel accent frame and no
// other line inside it; unfocused, the frame is the field border's colour.
TEST_F(StoredSkinTest, FocusedEditIsAWhiteFieldWithAnAccentFrame) {
  AddInternalSkin(manager->InternalSkins());
  manager->SetSkinName(kInternalSkinName);
  auto edit = [&](Rect r) {
    auto* e = Create<TsEdit>(form);
    e->SetParent(form);
    e->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    e->SetTabStop(true);
    return e;
  };
  TsEdit* other = edit({10, 50, 110, 72});
  TsEdit* e = edit({10, 10, 110, 32});
  ShowForm(form);
  auto shot = [&] {
    Pump();
    const Bitmap* screen = headless->Presented(form->Handle());
    Bitmap out(e->Width(), e->Height());
    if (screen != nullptr) CopyBitmapRect(out, {0, 0}, *screen, e->BoundsRect());
    return out;
  };
  struct Case {
    const char* what;
    TsEdit* focus;
    COLORREF frame;
  };
  const Case cases[] = {{"normal", other, 0xC3B7AE}, {"focused", e, 0x2D91E8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.focus->SetFocus();
    const Bitmap b = shot();
    const int mid = b.Height() / 2;
    EXPECT_EQ(b.Pixel(0, mid), c.frame);  // BGR of #AEB7C3 and of the accent #E8912D
    EXPECT_EQ(b.Pixel(b.Width() - 1, mid), c.frame);
    EXPECT_EQ(b.Pixel(b.Width() / 2, b.Height() - 1), c.frame);
    // Inside the frame: white, from just under the top edge to the bottom.
    for (int y = 1; y < b.Height() - 1; ++y) {
      if (std::string(c.what) == "normal" && y == 1) continue;  // the unfocused field's shade
      ASSERT_EQ(b.Pixel(b.Width() / 2, y), 0xFFFFFFu) << y;
      if (y > 1 && y < b.Height() - 2) {
        ASSERT_EQ(b.Pixel(1, y), 0xFFFFFFu) << y;  // past the corners
      }
    }
  }
  // The contrast check below reads the focused field's colour from the section.
  EXPECT_EQ(FocusedField(Section("TsEdit")), 0xFFFFFFu);
}

TEST_F(StoredSkinTest, TextIsReadableOnEverySection) {
  AddInternalSkin(manager->InternalSkins());
  manager->SetSkinName(kInternalSkinName);
  const std::vector<COLORREF> window = Backgrounds(Section("FORM"), true, {});
  const std::vector<COLORREF> menu = Backgrounds(Section("MAINMENU"), false, {});
  for (const TsGeneralData& s : SkinSections)
    for (const bool hot : {false, true})
      for (const COLORREF bg :
           s.ClassName == "TsEdit" && hot
               ? std::vector<COLORREF>{FocusedField(s)}
               : Backgrounds(s, hot, s.ClassName == "MENUITEM" ? menu : window)) {
        const COLORREF text = COLORREF(hot ? s.HotFontColor : s.FontColor);
        EXPECT_GE(Contrast(text, bg), 4.5)
            << s.ClassName << (hot ? " hot" : "") << " text " << std::hex << text << " on " << bg;
      }
}

}  // namespace
}  // namespace qv::test
