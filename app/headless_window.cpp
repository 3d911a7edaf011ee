#include "app/headless_window.h"

#include "cddb/cdaccess.h"

namespace qv {

void THeadlessWindow::SelectCddbDrive(int Index) {
  TCDDriveList list;
  GetCDDrives(list, cdiAutoDetect);
  cddbDrive_ = Index >= 0 && Index < list.DriveCount ? list.Drives[size_t(Index)].Description
                                                     : std::string();
}

void THeadlessWindow::SetStatus(const std::string& Text) {
  status_ = Text;
  if (echo_ != nullptr) {
    std::fprintf(echo_, "%s\n", Text.c_str());
    std::fflush(echo_);
  }
}

void THeadlessWindow::SetProgress(int Position) {
  // An output that cannot tell its size reports -1; the bar ignores it.
  if (Position >= 0) progress_ = Position;
}

void THeadlessWindow::PostToMain(std::function<void()> Task) {
  {
    std::lock_guard guard(lock_);
    tasks_.push_back(std::move(Task));
  }
  wake_.notify_one();
}

void THeadlessWindow::RequestAbort() {
  PostToMain([this] { abort_ = true; });
}

void THeadlessWindow::ProcessMessages() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard guard(lock_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    if (OnTask) OnTask();
  }
}

void THeadlessWindow::PumpUntil(const std::function<bool()>& Done) {
  while (!Done()) {
    std::function<void()> task;
    {
      std::unique_lock guard(lock_);
      // Whatever can make `Done` true posts a task, so waiting for one misses nothing.
      wake_.wait(guard, [this] { return !tasks_.empty(); });
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // Outside the lock: a task may post again.
    task();
    if (OnTask) OnTask();
  }
}

}  // namespace qv
