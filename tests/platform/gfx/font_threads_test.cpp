// Faces and glyph caches are shared by the whole process: drawing text on several threads
// at once must give each the same pixels, with no data race (this test also runs under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/gfx/dc.h"

namespace qv {
namespace {

Bitmap Render(const Font& font, const std::string& text) {
  Bitmap bmp(200, 24);
  bmp.Fill(0xFFFFFF);
  DC dc(&bmp);
  dc.SelectFont(font);
  dc.SetBkMode(TRANSPARENT);
  dc.TextOut(2, 2, text);
  return bmp;
}

TEST(FontThreadsTest, ConcurrentTextDrawsAlike) {
  const std::string text = "Concurrent glyphs: 0123456789 \xC3\xA9\xC3\xA8";
  const Font fonts[] = {{"Tahoma", -13, 0},
                        {"Tahoma", -13, fsBold},
                        {"Courier New", -12, fsItalic},
                        {std::string(kBuiltinFontName), 0, 0}};
  constexpr int kThreads = 6;
  std::vector<std::vector<Bitmap>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round)
        for (const Font& f : fonts) results[static_cast<std::size_t>(t)].push_back(Render(f, text));
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    EXPECT_TRUE(results[static_cast<std::size_t>(t)] == results[0]);
  }
  // And the same as drawing them afterwards on this thread, with warm caches.
  for (std::size_t i = 0; i < std::size(fonts); ++i)
    EXPECT_TRUE(Render(fonts[i], text) == results[0][i]);
}

}  // namespace
}  // namespace qv
