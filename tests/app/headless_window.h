// A window for the rip loop without a form, for the tests: it keeps the texts the window would
// show, echoes the status line to a stream, and runs tasks posted from other threads on the
// main thread's message loop (a hidden window of its own receives them). Created, used and
// destroyed on the main thread, except `PostToMain` and `RequestAbort`.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/cd_rip.h"
#include "app/main_tasks.h"
#include "platform/msg/messages.h"

namespace qv {

// The hidden window's message: run the posted tasks.
inline constexpr UINT CM_RUNTASKS = 0xB300;

class THeadlessWindow final : public TRipWindow {
 public:
  // Status lines go to `Echo` (none: kept only).
  explicit THeadlessWindow(std::FILE* Echo = nullptr);
  ~THeadlessWindow() override;
  THeadlessWindow(const THeadlessWindow&) = delete;
  THeadlessWindow& operator=(const THeadlessWindow&) = delete;

  void SelectTrackLine(int Index) override { selected_ = Index; }
  void SetStatus(const std::string& Text) override;
  void SetProgress(int Position) override;
  void SetRipping(bool Ripping) override { ripping_ = Ripping; }
  [[nodiscard]] bool AbortRequested() override { return abort_; }
  // Serves the thread's message loop; when the loop is told to quit meanwhile, the rip is
  // aborted and only the posted tasks are served until `Done`.
  void PumpUntil(const std::function<bool()>& Done) override;
  void PostToMain(std::function<void()> Task) override;
  // The drive's identity from the CD database's drive access (its INQUIRY answer).
  void SelectCddbDrive(int Index) override;
  [[nodiscard]] std::string CddbDriveName() override {
    if (OnCddbDriveName) OnCddbDriveName();
    return cddbDrive_;
  }
  // Called as the rip asks for the drive's name (the rip logs it just before each track
  // starts), to act at that moment.
  std::function<void()> OnCddbDriveName;
  void Close() override { closed_ = true; }

  // From any thread: the ESC key of a window that does not exist (a signal, a test).
  void RequestAbort();

  // Called on the main thread after each batch of posted tasks; lets a test act at a point
  // of the rip.
  std::function<void()> OnTask;

  [[nodiscard]] const std::string& Status() const { return status_; }
  [[nodiscard]] int Progress() const { return progress_; }
  [[nodiscard]] int SelectedLine() const { return selected_; }
  [[nodiscard]] bool RippingControls() const { return ripping_; }
  [[nodiscard]] bool Closed() const { return closed_; }

 private:
  // Runs the tasks posted so far; true when there were any.
  bool RunTasks();

  std::FILE* echo_;
  HWND handle_ = 0;
  std::string cddbDrive_;
  std::string status_;
  int progress_ = 0;
  int selected_ = -1;
  bool ripping_ = false;
  bool abort_ = false;
  bool closed_ = false;

  TMainTasks tasks_;
};

}  // namespace qv
