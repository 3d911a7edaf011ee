// A headless application with one form holding the skin manager, and a writer for skin
// folders: "Options.dat" and BMP/JPEG images generated into a temporary skin directory.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/base/paths.h"
#include "platform/classlib/menus.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/jpeg_codec.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "tests/platform/base/temp_dir.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv::test {

class SkinTest : public ClassLibTest {
 protected:
  void SetUp() override {
    ClassLibTest::SetUp();
    ASSERT_EQ(SkinData.SkinManager, nullptr);
    form = MakeForm();
    manager = Create<TsSkinManager>(form);
    manager->SetSkinDirectory(skins.path());
  }

  // A control of the test's form, placed on `parent`.
  template <class T>
  T* Add(TWinControl* parent, Rect r) {
    T* c = Create<T>(form);
    c->SetParent(parent);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    return c;
  }

  // A picture of `items` shown as a popup of `menu` once painted; the left-arrow key closes it
  // again. With `selectFirst` its first item is highlighted.
  Bitmap PopupShot(TMenu* menu, TMenuItem* items, bool selectFirst = false) {
    HWND shown = 0;
    Bitmap shot;
    TPopupTrackHooks hooks;
    hooks.SelectFirst = selectFirst;
    hooks.Side = [&](int) {
      PaintPendingWindows();
      shot = SnapshotWindow(shown);
      return true;
    };
    headless->InjectKey(VK_LEFT, true);
    EXPECT_EQ(TrackPopup(menu, items, {300, 300}, &hooks, &shown), nullptr);
    return shot;
  }

  // The folder of a skin, made on first use.
  std::string Folder(const std::string& skin) {
    const std::string folder = skins / skin;
    ForceDirectories(folder);
    return folder;
  }
  void Options(const std::string& skin, const std::string& text,
               const std::string& fileName = "Options.dat") {
    qv::testing::WriteFile(Folder(skin) + "/" + fileName, text);
  }
  static std::string Bytes(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
  }
  static Bitmap Filled(int w, int h, COLORREF color) {
    Bitmap b(w, h);
    b.Fill(color);
    return b;
  }
  // Writes an image below the skin folder (or at an absolute path) and returns its path.
  std::string Bmp(const std::string& skin, const std::string& name, int w, int h,
                  COLORREF color = 0x00FF00) {
    const std::string path = name.front() == '/' ? name : Folder(skin) + "/" + name;
    ForceDirectories(ExtractFilePath(path));
    qv::testing::WriteFile(path, Bytes(SaveBmp(Filled(w, h, color))));
    return path;
  }
  std::string Jpeg(const std::string& skin, const std::string& name, int w, int h,
                   COLORREF color = 0x0000FF) {
    const std::string path = name.front() == '/' ? name : Folder(skin) + "/" + name;
    ForceDirectories(ExtractFilePath(path));
    qv::testing::WriteFile(path, Bytes(SaveJpeg(Filled(w, h, color))));
    return path;
  }

  static const TsGeneralData& Section(const std::string& name) {
    const int i = GetSkinIndex(name);
    EXPECT_GE(i, 0) << name;
    return SkinSections.at(std::size_t(i < 0 ? 0 : i));
  }
  // "SECTION.KEY WxH" for each bitmap (picture), in table order.
  template <class Table, class Image>
  static std::vector<std::string> List(const Table& table, Image image) {
    std::vector<std::string> out;
    for (const auto& e : table)
      out.push_back(e.ClassName + "." + e.PropertyName + " " + std::to_string((e.*image)->Width()) +
                    "x" + std::to_string((e.*image)->Height()));
    return out;
  }
  // Gives `f` a skin provider and shows it, provider first as a form loads them.
  TsSkinProvider* ShowWithProvider(TForm* f) {
    auto* p = Create<TsSkinProvider>(f);
    p->AfterConstruction();
    f->AfterConstruction();
    f->Show();
    Pump();
    return p;
  }
  static std::vector<std::string> Masks() { return List(SkinMasks, &TsMaskData::Bmp); }
  static std::vector<std::string> Patterns() { return List(SkinPatterns, &TsPatternData::Img); }

  qv::testing::TempDir skins;
  TForm* form = nullptr;
  TsSkinManager* manager = nullptr;  // owned by the form
};

}  // namespace qv::test
