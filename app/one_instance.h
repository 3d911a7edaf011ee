// Lets only one copy of the program run per user and executable name. The first copy holds
// a lock file in the user's private runtime folder (the kernel lets go of it when the
// process ends, however it ends) and listens on a socket beside it; a later copy finds the
// lock taken, ends itself, and on its way out asks the first copy over that socket to bring
// its window to the front. The owner's message loop watches `ListenFd` and calls
// `ServeRaiseRequests` when it is readable. Main thread only.
#pragma once

#include <functional>
#include <string>

#include "platform/base/component.h"
#include "platform/base/exception.h"
#include "platform/msg/messages.h"

namespace qv {

class EOneInstance : public Exception {
 public:
  using Exception::Exception;
};

using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TOneInstance : public TComponent {
 public:
  // Raises "OneInstance component duplicated in <owner's name>" when `AOwner` already
  // owns one.
  explicit TOneInstance(TComponent* AOwner);
  ~TOneInstance() override;

  bool Terminate = true;
  bool InformUser = false;
  bool RaisePriorInstance = false;
  TNotifyEvent ApplicationExists;

  // The application object's part, until it exists: its title, its termination and its
  // warning box.
  std::function<std::string()> ApplicationTitle;
  std::function<void()> TerminateApplication;
  std::function<void(const std::string& Text)> ShowWarning;
  // First copy: a later copy asks for the window titled as this application to come to the
  // front (see BringToFront).
  std::function<void()> OnRaiseRequest;

  // The lock's name: the executable's file name with its extension, case included. Set it
  // before `Loaded` to guard something else.
  std::string MutexName;

  // Takes the lock or finds a prior copy, as the form data's loading ends.
  void Loaded() override;

  [[nodiscard]] bool FirstInstance() const { return FFirstInstance; }
  // The lock file `Loaded` took or found taken; empty before.
  [[nodiscard]] const std::string& LockFile() const { return lockFile_; }
  // The socket a second copy's request arrives on; -1 unless this is the first copy.
  [[nodiscard]] int ListenFd() const { return listenFd_; }
  // Answers the requests waiting on `ListenFd` without blocking on a silent peer for long.
  void ServeRaiseRequests();
  // What a raise request does to the first copy: `Window` restored when minimised (and only
  // then) and put on top; then its last active pop-up (the window itself when it has none),
  // restored when minimised, put above it and made the foreground window, so a modal box
  // stays in front of the window it blocks and keeps the keyboard.
  static void BringToFront(HWND Window, HWND Popup);

  // The user's private folder of the locks: $XDG_RUNTIME_DIR/quorvel when that folder
  // exists, else /tmp/quorvel-<uid>; created with mode 0700 and refused when someone else owns it
  // or it is open to others.
  [[nodiscard]] static std::string LockFolder();

  // A second copy asks the first one to come to the front (its destructor does it when this
  // has not been called); once only. False when the first copy could not be asked: it takes
  // no connections (stopped with its queue full, or gone) or no request could be made.
  bool RaisePrior();

 private:
  bool raised_ = false;
  bool priorAnswered_ = false;

  bool FFirstInstance = false;
  bool loaded_ = false;
  std::string savedTitle_;
  std::string lockFile_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::string socketPath_;
};

}  // namespace qv
