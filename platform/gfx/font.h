// Fonts as drawing sees them: a description (`Font`, what a LOGFONT holds) and the face that
// renders it (`FontFace`). Faces come from fontconfig and FreeType, Windows family names
// mapped onto the DejaVu families; the built-in bitmap font (`kBuiltinFontName`) draws the
// same pixels everywhere, for exact picture tests. Faces and their glyph caches are shared
// process-wide and may be used from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

constexpr std::string_view kBuiltinFontName = "Quorvel Fixed";

struct Font {
  std::string Name = "MS Sans Serif";
  // Negative: the em size in pixels; positive: the cell height (ascent + descent) in pixels;
  // 0: the default size.
  int Height = -11;
  TFontStyles Style = 0;
  friend bool operator==(const Font&, const Font&) = default;
};

// Points at 96 dots per inch to the negative pixel height, as the class library converts Size.
[[nodiscard]] int PointsToHeight(int points);

struct TextMetric {
  int tmHeight = 0;
  int tmAscent = 0;
  int tmDescent = 0;
  int tmInternalLeading = 0;
  int tmExternalLeading = 0;
  int tmAveCharWidth = 0;
  int tmMaxCharWidth = 0;
};

// One rendered character: coverage 0..255 per pixel, rows top down. The bitmap's top-left
// pixel lies `Left` right of the pen and `Top` rows above the baseline.
struct Glyph {
  int Width = 0;
  int Height = 0;
  int Left = 0;
  int Top = 0;
  int Advance = 0;
  std::vector<std::uint8_t> Coverage;
};

class FontFace {
 public:
  virtual ~FontFace() = default;
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  // Never fails: a font that cannot be found or loaded is drawn with the built-in one.
  [[nodiscard]] static std::shared_ptr<FontFace> Get(const Font& font);

  [[nodiscard]] const TextMetric& Metrics() const { return metrics_; }
  [[nodiscard]] TFontStyles Style() const { return style_; }
  // The file the face was loaded from; empty for the built-in font.
  [[nodiscard]] const std::string& File() const { return file_; }
  // Rows between the baseline and the underline's top (0: the first row under the glyphs),
  // and the thickness of underlines and strike-outs.
  [[nodiscard]] int UnderlinePosition() const { return underlinePos_; }
  [[nodiscard]] int LineThickness() const { return thickness_; }

  // The glyph stays valid as long as the face.
  [[nodiscard]] virtual const Glyph& GetGlyph(char32_t c) const = 0;

 protected:
  FontFace() = default;

  TextMetric metrics_;
  TFontStyles style_ = 0;
  std::string file_;
  int underlinePos_ = 0;
  int thickness_ = 1;
};

// The font file fontconfig picks for a family name after the Windows names are mapped; empty
// when there is none.
[[nodiscard]] std::string MatchFontFile(const std::string& name, TFontStyles style);

// Makes every font the built-in one, so pictures of whole windows come out the same on every
// machine. Off by default.
void UseBuiltinFontEverywhere(bool on);

// Decodes drawing text: valid UTF-8 sequences become their code points, any other byte is
// taken as a Windows-1252/Latin-1 character.
[[nodiscard]] std::u32string DecodeText(std::string_view text);

}  // namespace qv
