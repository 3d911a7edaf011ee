// Message retrieval and the loops built on it. All of these work on the calling
// thread's queue. Loops nest: a handler may pump again, and messages keep flowing.
// Nothing here sleeps in a loop; every wait is a poll with a computed timeout.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

#include "platform/msg/messages.h"

namespace qv {

// Handles the messages other threads sent, runs the ready descriptor watches, then takes
// (PM_REMOVE) or looks at (PM_NOREMOVE) the next posted message, the idle handler's
// message, WM_QUIT, or a due WM_TIMER. False when there is nothing. Never blocks.
bool PeekMessage(MSG& msg, UINT remove);
// Waits for the next message as PeekMessage takes it; false for WM_QUIT.
bool GetMessage(MSG& msg);

// What the calling thread's queue yields once no sent or posted message waits, ahead of
// a pending WM_QUIT and of due timers (so that, say, painting comes when the queue is
// otherwise idle). The handler runs on this thread inside PeekMessage/GetMessage: it
// fills `msg` and answers true, or answers false when it has nothing, and GetMessage
// then sleeps as before. `remove` is false for PM_NOREMOVE; a handler hands out the same
// message until it is removed, and must not offer it forever without new cause. Returns
// the handler it replaces; null removes it.
using IdleHandler = std::function<bool(MSG& msg, bool remove)>;
IdleHandler SetIdleHandler(IdleHandler handler);

// Hands a message to its window's chain. An exception escaping the procedure goes to the
// application's exception handler and 0 is answered. A window gone meanwhile gets
// nothing; thread messages (hwnd 0) are not dispatched.
LRESULT DispatchMessage(const MSG& msg);

// Handles everything that is ready and returns; never blocks. On WM_QUIT it marks the
// thread terminated and leaves the quit pending for the loop outside.
void ProcessMessages();

enum class PumpResult { Done, TimedOut, Quit };
// Serves the queue until `done` answers true (checked before the first wait and after
// every message), the deadline passes, or WM_QUIT arrives (left pending for the loop
// outside). A `done` that another thread makes true needs a message or a
// PostThreadMessage to this thread to be noticed before the deadline.
PumpResult PumpUntil(const std::function<bool()>& done,
                     std::optional<std::chrono::steady_clock::time_point> deadline = {});

// True while a WM_QUIT that one of the above took from the calling thread's queue is
// pending again for the loops outside. A loop that takes the quit and keeps it (GetMessage
// answering false to the outermost loop) ends it: as on Windows, the thread's later loops,
// modal ones included, then run as usual.
[[nodiscard]] bool Terminated();

// Where exceptions escaping a dispatched window procedure or a descriptor callback go.
// The handler runs on the thread where the exception happened. Returns the handler it
// replaces, so that a hook can pass on what it does not handle itself.
using ExceptionHandler = std::function<void(std::exception_ptr)>;
ExceptionHandler SetApplicationExceptionHandler(ExceptionHandler handler);
// Calls the current handler; without one, writes the exception's text to stderr.
void HandleApplicationException(std::exception_ptr error);

}  // namespace qv
