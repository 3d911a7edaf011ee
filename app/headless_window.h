// The stand-in for the main window while there is none: it keeps the texts the window would
// show, echoes the status line to a stream, and serves a small queue of tasks posted from
// other threads, so the rip can wait for its outputs without polling. Main thread only,
// except `PostToMain` and `RequestAbort`.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/cd_rip.h"

namespace qv {

class THeadlessWindow final : public TRipWindow {
 public:
  // Status lines go to `Echo` (none: kept only).
  explicit THeadlessWindow(std::FILE* Echo = nullptr) : echo_(Echo) {}

  void SelectTrackLine(int Index) override { selected_ = Index; }
  void SetStatus(const std::string& Text) override;
  void SetProgress(int Position) override;
  void SetRipping(bool Ripping) override { ripping_ = Ripping; }
  [[nodiscard]] bool AbortRequested() override { return abort_; }
  void PumpUntil(const std::function<bool()>& Done) override;
  void PostToMain(std::function<void()> Task) override;
  // The drive's identity from the CD database's drive access (its INQUIRY answer).
  void SelectCddbDrive(int Index) override;
  [[nodiscard]] std::string CddbDriveName() override { return cddbDrive_; }
  void Close() override { closed_ = true; }

  // From any thread: the ESC key of a window that does not exist (a signal, a test).
  void RequestAbort();
  // Runs the tasks posted so far.
  void ProcessMessages();

  // Called on the main thread after each task the loop ran; lets a test act at a point
  // of the rip.
  std::function<void()> OnTask;

  [[nodiscard]] const std::string& Status() const { return status_; }
  [[nodiscard]] int Progress() const { return progress_; }
  [[nodiscard]] int SelectedLine() const { return selected_; }
  [[nodiscard]] bool RippingControls() const { return ripping_; }
  [[nodiscard]] bool Closed() const { return closed_; }

 private:
  std::FILE* echo_;
  std::string cddbDrive_;
  std::string status_;
  int progress_ = 0;
  int selected_ = -1;
  bool ripping_ = false;
  bool abort_ = false;
  bool closed_ = false;

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by lock_
};

}  // namespace qv
