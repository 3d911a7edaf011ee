#include "platform/gfx/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/base/text.h"
#include "platform/gfx/builtin_font.h"

namespace qv {

namespace {

// One lock for fontconfig, the FreeType library and every cache: faces are created and
// glyphs rendered rarely, and FreeType objects may not be used from two threads at once.
// Recursive because a face that fails to load is released while the lock is held.
std::recursive_mutex& FontMutex() {
  static std::recursive_mutex m;
  return m;
}

std::atomic<bool> g_builtinEverywhere{false};

constexpr int kDefaultEm = 12;

class BuiltinFace final : public FontFace {
 public:
  explicit BuiltinFace(TFontStyles style) {
    style_ = style;
    metrics_ = {builtin_font::kCellHeight,
                builtin_font::kAscent,
                builtin_font::kCellHeight - builtin_font::kAscent,
                2,
                0,
                builtin_font::kCellWidth,
                builtin_font::kCellWidth};
  }

  const Glyph& GetGlyph(char32_t c) const override {
    std::lock_guard lock(FontMutex());
    auto [it, fresh] = glyphs_.try_emplace(c);
    if (!fresh) return it->second;
    Glyph& g = it->second;
    const auto rows = builtin_font::Rows(c);
    const bool bold = (style_ & fsBold) != 0;
    g.Width = builtin_font::kGlyphWidth + (bold ? 1 : 0);
    g.Height = builtin_font::kGlyphRows;
    g.Top = builtin_font::kGlyphTop;
    g.Advance = c < 0x20 ? 0 : builtin_font::kCellWidth;
    g.Coverage.assign(static_cast<std::size_t>(g.Width * g.Height), 0);
    for (int y = 0; y < g.Height; ++y) {
      for (int x = 0; x < builtin_font::kGlyphWidth; ++x) {
        if ((rows[static_cast<std::size_t>(y)] >> (builtin_font::kGlyphWidth - 1 - x)) & 1) {
          g.Coverage[static_cast<std::size_t>(y * g.Width + x)] = 255;
          // Bold smears each pixel one to the right, as the platform emboldens raster fonts.
          if (bold) g.Coverage[static_cast<std::size_t>(y * g.Width + x + 1)] = 255;
        }
      }
    }
    return g;
  }

 private:
  mutable std::unordered_map<char32_t, Glyph> glyphs_;
};

FT_Library Library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) l = nullptr;
    return l;
  }();
  return lib;
}

int ScaleUp(long units, int em, int upem) {
  return static_cast<int>(std::ceil(static_cast<double>(units) * em / upem));
}
int ScaleRound(long units, int em, int upem) {
  return static_cast<int>(std::lround(static_cast<double>(units) * em / upem));
}

class FreeTypeFace final : public FontFace {
 public:
  ~FreeTypeFace() override {
    std::lock_guard lock(FontMutex());
    if (face_) FT_Done_Face(face_);
  }

  // Called under the font lock. Null when the file cannot be used.
  static std::shared_ptr<FreeTypeFace> Load(const std::string& file, int height,
                                            TFontStyles style) {
    FT_Library lib = Library();
    if (!lib) return nullptr;
    FT_Face face = nullptr;
    if (FT_New_Face(lib, file.c_str(), 0, &face) != 0) return nullptr;
    std::shared_ptr<FreeTypeFace> f(new FreeTypeFace());
    f->face_ = face;
    f->file_ = file;
    f->style_ = style;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;

    const int upem = face->units_per_EM;
    long ascender = face->ascender;
    long descender = -face->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      // The platform sizes cells by the Windows ascent and descent.
      ascender = os2->usWinAscent;
      descender = os2->usWinDescent;
    }
    // Sizes past 1000 pixels are drawn at 1000.
    constexpr int kMaxEm = 1000;
    int em = kDefaultEm;
    if (height < 0) em = height < -kMaxEm ? kMaxEm : -height;
    if (height > 0)
      em = std::clamp(ScaleRound(height, upem, static_cast<int>(ascender + descender)), 1, kMaxEm);
    f->em_ = em;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em)) != 0) return nullptr;

    TextMetric& m = f->metrics_;
    m.tmAscent = ScaleUp(ascender, em, upem);
    m.tmDescent = ScaleUp(descender, em, upem);
    m.tmHeight = m.tmAscent + m.tmDescent;
    m.tmInternalLeading = std::max(0, m.tmHeight - em);
    m.tmMaxCharWidth = ScaleUp(face->max_advance_width, em, upem);
    f->thickness_ = std::max(1, ScaleRound(face->underline_thickness, em, upem));
    // FreeType gives the underline's centre; we keep the rows between it and the baseline.
    f->underlinePos_ =
        std::max(0, ScaleRound(-face->underline_position, em, upem) - (f->thickness_ + 1) / 2);
    f->synthBold_ = (style & fsBold) && !(face->style_flags & FT_STYLE_FLAG_BOLD);
    f->synthItalic_ = (style & fsItalic) && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
    m.tmAveCharWidth = f->RenderLocked('x').Advance;
    return f;
  }

  const Glyph& GetGlyph(char32_t c) const override {
    std::lock_guard lock(FontMutex());
    return RenderLocked(c);
  }

 private:
  FreeTypeFace() = default;

  const Glyph& RenderLocked(char32_t c) const {
    auto [it, fresh] = glyphs_.try_emplace(c);
    if (!fresh || c < 0x20) return it->second;
    Glyph& g = it->second;
    if (FT_Load_Char(face_, c, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return g;
    FT_GlyphSlot slot = face_->glyph;
    if (synthBold_) FT_GlyphSlot_Embolden(slot);
    if (synthItalic_) FT_GlyphSlot_Oblique(slot);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
    const FT_Bitmap& bm = slot->bitmap;
    g.Width = static_cast<int>(bm.width);
    g.Height = static_cast<int>(bm.rows);
    g.Left = slot->bitmap_left;
    g.Top = slot->bitmap_top;
    g.Advance = static_cast<int>((slot->advance.x + 32) >> 6);
    g.Coverage.resize(static_cast<std::size_t>(g.Width) * static_cast<std::size_t>(g.Height));
    for (int y = 0; y < g.Height; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      std::copy_n(row, g.Width, g.Coverage.begin() + static_cast<std::ptrdiff_t>(y) * g.Width);
    }
    return g;
  }

  FT_Face face_ = nullptr;
  int em_ = kDefaultEm;
  bool synthBold_ = false;
  bool synthItalic_ = false;
  mutable std::unordered_map<char32_t, Glyph> glyphs_;
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return s;
}

// Windows family names the program and its skins use, mapped to the DejaVu families so the
// result does not depend on which other fonts a machine has.
std::string LinuxFamily(const std::string& name) {
  static const std::map<std::string, std::string> kMap = {
      {"ms sans serif", "DejaVu Sans"},
      {"microsoft sans serif", "DejaVu Sans"},
      {"ms shell dlg", "DejaVu Sans"},
      {"ms shell dlg 2", "DejaVu Sans"},
      {"tahoma", "DejaVu Sans"},
      {"arial", "DejaVu Sans"},
      {"verdana", "DejaVu Sans"},
      {"segoe ui", "DejaVu Sans"},
      {"system", "DejaVu Sans"},
      {"small fonts", "DejaVu Sans"},
      {"courier new", "DejaVu Sans Mono"},
      {"courier", "DejaVu Sans Mono"},
      {"lucida console", "DejaVu Sans Mono"},
      {"fixedsys", "DejaVu Sans Mono"},
      {"times new roman", "DejaVu Serif"},
      {"ms serif", "DejaVu Serif"},
  };
  const auto it = kMap.find(Lower(name));
  if (it != kMap.end()) return it->second;
  return name.empty() ? "DejaVu Sans" : name;
}

std::string MatchLocked(const std::string& name, TFontStyles style) {
  static const bool ready = [] {
    if (FcInit() != FcTrue) return false;
    // Releases the configuration at exit, which fontconfig otherwise leaves allocated.
    std::atexit(FcFini);
    return true;
  }();
  if (!ready) return {};
  const std::string family = LinuxFamily(name);
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return {};
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, (style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, (style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  std::string file;
  if (match) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
      file = reinterpret_cast<const char*>(path);
    FcPatternDestroy(match);
  }
  return file;
}

}  // namespace

int PointsToHeight(int points) {
  return -static_cast<int>((points * 96L + 36) / 72);
}

std::string MatchFontFile(const std::string& name, TFontStyles style) {
  std::lock_guard lock(FontMutex());
  return MatchLocked(name, style);
}

void UseBuiltinFontEverywhere(bool on) {
  g_builtinEverywhere = on;
}

std::shared_ptr<FontFace> FontFace::Get(const Font& font) {
  const TFontStyles style = font.Style & (fsBold | fsItalic | fsUnderline | fsStrikeOut);
  const bool builtin = g_builtinEverywhere || font.Name == kBuiltinFontName;
  std::lock_guard lock(FontMutex());

  static std::map<TFontStyles, std::shared_ptr<FontFace>> builtins;
  const auto getBuiltin = [&] {
    auto& f = builtins[style];
    if (!f) f = std::make_shared<BuiltinFace>(style);
    return f;
  };
  if (builtin) return getBuiltin();

  static std::map<std::tuple<std::string, int, TFontStyles>, std::shared_ptr<FontFace>> faces;
  const auto key = std::make_tuple(Lower(font.Name), font.Height, style);
  if (const auto it = faces.find(key); it != faces.end()) return it->second;
  std::shared_ptr<FontFace> face;
  const std::string file = MatchLocked(font.Name, style);
  if (!file.empty()) face = FreeTypeFace::Load(file, font.Height, style);
  if (!face) face = getBuiltin();
  faces[key] = face;
  return face;
}

std::u32string DecodeText(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeUtf8(text, i, cp);
    // A byte that does not start well-formed UTF-8 is read as Windows-1252.
    if (len == 0) {
      cp = Cp1252ToCodePoint(static_cast<unsigned char>(text[i]));
      len = 1;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

}  // namespace qv
