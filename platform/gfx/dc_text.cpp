// Text output of the device context: TextOut, extents and DrawText's layout.
#include <algorithm>
#include <string>

#include "platform/gfx/dc.h"

namespace qv {

namespace {

constexpr int kTabColumns = 8;  // tab stops every 8 average character widths

struct Line {
  std::u32string Text;
  std::vector<char> Prefixed;  // characters underlined by a "&" before them
};

// Removes the "&" prefixes: "&&" shows one "&", "&x" shows x underlined, a final "&" shows
// nothing.
Line StripPrefixes(const std::u32string& text) {
  Line out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == U'&') {
      if (i + 1 >= text.size()) break;
      ++i;
      out.Text.push_back(text[i]);
      out.Prefixed.push_back(text[i] != U'&');
      continue;
    }
    out.Text.push_back(text[i]);
    out.Prefixed.push_back(false);
  }
  return out;
}

std::vector<Line> SplitLines(Line all) {
  std::vector<Line> lines(1);
  for (std::size_t i = 0; i < all.Text.size(); ++i) {
    const char32_t c = all.Text[i];
    if (c == U'\r' || c == U'\n') {
      if (c == U'\r' && i + 1 < all.Text.size() && all.Text[i + 1] == U'\n') ++i;
      lines.emplace_back();
      continue;
    }
    lines.back().Text.push_back(c);
    lines.back().Prefixed.push_back(all.Prefixed[i]);
  }
  return lines;
}

Line Slice(const Line& l, std::size_t from, std::size_t to) {
  Line out;
  out.Text = l.Text.substr(from, to - from);
  out.Prefixed.assign(l.Prefixed.begin() + static_cast<std::ptrdiff_t>(from),
                      l.Prefixed.begin() + static_cast<std::ptrdiff_t>(to));
  return out;
}

}  // namespace

FontFace& DC::Face() const {
  if (!face_) face_ = FontFace::Get(state_.font);
  return *face_;
}

TextMetric DC::GetTextMetrics() const {
  return Face().Metrics();
}

int DC::Advance(char32_t c, int penX, int tabOrigin, bool expandTabs) const {
  if (c == U'\t' && expandTabs) {
    const int stop = std::max(1, kTabColumns * Face().Metrics().tmAveCharWidth);
    return stop - (penX - tabOrigin) % stop;
  }
  if (c < 0x20) return 0;
  return Face().GetGlyph(c).Advance;
}

int DC::MeasureRun(std::u32string_view text, int tabOrigin, bool expandTabs) const {
  int x = tabOrigin;
  for (const char32_t c : text) x += Advance(c, x, tabOrigin, expandTabs);
  return x - tabOrigin;
}

Size DC::GetTextExtentPoint32(std::string_view text) const {
  return {MeasureRun(DecodeText(text), 0, false), Face().Metrics().tmHeight};
}

void DC::DrawRun(int x, int y, std::u32string_view text, std::span<const char> prefixed,
                 int tabOrigin, bool expandTabs, const Region& visible) {
  if (!target_ || visible.IsEmpty()) return;
  FontFace& face = Face();
  const TextMetric& m = face.Metrics();
  const COLORREF color = ColorToRGB(state_.textColor);
  const int width = MeasureRun(text, tabOrigin, expandTabs);
  if (state_.bkMode == OPAQUE)
    FillBitmapRegion(Region(Bounds(x, y, width, m.tmHeight)).Intersect(visible),
                     ColorToRGB(state_.bkColor));

  const bool simple = visible.Kind() == SIMPLEREGION;
  const Rect box = visible.BoundingBox();
  const int bpp = target_->BytesPerPixel();
  const std::uint8_t cb = GetBValue(color), cg = GetGValue(color), cr = GetRValue(color);
  const int baseline = y + m.tmAscent;
  int pen = x;
  Region lines;  // underlines of prefixed characters
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    const int advance = Advance(c, pen - x + tabOrigin, tabOrigin, expandTabs);
    if (i < prefixed.size() && prefixed[i])
      lines = lines.Union(
          Region(Bounds(pen, baseline + face.UnderlinePosition(), advance, face.LineThickness())));
    if (c >= 0x20) {
      const Glyph& g = face.GetGlyph(c);
      const int gx = pen + g.Left;
      const int gy = baseline - g.Top;
      const Rect gr = Intersect(Bounds(gx, gy, g.Width, g.Height), box);
      for (int yy = gr.Top; yy < gr.Bottom; ++yy) {
        std::uint8_t* row = target_->ScanLine(yy);
        const std::uint8_t* cov = g.Coverage.data() + (yy - gy) * g.Width;
        for (int xx = gr.Left; xx < gr.Right; ++xx) {
          const unsigned a = cov[xx - gx];
          if (a == 0 || (!simple && !visible.Contains({xx, yy}))) continue;
          std::uint8_t* p = row + xx * bpp;
          const auto mix = [a](std::uint8_t d, std::uint8_t s) {
            return static_cast<std::uint8_t>((d * (255 - a) + s * a + 127) / 255);
          };
          p[0] = mix(p[0], cb);
          p[1] = mix(p[1], cg);
          p[2] = mix(p[2], cr);
        }
      }
    }
    pen += advance;
  }
  if (face.Style() & fsUnderline)
    lines = lines.Union(
        Region(Bounds(x, baseline + face.UnderlinePosition(), width, face.LineThickness())));
  if (face.Style() & fsStrikeOut)
    lines = lines.Union(Region(Bounds(x, baseline - m.tmAscent / 3, width, face.LineThickness())));
  FillBitmapRegion(lines.Intersect(visible), color);
}

void DC::TextOut(int x, int y, std::string_view text) {
  const std::u32string s = DecodeText(text);
  DrawRun(x + Dx(), y + Dy(), s, {}, 0, false, Visible());
}

int DC::DrawText(std::string_view text, Rect& r, unsigned flags) {
  const std::u32string decoded = DecodeText(text);
  if (decoded.empty()) {
    if (flags & DT_CALCRECT) r = {r.Left, r.Top, r.Left, r.Top};
    return 0;
  }
  Line all;
  if (flags & DT_NOPREFIX) {
    all.Text = decoded;
    all.Prefixed.assign(decoded.size(), false);
  } else {
    all = StripPrefixes(decoded);
  }
  const bool single = (flags & DT_SINGLELINE) != 0;
  const bool tabs = (flags & DT_EXPANDTABS) != 0;
  std::vector<Line> lines = single ? std::vector<Line>{all} : SplitLines(std::move(all));

  if ((flags & DT_WORDBREAK) && !single) {
    // Greedy breaking at spaces; a word wider than the rectangle stands alone on its line.
    const int limit = r.Width();
    std::vector<Line> broken;
    for (const Line& l : lines) {
      std::size_t start = 0;
      while (true) {
        std::size_t end = start;   // end of the text that fits
        std::size_t next = start;  // where the following line starts
        std::size_t pos = start;
        bool any = false;
        while (pos < l.Text.size()) {
          std::size_t wordEnd = pos;
          while (wordEnd < l.Text.size() && l.Text[wordEnd] != U' ') ++wordEnd;
          const int w =
              MeasureRun(std::u32string_view(l.Text).substr(start, wordEnd - start), 0, tabs);
          if (any && w > limit) break;
          end = wordEnd;
          any = true;
          pos = wordEnd;
          while (pos < l.Text.size() && l.Text[pos] == U' ') ++pos;
          next = pos;
        }
        if (!any) next = end = l.Text.size();
        broken.push_back(Slice(l, start, end));
        if (next >= l.Text.size()) break;
        start = next;
      }
    }
    lines = std::move(broken);
  }

  const TextMetric& m = Face().Metrics();
  const int lineHeight = m.tmHeight + ((flags & DT_EXTERNALLEADING) ? m.tmExternalLeading : 0);
  const int height = lineHeight * static_cast<int>(lines.size());
  std::vector<int> widths;
  int widest = 0;
  for (const Line& l : lines) {
    widths.push_back(MeasureRun(l.Text, 0, tabs));
    widest = std::max(widest, widths.back());
  }
  if (flags & DT_CALCRECT) {
    r.Right = r.Left + widest;
    r.Bottom = r.Top + height;
    return height;
  }

  int y = r.Top;
  if (single && (flags & DT_VCENTER)) y = r.Top + (r.Height() - lineHeight) / 2;
  if (single && (flags & DT_BOTTOM)) y = r.Bottom - lineHeight;
  Region visible = Visible();
  if (!(flags & DT_NOCLIP)) visible = visible.Intersect(Region(r.Offset(Dx(), Dy())));
  for (std::size_t i = 0; i < lines.size(); ++i, y += lineHeight) {
    int x = r.Left;
    if (flags & DT_CENTER) x = r.Left + (r.Width() - widths[i]) / 2;
    if (flags & DT_RIGHT) x = r.Right - widths[i];
    const int bx = x + Dx();
    DrawRun(bx, y + Dy(), lines[i].Text, std::span(lines[i].Prefixed), bx, tabs, visible);
  }
  return height;
}

}  // namespace qv
