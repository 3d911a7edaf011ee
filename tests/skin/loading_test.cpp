// Skin tables from generated skin folders and from stored skins, and the manager's
// look-ups, names and image changes.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/base/stringlist.h"
#include "skin/sutils.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

using test::SkinTest;
using Strings = std::vector<std::string>;

TEST_F(SkinTest, SectionsInheritAsTheFormatSays) {
  std::string deep;
  for (int i = 0; i <= 20; ++i) {
    deep += "[Deep" + std::to_string(i) + "]\nParentClassName=Deep" + std::to_string(i + 1) + "\n";
    if (i == 5) deep += "PaintingColor=5\n";
    if (i == 20) deep += "SelectionColor=20\n";
  }
  Options("S",
          "[TsEdit]\nPaintingColor=255\nShadowColor=77\nShowFocus=True\nFONTCOLOR=$0000FF\n"
          "GradientData=255;65280;50;0;0;0;0;0;0;0\n"
          "[Child]\nParentClassName=tsedit\nShowFocus=1\nFadingEnabled=tRuE\nPaintingBevel=9\n"
          "HotPaintingBevel=-3\n"
          "[Orphan]\nParentClassName=Missing\n"
          "[Self]\nParentClassName=SELF\n"
          "[A]\nParentClassName=B\n[B]\nParentClassName=A\n"
          "[Bad]\nPaintingColor=12abc\nGradientData=1;2;x;0;0\nSelectionBorderBevel=99999999999\n" +
              deep);
  manager->SetSkinName("S");
  ASSERT_TRUE(SkinData.Active);
  ASSERT_EQ(SkinSections.size(), 28u);
  EXPECT_EQ(GetSkinIndex("tsedit"), 0);

  // The values that differ between the cases, in one line per section.
  const auto summary = [](const std::string& name) {
    const TsGeneralData& d = Section(name);
    char line[200];
    std::snprintf(line, sizeof line,
                  "colour %x font %x shadow %d/%d/%d/%d bevels %d/%d/%d width %d tc %d "
                  "focus %d fading %d/%d grad %zu/%zu \"%s\"/\"%s\" select %x",
                  d.PaintingColor, d.FontColor, d.ShadowColor, d.ShadowBlur, d.ShadowOffset,
                  d.ShadowTransparency, d.PaintingBevel, d.HotPaintingBevel, d.SelectionBorderBevel,
                  d.PaintingBevelWidth, d.TCLeft, d.ShowFocus, d.FadingEnabled, d.FadingIterations,
                  d.GradientArray.size(), d.HotGradientArray.size(), d.GradientData.c_str(),
                  d.HotGradientData.c_str(), d.SelectionColor);
    return std::string(line);
  };
  const std::string defaults =
      "colour ffffff font 0 shadow 0/6/3/60 bevels 0/0/2 width 2 tc -1 focus 0 fading 0/5 "
      "grad 0/0 \" \"/\"\" select ffffff";
  EXPECT_EQ(summary("TsEdit"),
            "colour ff font ff shadow 77/6/3/60 bevels 0/0/2 width 2 tc -1 focus 1 fading 0/5 "
            "grad 2/0 \"255;65280;50;0;0;0;0;0;0;0\"/\"\" select ffffff");
  // Inherited but ShadowColor; "1" is not true; bevel ordinals are kept in range.
  EXPECT_EQ(summary("Child"),
            "colour ff font ff shadow 0/6/3/60 bevels 4/0/2 width 2 tc -1 focus 0 fading 1/5 "
            "grad 2/0 \"255;65280;50;0;0;0;0;0;0;0\"/\"\" select ffffff");
  EXPECT_EQ(Section("Child").ParentClassName, "tsedit");
  // Missing parents, self-references and cycles end in the defaults.
  for (const char* name : {"Orphan", "Self", "A", "B"}) EXPECT_EQ(summary(name), defaults);
  EXPECT_EQ(GetMaskIndex(GetSkinIndex("A"), "A", "BORDERSMASK"), -1);
  // A long chain is followed up to the depth limit.
  EXPECT_EQ(Section("Deep0").PaintingColor, 5);
  EXPECT_EQ(Section("Deep0").SelectionColor, 0xFFFFFF);
  EXPECT_EQ(Section("Deep19").SelectionColor, 20);
  // Malformed numbers and gradients count as absent.
  EXPECT_EQ(summary("Bad"),
            "colour ffffff font 0 shadow 0/6/3/60 bevels 0/0/2 width 2 tc -1 "
            "focus 0 fading 0/5 grad 0/0 \"1;2;x;0;0\"/\"\" select ffffff");
}

TEST_F(SkinTest, ImagesAreFoundInAnyCaseAndBadOnesSkipped) {
  const std::string absolute = skins / "elsewhere/Min.bmp";
  Options("S",
          "[FORM]\nIMAGEFILE=back.JPG\nBORDERSMASK=sub\\Border.bmp\nTITLEBAR=missing.bmp\n"
          "GLYPHMASK=broken.bmp\nBICONCLOSE=zero.bmp\nBICONMIN=" +
              absolute +
              "\nBICONHELP=C:\\Skins\\help.bmp\n"
              "[TsButton]\nParentClassName=FORM\n"
              "[FORMTITLE]\nParentClassName=TsButton\nBORDERSMASK=title.bmp\n",
          "OPTIONS.DAT");
  Jpeg("S", "back.jpg", 8, 8);
  Bmp("S", "Sub/border.BMP", 9, 6, 0x112233);
  Bmp("S", "title.bmp", 4, 4);
  Bmp("", absolute, 3, 3);
  qv::testing::WriteFile(Folder("S") + "/broken.bmp", "BM not a bitmap");
  std::string zero = Bytes(SaveBmp(Filled(1, 1, 0)));
  zero[18] = zero[19] = zero[20] = zero[21] = 0;  // width 0
  qv::testing::WriteFile(Folder("S") + "/zero.bmp", zero);

  manager->SetSkinName("S");
  EXPECT_EQ(Masks(),
            (Strings{"FORM.BORDERSMASK 9x6", "FORM.BICONMIN 3x3", "FORMTITLE.BORDERSMASK 4x4"}));
  EXPECT_EQ(Patterns(), (Strings{"FORM.IMAGEFILE 8x8"}));
  EXPECT_EQ(SkinMasks[0].TransparentColor, 0xFF00FF);
  EXPECT_EQ(SkinMasks[0].Bmp->GetPixelFormat(), PixelFormat::pf24bit);
  EXPECT_EQ(SkinMasks[0].Bmp->Canvas().Pixel(8, 5), 0x112233);

  const int title = GetSkinIndex("FORMTITLE"), button = GetSkinIndex("TsButton");
  EXPECT_EQ(GetMaskIndex(title, "FORMTITLE", "BORDERSMASK"), 2);
  EXPECT_EQ(GetMaskIndex(title, "FORMTITLE", "BICONMIN"), 1);  // two steps up
  EXPECT_EQ(GetMaskIndex(button, "TsButton", "BORDERSMASK"), 0);
  EXPECT_EQ(GetPatternIndex(button, "TsButton", "IMAGEFILE"), 0);
  EXPECT_EQ(GetMaskIndex(button, "TsButton", "borderSmask"), -1);  // keys come in upper case
  EXPECT_EQ(GetMaskIndex(99, "TsButton", "BORDERSMASK"), -1);
  EXPECT_TRUE(IsValidImgIndex(2));
  EXPECT_FALSE(IsValidImgIndex(3));

  // Off: nothing answers and the bitmaps are gone; on again: everything is read anew.
  manager->SetActive(false);
  EXPECT_EQ(GetSkinIndex("FORM"), -1);
  EXPECT_TRUE(SkinMasks.empty());
  EXPECT_FALSE(IsValidSkinIndex(0));
  manager->SetActive(true);
  EXPECT_EQ(Masks().size(), 3u);
  EXPECT_EQ(GetSkinIndex("FORM"), 0);
}

TEST_F(SkinTest, MasksAreMade24BitAndKeptWhenThatFails) {
  Options("C", "[FORM]\nBORDERSMASK=deep.bmp\nTITLEBAR=flat.bmp\n");
  BmpWriteOptions deep;
  deep.BitsPerPixel = 32;
  qv::testing::WriteFile(Folder("C") + "/deep.bmp", Bytes(SaveBmp(Filled(5, 4, 0x336699), deep)));
  Bmp("C", "flat.bmp", 3, 2);
  manager->SetSkinName("C");
  ASSERT_EQ(Masks(), (Strings{"FORM.BORDERSMASK 5x4", "FORM.TITLEBAR 3x2"}));
  EXPECT_EQ(SkinMasks[0].Bmp->GetPixelFormat(), PixelFormat::pf24bit);
  EXPECT_EQ(SkinMasks[0].Bmp->Canvas().Pixel(4, 3), 0x336699);

  // A conversion that fails is reported once per image, and the images stay.
  const auto convert = ConvertMaskTo24;
  ConvertMaskTo24 = [](TBitmap&) { throw std::bad_alloc(); };
  ::testing::internal::CaptureStderr();
  manager->SetSkinName("C");
  const std::string err = ::testing::internal::GetCapturedStderr();
  ConvertMaskTo24 = convert;
  EXPECT_EQ(Masks(), (Strings{"FORM.BORDERSMASK 5x4", "FORM.TITLEBAR 3x2"}));
  std::size_t shown = 0;
  for (std::size_t at = err.find("Error of PixelFormat changing"); at != std::string::npos;
       at = err.find("Error of PixelFormat changing", at + 1))
    ++shown;
  EXPECT_EQ(shown, 2u) << err;
  EXPECT_TRUE(SkinData.Active);
}

TEST_F(SkinTest, StoredSkinsFirstOfANameWins) {
  for (const char* section : {"FIRST", "SECOND"}) {
    TsStoredSkin* skin = manager->InternalSkins().Add();
    skin->SetName("Stored");
    TsSkinGeneral* g = skin->GeneralData().Add();
    g->SectionName = section;
    g->FontColor = "255 1 2 3 4";
    g->HotFontColor = "12 -1 -1 -1 -1";
    g->GradientData = "0;255;100;0;0";
    g->PaintingBevel = static_cast<TsControlBevel>(7);
    TsSkinImage* image = skin->Images().Add();
    image->SectionName = section;
    image->PropertyName = "bordersmask";
    image->SetImage(TBitmap(5, 2));
    TsSkinPattern* pattern = skin->Patterns().Add();
    pattern->SectionName = section;
    pattern->PropertyName = "IMAGEFILE";
  }
  // The form data copies stored skins with Assign.
  TsStoredSkins copy(nullptr);
  copy.Assign(manager->InternalSkins());
  manager->SetInternalSkins(copy);
  ASSERT_EQ(manager->InternalSkins().Count(), 2);

  manager->SetSkinName("Stored");
  ASSERT_EQ(SkinSections.size(), 1u);
  const TsGeneralData& d = Section("FIRST");
  EXPECT_EQ(std::vector<int>({d.FontColor, d.TCLeft, d.TCTop, d.TCRight, d.TCBottom}),
            std::vector<int>({255, 1, 2, 3, 4}));
  EXPECT_EQ(
      std::vector<int>({d.HotFontColor, d.HotTCLeft, d.HotTCTop, d.HotTCRight, d.HotTCBottom}),
      std::vector<int>({12, -1, -1, -1, -1}));
  EXPECT_EQ(d.GradientArray.size(), 1u);
  EXPECT_EQ(d.PaintingBevel, cbLoweredHard);
  EXPECT_EQ(Masks(), (Strings{"FIRST.BORDERSMASK 5x2"}));
  EXPECT_EQ(SkinPatterns.size(), 1u);

  // Stored skins are generated: a colour word that is not a number, or is missing, raises.
  for (const char* bad : {"12 x -1 -1 -1", "12 -1 -1 -1"}) {
    manager->InternalSkins()[0]->GeneralData()[0]->HotFontColor = bad;
    EXPECT_THROW(manager->SetSkinName("Stored"), Exception) << bad;
  }
  manager->InternalSkins()[0]->GeneralData()[0]->HotFontColor = "";
  manager->SetSkinName("Stored");
  EXPECT_EQ(Section("FIRST").HotFontColor, 0);
  EXPECT_EQ(Section("FIRST").HotTCLeft, -1);

  // An unknown name keeps the sections but not the images; the skin is still announced.
  manager->SetSkinName("Nothing");
  EXPECT_TRUE(SkinData.Active);
  EXPECT_EQ(GetSkinIndex("FIRST"), 0);
  EXPECT_TRUE(SkinMasks.empty());
}

TEST_F(SkinTest, SkinNamesListStoredSkinsThenFolders) {
  for (const char* name : {"Zeta", "Alpha"}) manager->InternalSkins().Add()->SetName(name);
  for (const char* name : {"b-skin", "A-skin", ".hidden"}) Folder(name);
  qv::testing::WriteFile(skins / "plain.txt", "x");
  TStringList names;
  std::string first;
  manager->GetSkinNames(names, first);
  EXPECT_EQ(names.Text(), "Zeta\nAlpha\nA-skin\nb-skin\n");
  EXPECT_EQ(first, "Zeta");

  manager->InternalSkins().Clear();
  manager->SetSkinDirectory(skins / "none");
  manager->GetSkinNames(names, first);
  EXPECT_EQ(names.Count(), 0);
  EXPECT_EQ(first, "");

  // Relative directories are taken from the program's folder.
  manager->SetSkinDirectory(".\\Skins");
  EXPECT_EQ(manager->GetFullSkinDirectory(), GetAppPath() + "Skins/");
  manager->SetSkinDirectory("Skins/");
  EXPECT_EQ(manager->GetFullSkinDirectory(), GetAppPath() + "Skins/");
  // An empty name loads nothing and clears the directory.
  manager->SetSkinName("");
  EXPECT_EQ(manager->SkinDirectory(), "");
  EXPECT_EQ(SkinData.SkinFile, nullptr);
}

TEST_F(SkinTest, ChangeImageMatrix) {
  auto announced = std::make_shared<int>(0);
  const auto previous = form->WindowProc;
  form->WindowProc = [announced, previous](TMessage& m) {
    if (m.Msg == SKM_NEWSKIN) ++*announced;
    previous(m);
  };
  const std::string newBmp = Bmp("", skins / "new/pic.bmp", 7, 7);
  const std::string newJpg = Jpeg("", skins / "new/pic.jpg", 6, 6);
  const struct {
    const char* what;
    const char* options;  // of section FORM
    const char *section, *property;
    std::string file;
    bool result;
    Strings masks, patterns;
    int announced;
  } cases[] = {
      {"jpg over a bitmap",
       "IMAGEFILE=a.bmp\n",
       "form",
       "ImageFile",
       newJpg,
       false,
       {},
       {"FORM.IMAGEFILE 6x6"},
       1},
      {"jpg onto a picture",
       "IMAGEFILE=b.jpg\nBORDERSMASK=a.bmp\n",
       "FORM",
       "IMAGEFILE",
       newJpg,
       true,
       {"FORM.BORDERSMASK 2x2"},
       {"FORM.IMAGEFILE 6x6"},
       0},
      {"bmp onto a bitmap",
       "HOTIMAGEFILE=a.bmp\nIMAGEFILE=b.jpg\n",
       "FORM",
       "HOTIMAGEFILE",
       newBmp,
       true,
       {"FORM.HOTIMAGEFILE 7x7"},
       {"FORM.IMAGEFILE 3x3"},
       0},
      {"bmp over a picture",
       "HOTIMAGEFILE=b.jpg\nIMAGEFILE=b.jpg\n",
       "FORM",
       "HOTIMAGEFILE",
       newBmp,
       true,
       {"FORM.HOTIMAGEFILE 7x7"},
       {"FORM.IMAGEFILE 3x3"},
       1},
      {"bmp where nothing was",
       "",
       "FORM",
       "IMAGEFILE",
       newBmp,
       true,
       {"FORM.IMAGEFILE 7x7"},
       {},
       0},
      {"jpg where nothing was",
       "",
       "FORM",
       "IMAGEFILE",
       newJpg,
       false,
       {},
       {"FORM.IMAGEFILE 6x6"},
       0},
      {"other key, bitmap there",
       "BORDERSMASK=a.bmp\n",
       "FORM",
       "bordersmask",
       newBmp,
       true,
       {"FORM.BORDERSMASK 7x7"},
       {},
       0},
      {"other key, no bitmap", "", "FORM", "TITLEBAR", newBmp, false, {}, {}, 0},
      {"other key, a picture",
       "TITLEBAR=b.jpg\n",
       "FORM",
       "TITLEBAR",
       newJpg,
       false,
       {},
       {"FORM.TITLEBAR 3x3"},
       0},
      {"missing file",
       "IMAGEFILE=a.bmp\n",
       "FORM",
       "IMAGEFILE",
       skins / "new/none.jpg",
       false,
       {"FORM.IMAGEFILE 2x2"},
       {},
       0},
      {"empty section",
       "IMAGEFILE=a.bmp\n",
       "",
       "IMAGEFILE",
       newJpg,
       false,
       {"FORM.IMAGEFILE 2x2"},
       {},
       0},
  };
  Bmp("S", "a.bmp", 2, 2);
  Jpeg("S", "b.jpg", 3, 3);
  for (const auto& c : cases) {
    Options("S", std::string("[FORM]\n") + c.options);
    manager->SetSkinName("S");
    *announced = 0;
    EXPECT_EQ(manager->ChangeImage(c.section, c.property, c.file), c.result) << c.what;
    // Sections other than FORM only serve to give a pair to both tables.
    Strings masks, patterns;
    for (const std::string& m : Masks())
      if (m.rfind("FORM.", 0) == 0) masks.push_back(m);
    for (const std::string& p : Patterns())
      if (p.rfind("FORM.", 0) == 0) patterns.push_back(p);
    EXPECT_EQ(masks, c.masks) << c.what;
    EXPECT_EQ(patterns, c.patterns) << c.what;
    EXPECT_EQ(*announced, c.announced) << c.what;
  }
  // Only a stored skin can hold a bitmap and a picture for one pair: the picture is
  // reloaded and the bitmap stays.
  TsStoredSkin* both = manager->InternalSkins().Add();
  both->SetName("Both");
  both->GeneralData().Add()->SectionName = "FORM";
  TsSkinImage* image = both->Images().Add();
  image->SectionName = "FORM";
  image->PropertyName = "IMAGEFILE";
  image->SetImage(TBitmap(2, 2));
  TsSkinPattern* pattern = both->Patterns().Add();
  pattern->SectionName = "FORM";
  pattern->PropertyName = "IMAGEFILE";
  pattern->Image().LoadFromFile(Folder("S") + "/b.jpg");
  manager->SetSkinName("Both");
  EXPECT_TRUE(manager->ChangeImage("FORM", "IMAGEFILE", newJpg));
  EXPECT_EQ(Masks(), (Strings{"FORM.IMAGEFILE 2x2"}));
  EXPECT_EQ(Patterns(), (Strings{"FORM.IMAGEFILE 6x6"}));

  // Without an active skin nothing changes.
  manager->SetActive(false);
  EXPECT_FALSE(manager->ChangeImage("FORM", "IMAGEFILE", newBmp));
  EXPECT_TRUE(SkinMasks.empty());
}

}  // namespace
}  // namespace qv
