#include "crashlog/send_progress.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "crashlog/report_dialog.h"
#include "crashlog/trace_log.h"
#include "platform/classlib/dlgtemplate.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "platform/ui/x11_backend.h"

namespace qv {

// Hands the queued status texts and positions to the window, in order.
constexpr UINT WM_SMTP_UPDATE = WM_SMTP_CLOSE + 1;

struct TSMTPThread::State {
  struct Update {
    bool isText = false;
    std::string text;
    int position = 0;
  };
  mutable std::mutex lock;
  mutable std::condition_variable changed;
  HWND window = 0;
  HWND status = 0;
  HWND bar = 0;
  bool focused = false;
  bool closed = false;
  bool ended = false;
  std::deque<Update> updates;

  // Under the lock: what the sender asks for is queued and the window woken once.
  void Queue(Update update) {
    const std::lock_guard guard(lock);
    if (closed) return;
    const bool wake = updates.empty();
    if (!update.isText && !updates.empty() && !updates.back().isText) {
      updates.back() = std::move(update);  // only the latest position matters
    } else {
      updates.push_back(std::move(update));
    }
    if (wake && window != 0) PostMessage(window, WM_SMTP_UPDATE, 0, 0);
  }
  void Apply(HWND dialog) {
    std::deque<Update> taken;
    {
      const std::lock_guard guard(lock);
      taken.swap(updates);
    }
    for (const Update& u : taken) {
      if (u.isText) {
        SetWindowText(GetDlgItem(dialog, IDC_SMTP_STATUS), u.text);
      } else {
        SendMessage(GetDlgItem(dialog, IDC_SMTP_PROGRESS), PBM_SETPOS, WPARAM(u.position), 0);
      }
    }
  }
};

namespace {

// The same window as the request dialog's: a topmost tool window, whose small caption bar the
// logger's own look paints.
// Wider and taller than the classic 186 x 34 resource: a status such as
// "bugs@quorvel.example 1/1: Connecting with SMTP server..." does not fit 171 units in the
// fonts drawn here, and its end was cut off.
DLGTEMPLATE SMTPTemplate(const std::string& caption) {
  DLGTEMPLATE t;
  t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
  t.exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
  t.caption = caption;
  t.cx = 240;
  t.cy = 42;
  t.items = {{"STATIC", "", IDC_SMTP_STATUS, 0, 0, 7, 7, 226, 10},
             {"msctls_progress32", "", IDC_SMTP_PROGRESS, WS_BORDER, 0, 7, 23, 226, 11}};
  return t;
}

void RunWindow(const std::shared_ptr<TSMTPThread::State>& state, const TDisplayFactory& display,
               const std::string& caption, bool customLook) {
  std::unique_ptr<DisplayBackend> backend = display ? display() : nullptr;
  if (backend != nullptr && StartWindowSystem(std::move(backend))) {
    bool run = false;
    {
      const std::lock_guard guard(state->lock);
      run = !state->closed;
    }
    if (run) {
      RegisterDialogControls();
      // Made as the window opens and deleted as it closes, as the other dialogs do.
      std::optional<TDialogFonts> fonts;
      bool active = true;
      DialogBoxIndirectParam(
          SMTPTemplate(caption), 0, [&](HWND dialog, UINT message, WPARAM w, LPARAM) -> INT_PTR {
            switch (message) {
              case WM_INITDIALOG: {
                fonts.emplace();
                SendMessage(GetDlgItem(dialog, IDC_SMTP_STATUS), WM_SETFONT,
                            reinterpret_cast<WPARAM>(&fonts->message), 1);
                SendMessage(GetDlgItem(dialog, IDC_SMTP_PROGRESS), PBM_SETRANGE, 0, 100 << 16);
                bool closed = false;
                {
                  const std::lock_guard guard(state->lock);
                  closed = state->closed;
                  if (!closed) {
                    state->window = dialog;
                    state->status = GetDlgItem(dialog, IDC_SMTP_STATUS);
                    state->bar = GetDlgItem(dialog, IDC_SMTP_PROGRESS);
                  }
                }
                if (closed) {
                  EndDialog(dialog, 0);
                } else {
                  state->Apply(dialog);
                }
                return 1;
              }
              case WM_ACTIVATE:
              case WM_SETFOCUS:
                if (message == WM_SETFOCUS || LOWORD(w) != WA_INACTIVE) {
                  const std::lock_guard guard(state->lock);
                  state->focused = true;
                  state->changed.notify_all();
                }
                return 0;
              case WM_SMTP_UPDATE:
                state->Apply(dialog);
                return 1;
              case WM_SMTP_CLOSE:
                EndDialog(dialog, 0);
                return 1;
              case WM_NCPAINT:
              case WM_NCACTIVATE:
                return fonts && PaintDialogFrame(dialog, message, w, caption, customLook, false,
                                                 active, fonts->bold);
              default:
                return 0;
            }
          });
    }
    StopWindowSystem();
  }
  const std::lock_guard guard(state->lock);
  state->window = state->status = state->bar = 0;
  state->ended = true;
  state->changed.notify_all();
}

}  // namespace

std::unique_ptr<DisplayBackend> ProgressDisplay() {
  const char* choice = std::getenv("QUORVEL_DISPLAY");
  if (choice != nullptr && std::string_view(choice) == "headless") {
    return HeadlessBackend::FromEnvironment();
  }
  return X11Backend::Open(nullptr);
}

TSMTPThread::TSMTPThread(std::shared_ptr<State> state, bool shown)
    : state_(std::move(state)), shown_(shown) {}

std::unique_ptr<TSMTPThread> TSMTPThread::Start(const std::string& caption,
                                                const TDisplayFactory& display,
                                                std::chrono::milliseconds focusWait,
                                                bool customLook) {
  auto state = std::make_shared<State>();
  // The thread keeps the state alive as long as it runs; nobody joins it, so a window that
  // hangs never holds up the sender.
  std::thread(RunWindow, state, display, caption, customLook).detach();
  bool shown = false;
  {
    std::unique_lock guard(state->lock);
    state->changed.wait_for(guard, focusWait, [&] { return state->focused || state->ended; });
    shown = state->focused && !state->ended;
  }
  std::unique_ptr<TSMTPThread> progress(new TSMTPThread(state, shown));
  if (!shown) {
    progress->Close();  // a window that comes late ends at once
  } else {
    progress->open_ = true;
    SetSMTPProgressOpen(true);
  }
  return progress;
}

TSMTPThread::~TSMTPThread() {
  Close();
}

void TSMTPThread::Status(const std::string& text) {
  state_->Queue({true, text, 0});
}

void TSMTPThread::Position(int percent) {
  state_->Queue({false, {}, percent});
}

void TSMTPThread::Close() {
  if (std::exchange(open_, false)) SetSMTPProgressOpen(false);
  const std::lock_guard guard(state_->lock);
  if (state_->closed) return;
  state_->closed = true;
  state_->updates.clear();
  if (state_->window != 0) PostMessage(state_->window, WM_SMTP_CLOSE, 0, 0);
}

HWND TSMTPThread::Window() const {
  const std::lock_guard guard(state_->lock);
  return state_->window;
}

HWND TSMTPThread::Control(int id) const {
  const std::lock_guard guard(state_->lock);
  return id == IDC_SMTP_STATUS ? state_->status : id == IDC_SMTP_PROGRESS ? state_->bar : 0;
}

bool TSMTPThread::WaitEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock guard(state_->lock);
  return state_->changed.wait_for(guard, timeout, [&] { return state_->ended; });
}

}  // namespace qv
