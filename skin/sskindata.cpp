#include "skin/sskindata.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <set>

#include "platform/base/paths.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"
#include "skin/sgradient.h"
#include "skin/sskinmanager.h"
#include "skin/sutils.h"

namespace qv {

TsSkinData SkinData;

void (*ConvertMaskTo24)(TBitmap& bitmap) = [](TBitmap& bitmap) {
  bitmap.SetPixelFormat(PixelFormat::pf24bit);
};

namespace {

bool IsDrivePath(std::string_view value) {
  return value.size() >= 2 && std::isalpha(static_cast<unsigned char>(value[0])) &&
         value[1] == ':' && (value.size() == 2 || IsPathDelimiter(value[2]));
}

// Follows a path below `base` one part at a time, each part matched exactly first and
// then without regard to case.
std::string FindBelow(std::string base, std::string_view relative) {
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      base = IncludeTrailingPathDelimiter(base) + "..";
      continue;
    }
    base = FindFileNoCase(base, part);
    if (base.empty()) return base;
  }
  return base;
}

// The walk up "ParentClassName": calls `visit(section)` for the section and then for each
// ancestor, until it returns true, a name repeats, or the depth limit is reached.
template <class Visit>
void WalkParents(TCustomIniFile& file, const std::string& section, Visit&& visit) {
  std::set<std::string> seen;
  std::string current = section;
  for (int depth = 0; depth <= kMaxParentDepth; ++depth) {
    if (visit(current)) return;
    seen.insert(UpperCase(current));
    const std::string parent = file.ReadString(current, "ParentClassName", "?");
    if (parent.empty() || parent == "?" || seen.count(UpperCase(parent)) != 0) return;
    current = parent;
  }
}

const TsStoredSkin* FindStoredSkin() {
  if (SkinData.SkinManager == nullptr) return nullptr;
  const TsStoredSkins& skins = SkinData.SkinManager->InternalSkins();
  for (int i = 0; i < skins.Count(); ++i)
    if (skins[i]->Name() == SkinData.SkinManager->SkinName()) return skins[i];
  return nullptr;
}

template <class T>
T ClampedBevel(int value, int high) {
  return static_cast<T>(std::clamp(value, 0, high));
}

// "colour left top right bottom"; empty gives 0 and no contour. Stored skins are our own
// generated data, so a word that is missing or not a number raises the conversion error.
void SplitFontColors(const std::string& text, TColor& color, std::int32_t* tc[4]) {
  color = 0;
  for (int k = 0; k < 4; ++k) *tc[k] = -1;
  if (text.empty()) return;
  color = StrToInt(ExtractWord(1, text, " "));
  for (int k = 0; k < 4; ++k) *tc[k] = StrToInt(ExtractWord(k + 2, text, " "));
}

// The image values of "Options.dat" (upper-cased copy containing one of `marks`), each
// with its section and key, in file order.
template <class Load>
void ForEachImageKey(std::initializer_list<const char*> marks, Load&& load) {
  TCustomIniFile& file = *SkinData.SkinFile;
  TStringList sections, keys;
  file.ReadSections(sections);
  for (int s = 0; s < sections.Count(); ++s) {
    file.ReadSection(sections[s], keys);
    for (int k = 0; k < keys.Count(); ++k) {
      const std::string value = file.ReadString(sections[s], keys[k], "-");
      const std::string upper = UpperCase(value);
      if (std::none_of(marks.begin(), marks.end(),
                       [&](const char* m) { return upper.find(m) != std::string::npos; }))
        continue;
      const std::string path = ResolveSkinFile(SkinData.SkinPath, value);
      if (path.empty() || !FileExists(path)) continue;
      load(UpperCase(sections[s]), UpperCase(keys[k]), path);
    }
  }
}

template <class Table>
int FindImage(const Table& table, int skinIndex, const std::string& sectionName,
              const std::string& propertyName) {
  if (!IsValidSkinIndex(skinIndex) || sectionName.empty()) return -1;
  std::set<std::string> seen;
  std::string section = UpperCase(sectionName);
  int index = skinIndex;
  for (int depth = 0; depth <= kMaxParentDepth; ++depth) {
    for (std::size_t i = 0; i < table.size(); ++i)
      if (table[i].PropertyName == propertyName && table[i].ClassName == section) return int(i);
    seen.insert(section);
    const std::string parent = UpperCase(SkinSections[std::size_t(index)].ParentClassName);
    if (parent.empty() || seen.count(parent) != 0) return -1;
    index = GetSkinIndex(parent);
    if (index < 0) return -1;
    section = parent;
  }
  return -1;
}

}  // namespace

std::string FindSkinOptions(const std::string& skinFolder) {
  if (skinFolder.empty()) return std::string();
  const std::string path = FindFileNoCase(skinFolder, "Options.dat");
  return !path.empty() && FileExists(path) ? path : std::string();
}

std::string ResolveSkinFile(const std::string& skinFolder, const std::string& value) {
  const std::string name = NormalizePath(Trim(value));
  if (name.empty()) return std::string();
  if (IsDrivePath(name)) return std::string();  // no drives here: nothing to find
  if (name.front() == '/') {
    if (FileExists(name)) return name;
    const std::string folder = ExtractFilePath(name);
    return folder.empty() ? std::string() : FindFileNoCase(folder, ExtractFileName(name));
  }
  if (skinFolder.empty()) return std::string();
  return FindBelow(ExcludeTrailingPathDelimiter(skinFolder), name);
}

void FreeAllMasks() {
  while (!SkinMasks.empty()) SkinMasks.pop_back();
}

void FreeAllPatterns() {
  while (!SkinPatterns.empty()) SkinPatterns.pop_back();
}

void LoadAllMasks() {
  FreeAllMasks();
  if (SkinData.SkinFile != nullptr) {
    ForEachImageKey({".BMP"}, [](std::string section, std::string key, const std::string& path) {
      auto bmp = std::make_unique<TBitmap>();
      try {
        bmp->LoadFromFile(path);
      } catch (const std::exception&) {
        return;  // an image that cannot be read counts as missing
      }
      if (bmp->Width() < 1) return;
      TBitmap& entry = *bmp;
      SkinMasks.push_back({std::move(bmp), std::move(section), std::move(key), 0xFF00FF});
      try {
        ConvertMaskTo24(entry);
      } catch (const std::exception&) {
        ShowError("Error of PixelFormat changing");
      }
    });
    return;
  }
  const TsStoredSkin* stored = FindStoredSkin();
  if (stored == nullptr) return;
  for (int i = 0; i < stored->Images().Count(); ++i) {
    const TsSkinImage& image = *stored->Images()[i];
    auto bmp = std::make_unique<TBitmap>();
    bmp->Assign(image.Image());
    SkinMasks.push_back(
        {std::move(bmp), UpperCase(image.SectionName), UpperCase(image.PropertyName), 0xFF00FF});
  }
}

void LoadAllPatterns() {
  FreeAllPatterns();
  if (SkinData.SkinFile != nullptr) {
    ForEachImageKey({".JPG", ".JPEG"},
                    [](std::string section, std::string key, const std::string& path) {
                      auto img = std::make_unique<TJPEGImage>();
                      try {
                        img->LoadFromFile(path);
                      } catch (const std::exception&) {
                        return;
                      }
                      if (img->Width() < 1) return;
                      SkinPatterns.push_back({std::move(img), std::move(section), std::move(key)});
                    });
    return;
  }
  const TsStoredSkin* stored = FindStoredSkin();
  if (stored == nullptr) return;
  for (int i = 0; i < stored->Patterns().Count(); ++i) {
    const TsSkinPattern& pattern = *stored->Patterns()[i];
    auto img = std::make_unique<TJPEGImage>();
    if (!pattern.Image().Empty()) img->Assign(pattern.Image());
    SkinPatterns.push_back(
        {std::move(img), UpperCase(pattern.SectionName), UpperCase(pattern.PropertyName)});
  }
}

std::string ReadSkinString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) {
  if (SkinData.SkinFile == nullptr) return defaultValue;
  std::string result = "?";
  WalkParents(*SkinData.SkinFile, section, [&](const std::string& current) {
    result = SkinData.SkinFile->ReadString(current, key, "?");
    return result != "?";
  });
  return result == "?" ? defaultValue : result;
}

int ReadSkinInteger(const std::string& section, const std::string& key, int defaultValue) {
  if (SkinData.SkinFile == nullptr) return defaultValue;
  int result = -1;
  WalkParents(*SkinData.SkinFile, section, [&](const std::string& current) {
    result = SkinData.SkinFile->ReadInteger(current, key, -1);
    return result != -1;
  });
  return result == -1 ? defaultValue : result;
}

namespace {

TsGeneralData ReadSection(TCustomIniFile& file, const std::string& s) {
  const auto integer = [&](const char* key, int def) { return ReadSkinInteger(s, key, def); };
  const auto boolean = [&](const char* key) {
    return UpperCase(ReadSkinString(s, key, "FALSE")) == "TRUE";
  };
  TsGeneralData d;
  d.ClassName = s;
  d.ParentClassName = file.ReadString(s, "ParentClassName", "");
  d.PaintingColor = integer("PaintingColor", 0xFFFFFF);
  d.PaintingBevel = ClampedBevel<TsControlBevel>(integer("PaintingBevel", 0), cbLoweredHard);
  d.PaintingBevelWidth = integer("PaintingBevelWidth", 2);
  d.ShadowBlur = integer("ShadowBlur", 6);
  d.ShadowOffset = integer("ShadowOffset", 3);
  d.ShadowColor = file.ReadInteger(s, "ShadowColor", 0);
  d.ShadowTransparency = integer("ShadowTransparency", 60);
  d.ShadowEnabled = boolean("ShadowEnabled");
  d.ReservedBoolean = boolean("RESERVEDBOOLEAN");
  d.FontColor = integer("FONTCOLOR", 0);
  d.TCLeft = integer("TCLEFT", -1);
  d.TCTop = integer("TCTOP", -1);
  d.TCRight = integer("TCRIGHT", -1);
  d.TCBottom = integer("TCBOTTOM", -1);
  d.HotFontColor = integer("HOTFONTCOLOR", 0);
  d.HotTCLeft = integer("HOTTCLEFT", -1);
  d.HotTCTop = integer("HOTTCTOP", -1);
  d.HotTCRight = integer("HOTTCRIGHT", -1);
  d.HotTCBottom = integer("HOTTCBOTTOM", -1);
  d.PaintingTransparency = integer("PaintingTransparency", 0);
  d.GradientPercent = integer("GradientPercent", 0);
  d.ImagePercent = integer("ImagePercent", 0);
  d.GradientData = ReadSkinString(s, "GradientData", " ");
  if (d.GradientData != " ") PrepareGradArray(d.GradientData, d.GradientArray);
  d.ShowFocus = boolean("ShowFocus");
  d.FadingEnabled = boolean("FadingEnabled");
  d.FadingIntervalIn = integer("FadingIntervalIn", 5);
  d.FadingIntervalOut = integer("FadingIntervalOut", 5);
  d.FadingIterations = integer("FadingIterations", 5);
  d.HotPaintingColor = integer("HotPaintingColor", 0xFFFFFF);
  d.HotPaintingTransparency = integer("HotPaintingTransparency", 0);
  d.HotPaintingBevel = ClampedBevel<TsControlBevel>(integer("HotPaintingBevel", 0), cbLoweredHard);
  d.HotPaintingBevelWidth = integer("HotPaintingBevelWidth", 2);
  d.HotGradientPercent = integer("HotGradientPercent", 0);
  d.HotGradientData = ReadSkinString(s, "HotGradientData", "");
  if (d.HotGradientData != " ") PrepareGradArray(d.HotGradientData, d.HotGradientArray);
  d.HotImagePercent = integer("HotImagePercent", 0);
  d.PaintingColorBorderTop = integer("PaintingColorBorderTop", 0);
  d.PaintingColorBorderBottom = integer("PaintingColorBorderBottom", 0);
  d.SelectionColor = integer("SelectionColor", 0xFFFFFF);
  d.SelectionBorderBevel =
      ClampedBevel<TsEditorBevel>(integer("SelectionBorderBevel", ebLowered), ebAsBottomBorder);
  d.SelectionBorderWidth = integer("SelectionBorderWidth", 2);
  return d;
}

TsGeneralData CopyStored(const TsSkinGeneral& g) {
  TsGeneralData d;
  d.ClassName = g.SectionName;
  d.ParentClassName = g.ParentClassName;
  d.PaintingColor = g.PaintingColor;
  d.PaintingBevel = ClampedBevel<TsControlBevel>(g.PaintingBevel, cbLoweredHard);
  d.PaintingBevelWidth = g.PaintingBevelWidth;
  d.ShadowBlur = g.ShadowBlur;
  d.ShadowColor = g.ShadowColor;
  d.ShadowEnabled = g.ShadowEnabled;
  d.ReservedBoolean = g.ReservedBoolean;
  d.ShadowOffset = g.ShadowOffset;
  d.ShadowTransparency = g.ShadowTransparency;
  std::int32_t* tc[4] = {&d.TCLeft, &d.TCTop, &d.TCRight, &d.TCBottom};
  SplitFontColors(g.FontColor, d.FontColor, tc);
  std::int32_t* hotTc[4] = {&d.HotTCLeft, &d.HotTCTop, &d.HotTCRight, &d.HotTCBottom};
  SplitFontColors(g.HotFontColor, d.HotFontColor, hotTc);
  d.PaintingTransparency = g.PaintingTransparency;
  d.GradientPercent = g.GradientPercent;
  d.GradientData = g.GradientData;
  PrepareGradArray(d.GradientData, d.GradientArray);
  d.ImagePercent = g.ImagePercent;
  d.ShowFocus = g.ShowFocus;
  d.FadingEnabled = g.FadingEnabled;
  d.FadingIntervalIn = g.FadingIntervalIn;
  d.FadingIntervalOut = g.FadingIntervalOut;
  d.FadingIterations = g.FadingIterations;
  d.HotPaintingColor = g.HotPaintingColor;
  d.HotPaintingTransparency = g.HotPaintingTransparency;
  d.HotPaintingBevel = ClampedBevel<TsControlBevel>(g.HotPaintingBevel, cbLoweredHard);
  d.HotPaintingBevelWidth = g.HotPaintingBevelWidth;
  d.HotGradientPercent = g.HotGradientPercent;
  d.HotGradientData = g.HotGradientData;
  PrepareGradArray(d.HotGradientData, d.HotGradientArray);
  d.HotImagePercent = g.HotImagePercent;
  d.PaintingColorBorderTop = g.PaintingColorBorderTop;
  d.PaintingColorBorderBottom = g.PaintingColorBorderBottom;
  d.SelectionBorderBevel = ClampedBevel<TsEditorBevel>(g.SelectionBorderBevel, ebAsBottomBorder);
  d.SelectionBorderWidth = g.SelectionBorderWidth;
  d.SelectionColor = g.SelectionColor;
  return d;
}

}  // namespace

void LoadAllGeneralData() {
  if (SkinData.SkinFile != nullptr) {
    SkinSections.clear();
    TStringList sections;
    SkinData.SkinFile->ReadSections(sections);
    for (int i = 0; i < sections.Count(); ++i)
      SkinSections.push_back(ReadSection(*SkinData.SkinFile, sections[i]));
    return;
  }
  const TsStoredSkin* stored = FindStoredSkin();
  if (stored == nullptr) return;
  SkinSections.clear();
  for (int i = 0; i < stored->GeneralData().Count(); ++i)
    SkinSections.push_back(CopyStored(*stored->GeneralData()[i]));
}

int GetSkinIndex(const std::string& sectionName) {
  if (!SkinData.Active) return -1;
  for (std::size_t i = 0; i < SkinSections.size(); ++i)
    if (SameText(SkinSections[i].ClassName, sectionName)) return int(i);
  return -1;
}

int GetMaskIndex(int skinIndex, const std::string& sectionName, const std::string& propertyName) {
  return FindImage(SkinMasks, skinIndex, sectionName, propertyName);
}

int GetPatternIndex(int skinIndex, const std::string& sectionName,
                    const std::string& propertyName) {
  return FindImage(SkinPatterns, skinIndex, sectionName, propertyName);
}

bool IsValidSkinIndex(int index) {
  return SkinData.Active && index >= 0 && std::size_t(index) < SkinSections.size();
}

bool IsValidImgIndex(int index) {
  return SkinData.Active && index >= 0 && std::size_t(index) < SkinMasks.size();
}

}  // namespace qv
