#include "platform/gfx/gif_codec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/picture.h"

namespace qv {

namespace {

[[noreturn]] void Fail(const std::string& why) {
  throw EInvalidGraphic("Invalid GIF: " + why);
}

struct Source {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buf, int len) {
  auto* src = static_cast<Source*>(gif->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(len, 0)),
                                              src->data.size() - src->pos);
  std::memcpy(buf, src->data.data() + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int err = 0;
    DGifCloseFile(gif, &err);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void FailWith(const GifFileType* gif) {
  const char* text = GifErrorString(gif->Error);
  Fail(text ? text : "the data is malformed");
}

}  // namespace

GifPicture LoadGif(std::span<const std::uint8_t> data) {
  if (data.size() < 6 || std::memcmp(data.data(), "GIF8", 4) != 0) Fail("not a GIF file");
  Source src{data};
  int err = 0;
  GifHandle gif(DGifOpen(&src, ReadFromMemory, &err));
  if (!gif) {
    const char* text = GifErrorString(err);
    Fail(text ? text : "cannot open");
  }
  const int sw = gif->SWidth, sh = gif->SHeight;
  if (sw <= 0 || sh <= 0) Fail("empty logical screen");
  CheckPictureSize("GIF", sw, sh);

  int transparent = -1;
  while (true) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) FailWith(gif.get());
    if (type == TERMINATE_RECORD_TYPE) Fail("the file holds no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) FailWith(gif.get());
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) FailWith(gif.get());
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) Fail("unknown record");
    break;
  }

  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) FailWith(gif.get());
  const GifImageDesc& desc = gif->Image;
  const int fw = desc.Width, fh = desc.Height;
  if (fw <= 0 || fh <= 0) Fail("empty image");
  CheckPictureSize("GIF", fw, fh);
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || !map->Colors || map->ColorCount <= 0) Fail("the image has no colour table");

  std::vector<GifPixelType> indexes(static_cast<std::size_t>(fw) * static_cast<std::size_t>(fh));
  const auto readRow = [&](int row) {
    if (DGifGetLine(gif.get(), indexes.data() + static_cast<std::size_t>(row) * fw, fw) ==
        GIF_ERROR)
      FailWith(gif.get());
  };
  if (desc.Interlace) {
    // The four passes of an interlaced image: every 8th row from 0, every 8th from 4,
    // every 4th from 2, every 2nd from 1.
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kStart[pass]; row < fh; row += kStep[pass]) readRow(row);
  } else {
    for (int row = 0; row < fh; ++row) readRow(row);
  }

  GifPicture out;
  out.Image = Bitmap(sw, sh);
  const ColorMapObject* screenMap = gif->SColorMap;
  COLORREF background = 0;
  if (screenMap && gif->SBackGroundColor < screenMap->ColorCount) {
    const GifColorType& c = screenMap->Colors[gif->SBackGroundColor];
    background = RGB(c.Red, c.Green, c.Blue);
  }
  out.Image.Fill(background);
  const int top = std::max(desc.Top, 0), bottom = std::min(desc.Top + fh, sh);
  const int left = std::max(desc.Left, 0), right = std::min(desc.Left + fw, sw);
  std::vector<Region::Span> spans;
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* d = out.Image.ScanLine(y);
    const GifPixelType* s = indexes.data() + static_cast<std::size_t>(y - desc.Top) * fw;
    spans.clear();
    for (int x = left; x < right; ++x) {
      const int index = s[x - desc.Left];
      if (index == transparent) continue;
      if (!spans.empty() && spans.back().X2 == x) {
        spans.back().X2 = x + 1;
      } else {
        spans.push_back({x, x + 1});
      }
      // An index past the colour table shows black.
      if (index >= map->ColorCount) {
        d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = 0;
        continue;
      }
      const GifColorType& c = map->Colors[index];
      d[3 * x] = c.Blue;
      d[3 * x + 1] = c.Green;
      d[3 * x + 2] = c.Red;
    }
    out.Opaque.AppendRow(y, spans);
  }
  return out;
}

}  // namespace qv
