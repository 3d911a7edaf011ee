#include "app/main_tasks.h"

#include "platform/msg/message_queue.h"

namespace qv {

void TMainTasks::Post(HWND Target, UINT Message, std::function<void()> Task) {
  {
    std::lock_guard guard(lock_);
    tasks_.push_back(std::move(Task));
  }
  posted_.notify_one();
  PostMessage(Target, Message, 0, 0);
}

bool TMainTasks::Run() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard guard(lock_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task();
  return !tasks.empty();
}

void TMainTasks::Wait() {
  std::unique_lock guard(lock_);
  posted_.wait(guard, [this] { return !tasks_.empty(); });
}

}  // namespace qv
