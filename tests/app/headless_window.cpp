#include "tests/app/headless_window.h"

#include "cddb/cdaccess.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace qv {

THeadlessWindow::THeadlessWindow(std::FILE* Echo) : echo_(Echo) {
  handle_ = AllocateHWnd([this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != CM_RUNTASKS) return DefWindowProc(hwnd, message, wParam, lParam);
    RunTasks();
    return LRESULT(0);
  });
}

THeadlessWindow::~THeadlessWindow() {
  DeallocateHWnd(handle_);
}

void THeadlessWindow::SelectCddbDrive(int Index) {
  TCDDriveList list;
  GetCDDrives(list, cdiAutoDetect);
  cddbDrive_ =
      Index >= 0 && Index < list.DriveCount ? list.Drives[size_t(Index)].ProductId : std::string();
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
  tasks_.Post(handle_, CM_RUNTASKS, std::move(Task));
}

void THeadlessWindow::RequestAbort() {
  PostToMain([this] { abort_ = true; });
}

bool THeadlessWindow::RunTasks() {
  if (!tasks_.Run()) return false;
  if (OnTask) OnTask();
  return true;
}

void THeadlessWindow::PumpUntil(const std::function<bool()>& Done) {
  if (qv::PumpUntil(Done) != PumpResult::Quit) return;
  // The loop is ending: the rip stops, and what it still waits for (its output letting go
  // of the file) arrives as posted tasks.
  abort_ = true;
  while (!Done()) {
    if (!RunTasks()) tasks_.Wait();
  }
}

}  // namespace qv
