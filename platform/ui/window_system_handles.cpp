// The window system's handles: starting and stopping it on a thread, window classes,
// creating windows on the message layer's records (whose procedure chains end in
// DefWindowProcA), destroying them, the parent/child tree, window text and window longs.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/msg/window.h"
#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

void ForgetWindow(Manager& m, HWND hwnd) {
  if (m.capture == hwnd) {
    m.capture = 0;
    m.backend->GrabPointer(RootOf(hwnd), false);
  }
  if (m.focus == hwnd) m.focus = 0;
  if (m.active == hwnd) m.active = 0;
  m.tracking.erase({hwnd, false});
  m.tracking.erase({hwnd, true});
  if (m.lastClick.hwnd == hwnd) m.lastClick.valid = false;
  if (m.moveSize.hwnd == hwnd) m.moveSize.active = false;
}

void DestroyTree(HWND hwnd) {
  Manager& m = M();
  Send(hwnd, WM_DESTROY);
  UiWindow* w = Get(hwnd);
  if (!w) return;
  const std::vector<HWND> children = w->children;
  for (HWND child : children) {
    UiWindow* c = Get(child);
    if (c && !c->destroying) {
      c->destroying = true;
      DestroyTree(child);
    }
  }
  Send(hwnd, WM_NCDESTROY);
  w = Get(hwnd);
  if (!w) return;
  ForgetWindow(m, hwnd);
  DropDcsOf(hwnd, IsTop(*w));
  if (IsTop(*w)) {
    PublishTopLevel(*w, true);
    m.backend->DestroyTopLevel(hwnd);
    std::erase(m.tops, hwnd);
  } else if (UiWindow* parent = Get(w->parent)) {
    std::erase(parent->children, hwnd);
  }
  m.windows.erase(hwnd);
  DeallocateHWnd(hwnd);
}

// The top-level windows of every thread, oldest first: what other threads may see of them.
struct TopLevelFacts {
  HWND hwnd;
  TOPLEVELINFO info;
};
std::mutex top_levels_lock;
std::vector<TopLevelFacts>& TopLevels() {
  static auto* list = new std::vector<TopLevelFacts>;  // threads may still look at exit
  return *list;
}

void FillCreateStruct(CREATESTRUCT& cs, const UiWindow& w, void* param) {
  cs.lpCreateParams = param;
  cs.hwndParent = w.parent;
  cs.x = w.rect.Left;
  cs.y = w.rect.Top;
  cs.cx = w.rect.Width();
  cs.cy = w.rect.Height();
  cs.style = w.style;
  cs.dwExStyle = w.exStyle;
  cs.lpszName = w.text;
  cs.lpszClass = w.className;
}

LRESULT ServiceProc(HWND, UINT message, WPARAM, LPARAM) {
  Manager& m = M();
  if (message == UM_PAINT) {
    PaintPendingWindows();
    return 0;
  }
  if (message == UM_INPUT) {
    if (m.input.empty()) return 0;
    InputEvent event = std::move(m.input.front());
    m.input.pop_front();
    m.Route(event);
  }
  return 0;
}

}  // namespace

thread_local Manager* g_manager = nullptr;

bool OnGuiThread() {
  return g_manager != nullptr;
}

Manager& M() {
  if (!g_manager) StartWindowSystem(CreateDisplayBackendFromEnvironment());
  return *g_manager;
}

UiWindow* Get(HWND hwnd) {
  // Only this thread's windows: another thread's window data is that thread's business.
  if (hwnd == 0 || !g_manager || !g_manager->windows.contains(hwnd)) {
    return nullptr;
  }
  return dynamic_cast<UiWindow*>(GetWindowExtra(hwnd));
}

bool IsTop(const UiWindow& w) {
  return w.parent == 0;
}

bool Shown(const UiWindow& w) {
  return (w.style & WS_VISIBLE) != 0;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  CallWindowChain(hwnd, message, wParam, lParam, result);
  return result;
}

LPARAM PointParam(Point p) {
  return MAKELONG(static_cast<std::uint16_t>(static_cast<std::int16_t>(p.X)),
                  static_cast<std::uint16_t>(static_cast<std::int16_t>(p.Y)));
}

HWND RootOf(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  while (w && w->parent) {
    hwnd = w->parent;
    w = Get(hwnd);
  }
  return w ? hwnd : 0;
}

bool IsSelfOrDescendant(HWND ancestor, HWND hwnd) {
  for (UiWindow* w = Get(hwnd); w; w = Get(w->parent)) {
    if (w->hwnd == ancestor) return true;
  }
  return false;
}

void PublishTopLevel(const UiWindow& w, bool gone) {
  const std::lock_guard lock(top_levels_lock);
  std::vector<TopLevelFacts>& list = TopLevels();
  const auto it = std::find_if(list.begin(), list.end(),
                               [&](const TopLevelFacts& f) { return f.hwnd == w.hwnd; });
  if (gone) {
    if (it != list.end()) list.erase(it);
    return;
  }
  const TOPLEVELINFO info{(w.style & WS_VISIBLE) != 0, w.exStyle};
  if (it == list.end())
    list.push_back({w.hwnd, info});
  else
    it->info = info;
}

void ForEachInTree(HWND hwnd, const std::function<void(UiWindow&)>& fn) {
  UiWindow* w = Get(hwnd);
  if (!w) return;
  fn(*w);
  const std::vector<HWND> children = w->children;
  // Back to front, so that a parent and the children beneath come first.
  for (auto it = children.rbegin(); it != children.rend(); ++it) ForEachInTree(*it, fn);
}

Manager::Manager(std::unique_ptr<DisplayBackend> b)
    : backend(std::move(b)), thread(std::this_thread::get_id()) {}

Manager::~Manager() = default;

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

bool StartWindowSystem(std::unique_ptr<DisplayBackend> backend) {
  if (g_manager) {
    if (!g_manager->tops.empty()) return false;
    StopWindowSystem();
  }
  if (!backend) return false;
  auto* manager = new Manager(std::move(backend));
  g_manager = manager;
  manager->service = AllocateHWnd(ServiceProc);
  manager->outerIdle = SetIdleHandler([](MSG& msg, bool remove) {
    Manager* m = g_manager;
    if (m && m->paintPending) {
      // Taken means handled: a loop that drops it loses this pass, not the update regions.
      if (remove) m->paintPending = false;
      msg = MSG{m->service, UM_PAINT, 0, 0};
      return true;
    }
    // A text set meanwhile shows to others once the thread has nothing else to do.
    if (m && remove) PublishForeground(false, true);
    return m && m->outerIdle && m->outerIdle(msg, remove);
  });
  manager->backend->Start(manager);
  const auto monitors = manager->backend->Monitors();
  Rect screen{0, 0, 1024, 768};
  Rect work = screen;
  for (const auto& mon : monitors) {
    if (mon.Primary || &mon == &monitors.front()) {
      screen = mon.Bounds;
      work = mon.WorkArea;
      if (mon.Primary) break;
    }
  }
  SetScreenGeometry(screen, work, static_cast<int>(monitors.size()));
  return true;
}

void StopWindowSystem() {
  if (!g_manager) return;
  PublishForeground(true);
  const std::vector<HWND> tops = g_manager->tops;
  for (HWND top : tops) DestroyWindow(top);
  DeallocateHWnd(g_manager->service);
  SetIdleHandler(std::move(g_manager->outerIdle));
  delete std::exchange(g_manager, nullptr);
}

DisplayBackend& CurrentDisplayBackend() {
  return *M().backend;
}

Bitmap CaptureScreen() {
  return M().backend->CaptureScreen();
}

void MessageBeep() {
  M().backend->Beep();
}

bool SetClipboardText(std::string_view text) {
  return M().backend->SetClipboardText(text);
}

std::optional<std::string> GetClipboardText() {
  return M().backend->ClipboardText();
}

bool RegisterClass(const WNDCLASS& windowClass) {
  if (windowClass.lpszClassName.empty()) return false;
  return M().classes.emplace(windowClass.lpszClassName, windowClass).second;
}

bool UnregisterClass(std::string_view className) {
  return M().classes.erase(std::string(className)) > 0;
}

HWND CreateWindowEx(DWORD exStyle, std::string_view className, std::string_view windowName,
                    DWORD style, int x, int y, int width, int height, HWND parent,
                    std::uintptr_t id, void* param) {
  Manager& m = M();
  const auto cls = m.classes.find(std::string(className));
  if (cls == m.classes.end()) return 0;
  const bool child = (style & WS_CHILD) != 0;
  UiWindow* parentWindow = child ? Get(parent) : nullptr;
  if (child && (!parentWindow || parentWindow->destroying)) return 0;
  WndProc proc = cls->second.lpfnWndProc ? cls->second.lpfnWndProc : WndProc(DefWindowProcA);
  const HWND hwnd = AllocateHWnd(proc);
  // A chain ending in the queue layer's DefWindowProc gets this window system's defaults.
  SetDefaultWindowProc(hwnd, DefWindowProcA);
  auto owned = std::make_unique<UiWindow>();
  UiWindow* w = owned.get();
  w->hwnd = hwnd;
  w->parent = child ? parent : 0;
  w->className = cls->first;
  w->classStyle = cls->second.style;
  w->background = cls->second.hbrBackground;
  w->style = style & ~WS_VISIBLE;
  w->exStyle = exStyle;
  w->id = id;
  w->text = std::string(windowName);
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = 320;
    height = 240;
  }
  w->rect = Bounds(x, y, std::max(width, 0), std::max(height, 0));
  w->client = WindowSize(*w);
  SetWindowExtra(hwnd, std::move(owned));
  m.windows.insert(hwnd);
  if (child) {
    parentWindow->children.insert(parentWindow->children.begin(), hwnd);
  } else {
    m.tops.insert(m.tops.begin(), hwnd);
    PublishTopLevel(*w);
    w->buffer =
        std::make_unique<Bitmap>(std::max(w->rect.Width(), 1), std::max(w->rect.Height(), 1));
    const DWORD transient = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    m.backend->CreateTopLevel(hwnd, w->rect, w->text,
                              (style & WS_POPUP) && (exStyle & transient) == transient);
  }
  CREATESTRUCT cs;
  FillCreateStruct(cs, *w, param);
  if (!Send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyWindow(hwnd);
    return 0;
  }
  w = Get(hwnd);
  if (!w) return 0;
  CalcClient(*w, nullptr, w->rect);
  w = Get(hwnd);
  if (!w) return 0;
  FillCreateStruct(cs, *w, param);
  if (Send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    return 0;
  }
  w = Get(hwnd);
  if (!w) return 0;
  w->ncDirty = true;
  AddUpdate(*w, Region(Rect{0, 0, w->client.Width(), w->client.Height()}), true);
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return Get(hwnd) ? hwnd : 0;
}

bool DestroyWindow(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || w->destroying) return false;
  w->destroying = true;
  if (Shown(*w) && !IsTop(*w)) {
    const Region area = WindowArea(*w);
    w->style &= ~WS_VISIBLE;
    InvalidateTreeArea(RootOf(hwnd), area);
    w = Get(hwnd);
    if (!w) return true;
  }
  Manager& m = M();
  if (m.active == hwnd) {
    ActivateNext(hwnd);
    if (!Get(hwnd)) return true;
  }
  if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) m.focus = 0;
  if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  DestroyTree(hwnd);
  return true;
}

bool IsUiWindow(HWND hwnd) {
  return Get(hwnd) != nullptr;
}

void EnumWindows(const std::function<bool(HWND hwnd)>& callback) {
  std::vector<HWND> handles;
  {
    const std::lock_guard lock(top_levels_lock);
    for (const TopLevelFacts& f : TopLevels()) handles.push_back(f.hwnd);
  }
  // A thread that ended without stopping its window system leaves its records behind.
  for (HWND hwnd : handles)
    if (IsWindow(hwnd) && !callback(hwnd)) return;
}

bool GetTopLevelInfo(HWND hwnd, TOPLEVELINFO& info) {
  if (!IsWindow(hwnd)) return false;
  const std::lock_guard lock(top_levels_lock);
  for (const TopLevelFacts& f : TopLevels()) {
    if (f.hwnd == hwnd) {
      info = f.info;
      return true;
    }
  }
  return false;
}

HWND GetParent(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? w->parent : 0;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  if (!Get(hwnd)) return 0;
  if (flags == GA_PARENT) return GetParent(hwnd);
  if (flags == GA_ROOT) return RootOf(hwnd);
  return 0;
}

HWND GetWindow(HWND hwnd, UINT command) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  if (command == GW_CHILD) return w->children.empty() ? 0 : w->children.front();
  const std::vector<HWND>* list = &M().tops;
  if (UiWindow* parent = Get(w->parent)) list = &parent->children;
  const auto it = std::find(list->begin(), list->end(), hwnd);
  if (it == list->end()) return 0;
  switch (command) {
    case GW_HWNDFIRST:
      return list->front();
    case GW_HWNDLAST:
      return list->back();
    case GW_HWNDNEXT:
      return it + 1 == list->end() ? 0 : *(it + 1);
    case GW_HWNDPREV:
      return it == list->begin() ? 0 : *(it - 1);
    default:
      return 0;
  }
}

bool IsChild(HWND parent, HWND hwnd) {
  return hwnd != parent && Get(parent) && IsSelfOrDescendant(parent, hwnd);
}

HWND SetParent(HWND hwnd, HWND newParent) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  if (!w || IsTop(*w) || w->destroying) return 0;
  UiWindow* np = Get(newParent);
  if (!np || IsSelfOrDescendant(hwnd, newParent)) return 0;
  const HWND old = w->parent;
  const bool shown = Shown(*w);
  const HWND oldRoot = RootOf(hwnd);
  const Region before = shown ? WindowArea(*w) : Region();
  if (UiWindow* op = Get(old)) std::erase(op->children, hwnd);
  DropDcsOf(hwnd, false);
  w->parent = newParent;
  np->children.insert(np->children.begin(), hwnd);
  if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  // What it uncovered goes to the windows that show there now.
  InvalidateTreeArea(oldRoot, before);
  if (shown) {
    ForEachInTree(hwnd, [](UiWindow& x) { InvalidateWhole(x); });
  }
  return old;
}

bool SetWindowText(HWND hwnd, std::string_view text) {
  if (!Get(hwnd)) return false;
  const std::string copy(text);
  return Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str())) != 0;
}

std::string GetWindowText(HWND hwnd) {
  if (!Get(hwnd)) return {};
  const auto length = Send(hwnd, WM_GETTEXTLENGTH);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const auto copied = Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, length)));
  return text;
}

std::string GetClassName(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? w->className : std::string();
}

std::intptr_t GetWindowLong(HWND hwnd, int index) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<std::intptr_t>(w->style);
    case GWL_EXSTYLE:
      return static_cast<std::intptr_t>(w->exStyle);
    case GWL_ID:
      return static_cast<std::intptr_t>(w->id);
    case GWL_USERDATA:
      return w->userData;
    default:
      return 0;
  }
}

std::intptr_t SetWindowLong(HWND hwnd, int index, std::intptr_t value) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  const std::intptr_t old = GetWindowLong(hwnd, index);
  switch (index) {
    case GWL_STYLE: {
      const DWORD keep = WS_VISIBLE | WS_DISABLED | WS_CHILD;
      w->style = (w->style & keep) | (static_cast<DWORD>(value) & ~keep);
      const DWORD v = static_cast<DWORD>(value);
      if ((v & WS_DISABLED) != (static_cast<DWORD>(old) & WS_DISABLED)) {
        EnableWindow(hwnd, !(v & WS_DISABLED));
      }
      if (Get(hwnd) && (v & WS_VISIBLE) != (static_cast<DWORD>(old) & WS_VISIBLE)) {
        ShowWindow(hwnd, (v & WS_VISIBLE) ? SW_SHOWNA : SW_HIDE);
      }
      break;
    }
    case GWL_EXSTYLE:
      w->exStyle = static_cast<DWORD>(value);
      if (IsTop(*w)) PublishTopLevel(*w);
      break;
    case GWL_ID:
      w->id = static_cast<std::uintptr_t>(value);
      break;
    case GWL_USERDATA:
      w->userData = value;
      break;
    default:
      return 0;
  }
  return old;
}

UINT RegisterWindowMessage(std::string_view name) {
  static std::mutex mutex;
  static std::map<std::string, UINT, CaseLess> names;
  if (name.empty()) return 0;
  const std::lock_guard lock(mutex);
  const auto [it, added] = names.emplace(std::string(name), 0xC000 + names.size());
  if (it->second > 0xFFFF) return 0;
  return it->second;
}

}  // namespace qv
