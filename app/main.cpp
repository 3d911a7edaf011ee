// quorvel: the ripper. Until its window exists it runs headless: with "-auto" it rips the
// disc in the configured drive as the window's start-up and rip would, prints where the
// files went and ends with 0 (every track written), 1 (some failed) or 2 (nothing ripped).
// SIGINT and SIGTERM act as the window's ESC key: the rip stops and no partial file stays.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/one_instance.h"
#include "app/rip_session.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/msg/fd_watch.h"
#include "platform/msg/timer.h"

namespace {

// SIGINT and SIGTERM arrive through a descriptor the message loop watches: they act as
// the ESC key of the missing window while a rip serves the loop.
class StopSignals {
 public:
  StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Blocked before any other thread exists, so every thread inherits the mask.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~StopSignals() {
    if (watch_ != 0) qv::UnwatchFd(watch_);
    if (fd_ >= 0) ::close(fd_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void Watch(qv::THeadlessWindow& Window) {
    if (fd_ < 0) return;
    watch_ = qv::WatchFd(fd_, POLLIN, [this, &Window](int, short) {
      signalfd_siginfo info;
      while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) Window.RequestAbort();
    });
  }

 private:
  int fd_ = -1;
  qv::WatchId watch_ = 0;
};

bool HasOption(const std::vector<std::string>& Params, const std::string& Name) {
  for (const std::string& p : Params)
    if (qv::SameText(p.substr(0, p.find('=')), Name)) return true;
  return false;
}

int Run(const std::vector<std::string>& Params) {
  StopSignals signals;
  qv::THeadlessWindow window(stdout);
  // The guard decides before anything else happens: a second copy must not touch the first
  // one's log, database or drive.
  qv::TComponent form(nullptr);
  form.SetName("Form1");
  auto* guard = qv::Create<qv::TOneInstance>(&form);
  guard->RaisePriorInstance = true;
  guard->ApplicationTitle = [] { return std::string("Quorvel"); };
  bool terminated = false;
  guard->TerminateApplication = [&terminated] { terminated = true; };
  guard->Loaded();
  if (terminated) return HasOption(Params, "-auto") ? 2 : 0;

  signals.Watch(window);
  qv::TRipSession session(window);
  // No window to raise yet: the request is only logged.
  guard->OnRaiseRequest = [&session] {
    session.Log.WriteLog("OneInstance : another copy asked to raise the window");
  };
  const qv::WatchId raiseWatch =
      guard->ListenFd() >= 0 ? qv::WatchFd(guard->ListenFd(), POLLIN,
                                           [guard](int, short) { guard->ServeRaiseRequests(); })
                             : 0;
  struct Unwatch {
    qv::WatchId id;
    ~Unwatch() {
      if (id != 0) qv::UnwatchFd(id);
    }
  } unwatch{raiseWatch};
  session.Start(Params);
  if (!session.Options.AutoRip) {
    std::fprintf(stderr,
                 "quorvel: this build has no window yet; run it with -auto to rip the disc\n");
    return 2;
  }
  // The start timer: an unattended rip begins when it has ticked and the lookup has ended.
  qv::TTimer startTimer(nullptr);
  startTimer.SetInterval(1000);
  startTimer.OnTimer = [&session, &startTimer](qv::TComponent*) {
    startTimer.SetEnabled(false);
    session.StartTimerFired();
  };
  // The local database only, until the CD database component brings the server; without an
  // entry the tracks are named from the fields.
  session.BeginLookup();
  const std::string found = session.CDDBQueryLocal();
  if (found.empty())
    session.LookupFailed();
  else
    window.SetStatus(found);
  session.LookupEnded();
  window.PumpUntil([&window] { return window.Closed(); });
  const qv::TRipOutcome outcome =
      session.AutoRipDone() ? session.AutoRipOutcome() : qv::TRipOutcome();
  for (const std::string& file : outcome.Files)
    std::printf("Written: %s\n", qv::ExpandFileName(file).c_str());
  if (!outcome.Started) std::fprintf(stderr, "quorvel: nothing to rip\n");
  return outcome.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> params(argv + 1, argv + argc);
  try {
    return Run(params);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel: %s\n", e.what());
    return 2;
  }
}
