// The "SMTP" progress window of a report's send: a modal dialog with a status line and a
// progress bar, run by a `TSMTPThread` on a thread of its own with a window system (and
// display connection) of its own, so it shows while the program's main thread is frozen.
// The sending thread only posts to it and never waits on it beyond the start.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "crashlog/send_report.h"
#include "platform/msg/window.h"
#include "platform/ui/display_backend.h"

namespace qv {

// The private message on which the window ends itself.
constexpr UINT WM_SMTP_CLOSE = 0x0400 + 1234;
// Identifiers of the window's status line ("STATIC") and progress bar.
constexpr int IDC_SMTP_STATUS = 100;
constexpr int IDC_SMTP_PROGRESS = 101;

// Makes the window thread's display back end; null: no window.
using TDisplayFactory = std::function<std::unique_ptr<DisplayBackend>()>;
// The headless back end when QUORVEL_DISPLAY says "headless", else an X connection of the
// thread's own; null without a display.
[[nodiscard]] std::unique_ptr<DisplayBackend> ProgressDisplay();

class TSMTPThread final : public TSendProgress {
 public:
  // Starts the window with `caption` and waits until it has taken the focus, at most
  // `focusWait`. When it did not in time or there is no display, the send goes on without
  // a window (a late one ends at once) and the calls below do nothing. The window has the
  // dialog fonts of the report dialog, and with `customLook` its caption bar and frame.
  static std::unique_ptr<TSMTPThread> Start(
      const std::string& caption, const TDisplayFactory& display = ProgressDisplay,
      std::chrono::milliseconds focusWait = std::chrono::seconds(2), bool customLook = true);
  // Closes the window when that was not done; does not wait for its thread.
  ~TSMTPThread() override;

  void Status(const std::string& text) override;
  void Position(int percent) override;
  void Close() override;

  // Whether the window took the focus in time.
  [[nodiscard]] bool Shown() const { return shown_; }
  // The dialog's handle and its controls' (IDC_SMTP_*), 0 when it is not up; for
  // messages from other threads.
  [[nodiscard]] HWND Window() const;
  [[nodiscard]] HWND Control(int id) const;
  // Waits until the window's thread has ended, at most `timeout`; for tests.
  bool WaitEnded(std::chrono::milliseconds timeout) const;

  struct State;

 private:
  explicit TSMTPThread(std::shared_ptr<State> state, bool shown);
  std::shared_ptr<State> state_;
  bool shown_ = false;
  bool open_ = false;  // counted as open for the SMTP warnings' message boxes
};

}  // namespace qv
