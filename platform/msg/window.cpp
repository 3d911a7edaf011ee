#include "platform/msg/window.h"

#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/msg/message_queue.h"

namespace qv {

namespace {

// The procedures of one window, copied on change so that a call in progress keeps the
// chain it started with.
struct Chain {
  WndProc base;
  std::vector<std::pair<SubclassId, SubclassProc>> subclasses;  // bottom first
};

struct Window {
  std::shared_ptr<MessageQueue> queue;
  std::shared_ptr<const Chain> chain;
  std::unique_ptr<WindowExtra> extra;
  DefaultWindowProc defaultProc = nullptr;
};

struct Registry {
  std::shared_mutex mutex;
  std::unordered_map<HWND, Window> windows;  // guarded by `mutex`
  HWND nextHandle = 0x10000;                 // guarded by `mutex`; never reused
  SubclassId nextSubclass = 1;               // guarded by `mutex`
};

// Never destroyed: threads that end after main still close their queues through it.
Registry& TheRegistry() {
  static auto* const registry = new Registry;
  return *registry;
}

// Calls level `level` of the chain, counting from the top; the last level is the base.
LRESULT CallLevel(const Chain& chain, std::size_t level, HWND hwnd, UINT message, WPARAM wParam,
                  LPARAM lParam) {
  const std::size_t count = chain.subclasses.size();
  if (level >= count) return chain.base ? chain.base(hwnd, message, wParam, lParam) : 0;
  const WndProc inherited = [&chain, level](HWND h, UINT m, WPARAM w, LPARAM l) {
    return CallLevel(chain, level + 1, h, m, w, l);
  };
  return chain.subclasses[count - 1 - level].second(hwnd, message, wParam, lParam, inherited);
}

std::shared_ptr<const Chain> ChainOf(HWND hwnd) {
  auto& registry = TheRegistry();
  const std::shared_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  return it == registry.windows.end() ? nullptr : it->second.chain;
}

}  // namespace

HWND AllocateHWnd(WndProc procedure) {
  auto queue = MessageQueue::Current().shared_from_this();
  auto chain = std::make_shared<Chain>();
  chain->base = std::move(procedure);
  auto& registry = TheRegistry();
  const std::unique_lock lock(registry.mutex);
  const HWND hwnd = registry.nextHandle++;
  registry.windows.emplace(hwnd, Window{std::move(queue), std::move(chain), nullptr, nullptr});
  return hwnd;
}

void DeallocateHWnd(HWND hwnd) {
  auto& registry = TheRegistry();
  Window window;
  {
    const std::unique_lock lock(registry.mutex);
    const auto it = registry.windows.find(hwnd);
    if (it == registry.windows.end()) return;
    window = std::move(it->second);
    registry.windows.erase(it);
  }
  // Posts that found the window did so under the shared lock, so they are all in the
  // queue by now and the purge catches every one of them.
  window.queue->PurgeWindow(hwnd);
  // `window` (its extra data and procedures) dies here, outside the lock.
}

bool IsWindow(HWND hwnd) {
  auto& registry = TheRegistry();
  const std::shared_lock lock(registry.mutex);
  return registry.windows.contains(hwnd);
}

std::thread::id GetWindowThreadId(HWND hwnd) {
  auto& registry = TheRegistry();
  const std::shared_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  return it == registry.windows.end() ? std::thread::id() : it->second.queue->ThreadId();
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DefaultWindowProc procedure = nullptr;
  {
    auto& registry = TheRegistry();
    const std::shared_lock lock(registry.mutex);
    const auto it = registry.windows.find(hwnd);
    if (it != registry.windows.end()) procedure = it->second.defaultProc;
  }
  return procedure ? procedure(hwnd, message, wParam, lParam) : 0;
}

bool SetDefaultWindowProc(HWND hwnd, DefaultWindowProc procedure) {
  auto& registry = TheRegistry();
  const std::unique_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  if (it == registry.windows.end()) return false;
  it->second.defaultProc = procedure;
  return true;
}

SubclassId SubclassWindow(HWND hwnd, SubclassProc procedure) {
  auto& registry = TheRegistry();
  const std::unique_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  if (it == registry.windows.end()) return 0;
  auto chain = std::make_shared<Chain>(*it->second.chain);
  const SubclassId id = registry.nextSubclass++;
  chain->subclasses.emplace_back(id, std::move(procedure));
  it->second.chain = std::move(chain);
  return id;
}

bool RemoveWindowSubclass(HWND hwnd, SubclassId id) {
  auto& registry = TheRegistry();
  std::shared_ptr<const Chain> old;  // released outside the lock
  const std::unique_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  if (it == registry.windows.end()) return false;
  auto chain = std::make_shared<Chain>(*it->second.chain);
  if (std::erase_if(chain->subclasses, [id](const auto& entry) { return entry.first == id; }) ==
      0) {
    return false;
  }
  old = std::exchange(it->second.chain, std::move(chain));
  return true;
}

bool IsSubclassOnTop(HWND hwnd, SubclassId id) {
  const auto chain = ChainOf(hwnd);
  return chain && id != 0 && !chain->subclasses.empty() && chain->subclasses.back().first == id;
}

bool CallWindowChain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  // The copy keeps the procedures alive even if the window is destroyed by one of them.
  const auto chain = ChainOf(hwnd);
  if (!chain) return false;
  result = CallLevel(*chain, 0, hwnd, message, wParam, lParam);
  return true;
}

bool SetWindowExtra(HWND hwnd, std::unique_ptr<WindowExtra> extra) {
  auto& registry = TheRegistry();
  std::unique_ptr<WindowExtra> old;  // released outside the lock
  const std::unique_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  if (it == registry.windows.end()) return false;
  old = std::exchange(it->second.extra, std::move(extra));
  return true;
}

WindowExtra* GetWindowExtra(HWND hwnd) {
  auto& registry = TheRegistry();
  const std::shared_lock lock(registry.mutex);
  const auto it = registry.windows.find(hwnd);
  return it == registry.windows.end() ? nullptr : it->second.extra.get();
}

namespace window_registry {

LiveWindow::LiveWindow(HWND hwnd) : lock_(TheRegistry().mutex) {
  const auto& windows = TheRegistry().windows;
  const auto it = windows.find(hwnd);
  if (it != windows.end()) queue_ = it->second.queue.get();
}

void DestroyWindowsOf(const MessageQueue* queue) {
  auto& registry = TheRegistry();
  std::vector<Window> gone;
  {
    const std::unique_lock lock(registry.mutex);
    for (auto it = registry.windows.begin(); it != registry.windows.end();) {
      if (it->second.queue.get() == queue) {
        gone.push_back(std::move(it->second));
        it = registry.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
}

}  // namespace window_registry

}  // namespace qv
