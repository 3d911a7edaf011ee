// Pictures for the cover tests, made at test time: solid-colour BMP and JPEG files through
// our own writers, and animated GIFs through PIL (Debian's python3), an independent writer.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/gfx/jpeg_codec.h"
#include "tests/fixtures/temp_dir.h"

namespace qv::testing {

inline Bitmap SolidBitmap(int w, int h, COLORREF c) {
  Bitmap b(w, h);
  b.Fill(c);
  return b;
}

inline std::vector<std::uint8_t> SolidBmp(int w, int h, COLORREF c) {
  return SaveBmp(SolidBitmap(w, h, c));
}

inline std::vector<std::uint8_t> SolidJpeg(int w, int h, COLORREF c) {
  return SaveJpeg(SolidBitmap(w, h, c), 90);
}

inline std::string AsString(const std::vector<std::uint8_t>& v) {
  return {v.begin(), v.end()};
}

inline std::vector<std::uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytesPlain(const std::filesystem::path& p,
                                const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

using TempDir = qv::test::TempDir;

// An animated GIF written by PIL: frames of the given colours (RGB triples) and delays in
// hundredths of a second, each with `disposal`, on a w x h screen.
inline std::vector<std::uint8_t> PilAnimatedGif(const std::filesystem::path& dir, int w, int h,
                                                const std::vector<std::string>& colours,
                                                const std::vector<int>& delays, int disposal) {
  const auto out = dir / "anim.gif";
  std::string frames;
  std::string durations;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    frames += "Image.new('RGB', (" + std::to_string(w) + "," + std::to_string(h) + "), " +
              colours[i] + "),";
    durations += std::to_string(delays[i] * 10) + ",";
  }
  const std::string script = "from PIL import Image\nf=[" + frames + "]\nf[0].save('" +
                             out.string() + "', save_all=True, append_images=f[1:], duration=[" +
                             durations + "], loop=0, disposal=" + std::to_string(disposal) +
                             ", optimize=False)\n";
  const auto scriptPath = dir / "make_gif.py";
  std::ofstream(scriptPath) << script;
  const std::string cmd = "/usr/bin/python3 " + scriptPath.string();
  if (std::system(cmd.c_str()) != 0) return {};
  return ReadAll(out);
}

}  // namespace qv::testing
