#include "platform/ui/headless_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/gfx/png_codec.h"
#include "platform/msg/message_queue.h"

namespace qv {

namespace {

// Every headless back end of the process, for screen captures, and the one clipboard.
struct HeadlessDesktop {
  std::mutex mutex;
  std::vector<const HeadlessBackend*> backends;  // in the order they started
  std::optional<std::string> clipboard;
};

HeadlessDesktop& Desktop() {
  static auto* const desktop = new HeadlessDesktop;  // outlives every back end
  return *desktop;
}

}  // namespace

HeadlessBackend::HeadlessBackend(std::vector<Monitor> monitors, std::shared_ptr<FakeClock> clock)
    : monitors_(std::move(monitors)), clock_(std::move(clock)) {
  if (monitors_.empty()) monitors_.push_back({{0, 0, 1024, 768}, {0, 0, 1024, 768}, true});
}

std::unique_ptr<HeadlessBackend> HeadlessBackend::FromEnvironment() {
  std::vector<Monitor> monitors;
  if (const char* env = std::getenv("QUORVEL_MONITORS")) {
    std::vector<std::string> refused;
    monitors = ParseMonitorList(env, refused);
    for (const std::string& line : refused) std::fprintf(stderr, "quorvel: %s\n", line.c_str());
  }
  return std::make_unique<HeadlessBackend>(std::move(monitors), nullptr);
}

HeadlessBackend::~HeadlessBackend() {
  {
    HeadlessDesktop& d = Desktop();
    const std::lock_guard lock(d.mutex);
    std::erase(d.backends, this);
  }
  if (clockInstalled_) MessageQueue::Current().SetClock(SteadyClock::Instance());
}

void HeadlessBackend::Start(DisplayEvents* events) {
  events_ = events;
  {
    HeadlessDesktop& d = Desktop();
    const std::lock_guard lock(d.mutex);
    if (std::find(d.backends.begin(), d.backends.end(), this) == d.backends.end()) {
      d.backends.push_back(this);
    }
  }
  if (clock_) {
    MessageQueue::Current().SetClock(clock_);
    clockInstalled_ = true;
  }
}

std::uint32_t HeadlessBackend::Now() const {
  const auto now = clock_ ? clock_->Now() : SteadyClock::Instance()->Now();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
}

void HeadlessBackend::CreateTopLevel(HWND hwnd, const Rect& bounds, std::string_view title, bool) {
  const std::lock_guard lock(mutex_);
  Window& w = windows_[hwnd];
  w.bounds = bounds;
  w.title = std::string(title);
  w.screen = Bitmap(std::max(bounds.Width(), 1), std::max(bounds.Height(), 1));
  stack_.insert(stack_.begin(), hwnd);
}

void HeadlessBackend::DestroyTopLevel(HWND hwnd) {
  const std::lock_guard lock(mutex_);
  windows_.erase(hwnd);
  std::erase(stack_, hwnd);
  if (grab_ == hwnd) grab_ = 0;
  if (focus_ == hwnd) focus_ = 0;
  if (under_ == hwnd) under_ = 0;
  if (pressTop_ == hwnd) pressTop_ = 0;
}

void HeadlessBackend::SetBounds(HWND hwnd, const Rect& bounds) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it == windows_.end()) return;
  it->second.bounds = bounds;
  it->second.screen.SetSize(std::max(bounds.Width(), 1), std::max(bounds.Height(), 1));
}

void HeadlessBackend::SetVisible(HWND hwnd, bool visible) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it == windows_.end()) return;
  it->second.shown = visible;
  if (visible) it->second.minimized = false;
}

void HeadlessBackend::SetTitle(HWND hwnd, std::string_view title) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second.title = std::string(title);
}

void HeadlessBackend::SetShape(HWND hwnd, const Region* shape) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it == windows_.end()) return;
  if (shape) {
    it->second.shape = *shape;
  } else {
    it->second.shape.reset();
  }
}

void HeadlessBackend::Present(HWND hwnd, const Bitmap& buffer, const Region& dirty) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it == windows_.end()) return;
  Window& w = it->second;
  if (w.screen.Width() != buffer.Width() || w.screen.Height() != buffer.Height()) {
    w.screen.SetSize(buffer.Width(), buffer.Height());
  }
  const Region area = dirty.Intersect(Region(buffer.BoundsRect()));
  for (const Rect& r : area.Rects()) {
    for (int y = r.Top; y < r.Bottom; ++y) {
      std::memcpy(w.screen.ScanLine(y) + 3 * r.Left, buffer.ScanLine(y) + 3 * r.Left,
                  3 * static_cast<std::size_t>(r.Width()));
    }
  }
  w.lastPresented = area;
  ++w.presents;
}

void HeadlessBackend::Raise(HWND hwnd) {
  const std::lock_guard lock(mutex_);
  if (!windows_.count(hwnd)) return;
  std::erase(stack_, hwnd);
  stack_.insert(stack_.begin(), hwnd);
}

void HeadlessBackend::Minimize(HWND hwnd) {
  const std::lock_guard lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second.minimized = true;
}

void HeadlessBackend::GrabPointer(HWND hwnd, bool grab) {
  if (grab) {
    grab_ = hwnd;
  } else if (grab_ == hwnd) {
    grab_ = 0;
  }
}

void HeadlessBackend::SetInputFocus(HWND hwnd) {
  if (windows_.count(hwnd)) focus_ = hwnd;
}

bool HeadlessBackend::RaiseWindowByTitle(std::string_view title) {
  for (HWND hwnd : stack_) {
    if (windows_[hwnd].title == title) {
      Raise(hwnd);
      return true;
    }
  }
  return false;
}

void HeadlessBackend::ComposeOnto(Bitmap& desktop, Point origin) const {
  const std::lock_guard lock(mutex_);
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {  // back to front
    const Window& w = windows_.at(*it);
    if (!w.shown || w.minimized) continue;
    const Rect on = Intersect(w.bounds.Offset(-origin.X, -origin.Y), desktop.BoundsRect());
    for (int y = on.Top; y < on.Bottom; ++y) {
      const int wy = y - (w.bounds.Top - origin.Y);
      if (wy >= w.screen.Height()) break;
      for (int x = on.Left; x < on.Right; ++x) {
        const int wx = x - (w.bounds.Left - origin.X);
        if (wx >= w.screen.Width() || (w.shape && !w.shape->Contains({wx, wy}))) continue;
        std::memcpy(desktop.ScanLine(y) + 3 * x, w.screen.ScanLine(wy) + 3 * wx, 3);
      }
    }
  }
}

Bitmap HeadlessBackend::CaptureScreen() {
  Rect all = monitors_.front().Bounds;
  for (const Monitor& m : monitors_) all = Union(all, m.Bounds);
  Bitmap desktop(all.Width(), all.Height());
  desktop.Fill(RGB(0, 0, 0));
  HeadlessDesktop& d = Desktop();
  const std::lock_guard lock(d.mutex);
  for (const HeadlessBackend* b : d.backends) b->ComposeOnto(desktop, {all.Left, all.Top});
  return desktop;
}

bool HeadlessBackend::SetClipboardText(std::string_view text) {
  HeadlessDesktop& d = Desktop();
  const std::lock_guard lock(d.mutex);
  d.clipboard = std::string(text);
  return true;
}

std::optional<std::string> HeadlessBackend::ClipboardText() {
  HeadlessDesktop& d = Desktop();
  const std::lock_guard lock(d.mutex);
  return d.clipboard;
}

HWND HeadlessBackend::TopAt(Point screen) const {
  for (HWND hwnd : stack_) {
    const Window& w = windows_.at(hwnd);
    if (!w.shown || w.minimized || !w.bounds.Contains(screen)) continue;
    if (w.shape && !w.shape->Contains({screen.X - w.bounds.Left, screen.Y - w.bounds.Top})) {
      continue;
    }
    return hwnd;
  }
  return 0;
}

HWND HeadlessBackend::PointerOwner(Point screen) const {
  // An explicit grab, then the implicit one a pressed button makes, as an X server does.
  if (grab_) return grab_;
  if (buttons_ && pressTop_ && windows_.count(pressTop_)) return pressTop_;
  return TopAt(screen);
}

void HeadlessBackend::InjectMouseMove(Point screen, unsigned modifiers) {
  pointer_ = screen;
  const HWND top = PointerOwner(screen);
  if (under_ && under_ != top && !grab_) events_->MouseLeft(under_);
  under_ = top;
  if (top) events_->MouseMove(top, screen, modifiers, Now());
}

void HeadlessBackend::InjectButton(Point screen, MouseButton button, bool down,
                                   unsigned modifiers) {
  if (screen != pointer_) InjectMouseMove(screen, modifiers);
  const HWND top = PointerOwner(screen);
  const unsigned bit = 1u << static_cast<unsigned>(button);
  if (down) {
    if (!buttons_) pressTop_ = top;
    buttons_ |= bit;
  } else {
    buttons_ &= ~bit;
  }
  if (top) events_->MouseButton(top, screen, button, down, modifiers, Now());
}

void HeadlessBackend::InjectClick(Point screen, MouseButton button) {
  InjectButton(screen, button, true);
  InjectButton(screen, button, false);
}

void HeadlessBackend::InjectWheel(Point screen, int delta, unsigned modifiers) {
  if (screen != pointer_) InjectMouseMove(screen, modifiers);
  const HWND top = PointerOwner(screen);
  if (top) events_->MouseWheel(top, screen, delta, modifiers, Now());
}

void HeadlessBackend::InjectMouseLeave() {
  pointer_ = {-100000, -100000};
  if (under_) events_->MouseLeft(under_);
  under_ = 0;
}

void HeadlessBackend::InjectKey(unsigned vk, bool down, std::string_view text, unsigned modifiers) {
  events_->Key(focus_, vk, down, modifiers, 0, text, Now());
}

void HeadlessBackend::InjectClose(HWND top) {
  if (windows_.count(top)) events_->CloseRequested(top);
}

void HeadlessBackend::InjectRestore(HWND top) {
  {
    const std::lock_guard lock(mutex_);
    const auto it = windows_.find(top);
    if (it == windows_.end() || !it->second.minimized) return;
    it->second.minimized = false;
  }
  events_->Restored(top);
}

const Bitmap* HeadlessBackend::Presented(HWND top) const {
  const auto it = windows_.find(top);
  return it == windows_.end() ? nullptr : &it->second.screen;
}

Region HeadlessBackend::LastPresented(HWND top) const {
  const auto it = windows_.find(top);
  return it == windows_.end() ? Region() : it->second.lastPresented;
}

int HeadlessBackend::PresentCount(HWND top) const {
  const auto it = windows_.find(top);
  return it == windows_.end() ? 0 : it->second.presents;
}

bool HeadlessBackend::IsShown(HWND top) const {
  const auto it = windows_.find(top);
  return it != windows_.end() && it->second.shown && !it->second.minimized;
}

const Region* HeadlessBackend::Shape(HWND top) const {
  const auto it = windows_.find(top);
  return it == windows_.end() || !it->second.shape ? nullptr : &*it->second.shape;
}

std::string HeadlessBackend::Title(HWND top) const {
  const auto it = windows_.find(top);
  return it == windows_.end() ? std::string() : it->second.title;
}

bool HeadlessBackend::SavePng(HWND top, const std::string& path) const {
  const Bitmap* bitmap = Presented(top);
  if (!bitmap) return false;
  const auto bytes = qv::SavePng(*bitmap);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace qv
