// A full pass over a 790 x 560 window's back buffer: fill, blit and text, each reported as
// passes per second and as a ratio to the plain memory operation on the same bytes (memset
// for the fill, memcpy for the blit and the text pass), timed in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/gfx/dc.h"

namespace qv {
namespace {

constexpr int kWidth = 790;
constexpr int kHeight = 560;

using Clock = std::chrono::steady_clock;

template <typename F>
double SecondsFor(benchmark::IterationCount n, F&& f) {
  const auto start = Clock::now();
  for (benchmark::IterationCount i = 0; i < n; ++i) f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs the measured operation under the benchmark loop, then the baseline as often, and
// reports how many times slower the operation is.
template <typename Op, typename Base>
void Measure(benchmark::State& state, Op&& op, Base&& base, const char* baseName) {
  const auto start = Clock::now();
  for (auto _ : state) op();
  const double opSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double baseSeconds = SecondsFor(state.iterations(), base);
  state.counters["passes/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters[std::string("x_") + baseName] = baseSeconds > 0 ? opSeconds / baseSeconds : 0;
}

void BM_Fill(benchmark::State& state) {
  Bitmap bmp(kWidth, kHeight);
  DC dc(&bmp);
  const Brush brush{BrushStyle::bsSolid, clBtnFace};
  Measure(
      state,
      [&] {
        dc.FillRect({0, 0, kWidth, kHeight}, brush);
      },
      [&] {
        std::memset(bmp.Bits(), 0xD4, static_cast<std::size_t>(bmp.Stride()) * kHeight);
        benchmark::ClobberMemory();
      },
      "memset");
}
BENCHMARK(BM_Fill);

void BM_Blit(benchmark::State& state) {
  Bitmap src(kWidth, kHeight), dst(kWidth, kHeight);
  src.Fill(0x336699);
  DC sdc(&src), ddc(&dst);
  const std::size_t bytes = static_cast<std::size_t>(src.Stride()) * kHeight;
  Measure(
      state, [&] { ddc.BitBlt(0, 0, kWidth, kHeight, sdc, 0, 0, SRCCOPY); },
      [&] {
        std::memcpy(dst.Bits(), src.Bits(), bytes);
        benchmark::ClobberMemory();
      },
      "memcpy");
}
BENCHMARK(BM_Blit);

// Text lines one under the other until the window is full, in the main window's font.
void BM_Text(benchmark::State& state) {
  Bitmap bmp(kWidth, kHeight), copy(kWidth, kHeight);
  bmp.Fill(0xFFFFFF);
  DC dc(&bmp);
  dc.SelectFont(Font{"MS Sans Serif", -11, 0});
  dc.SetBkMode(TRANSPARENT);
  const std::string line =
      "01. Artist Name - A Long Track Title (Remastered) 04:37  Ripping... 42% done";
  const int step = dc.GetTextMetrics().tmHeight;
  const std::size_t bytes = static_cast<std::size_t>(bmp.Stride()) * kHeight;
  Measure(
      state,
      [&] {
        for (int y = 0; y + step <= kHeight; y += step) {
          Rect r{0, y, kWidth, y + step};
          dc.DrawText(line, r, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
      },
      [&] {
        std::memcpy(copy.Bits(), bmp.Bits(), bytes);
        benchmark::ClobberMemory();
      },
      "memcpy");
}
BENCHMARK(BM_Text);

// One repaint as a window draws it: background, panels, framed buttons, captions, and the
// finished buffer copied out.
void BM_FullPass(benchmark::State& state) {
  Bitmap back(kWidth, kHeight), screen(kWidth, kHeight);
  DC dc(&back), out(&screen);
  dc.SelectFont(Font{"MS Sans Serif", -11, 0});
  dc.SetBkMode(TRANSPARENT);
  const std::size_t bytes = static_cast<std::size_t>(back.Stride()) * kHeight;
  Measure(
      state,
      [&] {
        dc.FillRect({0, 0, kWidth, kHeight}, Brush{BrushStyle::bsSolid, clBtnFace});
        dc.SelectPen(Pen{PenStyle::psSolid, clBtnShadow, 1});
        dc.SelectBrush(Brush{BrushStyle::bsSolid, clWindow});
        for (int i = 0; i < 4; ++i) dc.Rectangle(8, 8 + i * 130, 600, 130 + i * 130);
        for (int i = 0; i < 4; ++i) {
          dc.RoundRect(620, 20 + i * 60, 780, 60 + i * 60, 6, 6);
          Rect r{620, 20 + i * 60, 780, 60 + i * 60};
          dc.DrawText("MyTsButton", r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        for (int y = 16; y + 14 < kHeight; y += 16) dc.TextOut(16, y, "Track 01  04:37  Ripped");
        out.BitBlt(0, 0, kWidth, kHeight, dc, 0, 0, SRCCOPY);
      },
      [&] {
        std::memcpy(screen.Bits(), back.Bits(), bytes);
        benchmark::ClobberMemory();
      },
      "memcpy");
}
BENCHMARK(BM_FullPass);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
