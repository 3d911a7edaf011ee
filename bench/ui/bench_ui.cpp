// Repainting a window tree through the window system (invalidation, clip regions, the
// paint messages, presenting) against filling the same rectangles straight into a bitmap
// in the same run; the ratio is printed last.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_util.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"

namespace {

using namespace qv;

constexpr int kWidth = 640, kHeight = 480, kColumns = 8, kRows = 6;

Rect Cell(int column, int row) {
  const int w = kWidth / kColumns, h = kHeight / kRows;
  return Bounds(column * w + 4, row * h + 4, w - 8, h - 8);
}

LRESULT Paint(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m != WM_PAINT) return DefWindowProcA(h, m, w, l);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, ps);
  Rect r;
  if (dc && GetClientRect(h, r)) {
    dc->FillRect(r,
                 Brush{BrushStyle::bsSolid, static_cast<TColor>(GetWindowLong(h, GWL_USERDATA))});
  }
  EndPaint(h, ps);
  return 0;
}

void BM_RepaintTree(benchmark::State& state) {
  StartWindowSystem(std::make_unique<HeadlessBackend>());
  WNDCLASS cls;
  cls.lpszClassName = "Bench";
  cls.lpfnWndProc = Paint;
  RegisterClass(cls);
  const HWND top = CreateWindowEx(0, "Bench", "", WS_POPUP, 0, 0, kWidth, kHeight, 0);
  SetWindowLong(top, GWL_USERDATA, 0xC0C0C0);
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      const Rect c = Cell(column, row);
      const HWND child = CreateWindowEx(0, "Bench", "", WS_CHILD | WS_VISIBLE, c.Left, c.Top,
                                        c.Width(), c.Height(), top);
      SetWindowLong(child, GWL_USERDATA, (row * 40) << 8 | column * 30);
    }
  }
  ShowWindow(top, SW_SHOW);
  ProcessMessages();
  for (auto _ : state) {
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    PaintPendingWindows();
  }
  StopWindowSystem();
}
BENCHMARK(BM_RepaintTree)->Unit(benchmark::kMicrosecond);

void BM_FillBaseline(benchmark::State& state) {
  Bitmap bitmap(kWidth, kHeight);
  Bitmap screen(kWidth, kHeight);
  DC dc(&bitmap);
  for (auto _ : state) {
    dc.FillRect({0, 0, kWidth, kHeight}, Brush{BrushStyle::bsSolid, 0xC0C0C0});
    for (int row = 0; row < kRows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        dc.FillRect(Cell(column, row), Brush{BrushStyle::bsSolid, (row * 40) << 8 | column * 30});
      }
    }
    screen = bitmap;  // the present
    benchmark::DoNotOptimize(screen.Bits());
  }
}
BENCHMARK(BM_FillBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter(
      {{"BM_RepaintTree", "BM_FillBaseline", "repaint of 1 + 48 windows",
        "filling the same rectangles directly"}});
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
