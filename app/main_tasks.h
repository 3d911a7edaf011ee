// Work handed from the outputs' worker threads to the main thread: queued under a lock and
// announced by a message posted to a window of the main thread, whose procedure calls Run.
// Post may be called from any thread; Run and Wait only on the main thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/msg/messages.h"

namespace qv {

class TMainTasks {
 public:
  // Queues `Task` and posts `Message` to `Target` to have it run.
  void Post(HWND Target, UINT Message, std::function<void()> Task);
  // Runs the queued tasks, outside the lock since a task may post again; false when there
  // were none.
  bool Run();
  // Blocks until a task is queued: for the end of the program, when no loop serves posts.
  void Wait();

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> tasks_;  // guarded by lock_
  std::condition_variable posted_;
};

}  // namespace qv
