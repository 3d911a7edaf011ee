// A headless window system for one test: a recording window class whose windows fill
// their client area with the colour kept in GWL_USERDATA, and helpers to serve the queue.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"

namespace qv::test {

struct Logged {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

inline Point LParamPoint(LPARAM l) {
  return {static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(l))),
          static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(l)))};
}

class UiTest : public ::testing::Test {
 protected:
  static constexpr const char* kClass = "Recorder";

  void SetUp() override {
    auto backend = std::make_unique<HeadlessBackend>();
    headless = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
    current = this;
    WNDCLASS cls;
    cls.lpszClassName = kClass;
    cls.style = CS_DBLCLKS;
    cls.hbrBackground = clNone;
    cls.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) { return current->Proc(h, m, w, l); };
    RegisterClass(cls);
  }

  void TearDown() override {
    StopWindowSystem();
    current = nullptr;
  }

  // A window of the recording class painted in `color`.
  HWND Make(HWND parent, Rect r, TColor color, DWORD style = 0, DWORD exStyle = 0,
            std::string_view text = {}) {
    const DWORD kind = parent ? WS_CHILD : WS_POPUP;
    const HWND h = CreateWindowEx(exStyle, kClass, text, kind | style, r.Left, r.Top, r.Width(),
                                  r.Height(), parent);
    SetWindowLong(h, GWL_USERDATA, color);
    return h;
  }

 public:
  virtual LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (record) log.push_back({h, m, w, l});
    if (m == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, ps);
      Rect client;
      if (dc && GetClientRect(h, client)) {
        dc->FillRect(client, Brush{BrushStyle::bsSolid,
                                   static_cast<TColor>(GetWindowLong(h, GWL_USERDATA))});
      }
      EndPaint(h, ps);
      return 0;
    }
    return DefWindowProcA(h, m, w, l);
  }

 protected:
  void Pump() { ProcessMessages(); }

  std::vector<UINT> MessagesOf(HWND h, std::initializer_list<UINT> only = {}) const {
    std::vector<UINT> out;
    for (const auto& e : log) {
      if (e.hwnd != h) continue;
      if (only.size() && std::find(only.begin(), only.end(), e.message) == only.end()) continue;
      out.push_back(e.message);
    }
    return out;
  }

  std::vector<Logged> Of(std::initializer_list<UINT> only) const {
    std::vector<Logged> out;
    for (const auto& e : log) {
      if (std::find(only.begin(), only.end(), e.message) != only.end()) out.push_back(e);
    }
    return out;
  }

  // Colour of a pixel of the top-level's composed picture, window coordinates.
  static COLORREF At(HWND top, int x, int y) { return SnapshotWindow(top).Pixel(x, y); }

  static inline UiTest* current = nullptr;
  HeadlessBackend* headless = nullptr;
  std::vector<Logged> log;
  bool record = true;
};

}  // namespace qv::test
