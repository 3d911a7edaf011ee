// quorvel: the ripper. Until its window exists it runs headless: with "-auto" it rips the
// disc in the configured drive as the window's start-up and rip would, prints where the
// files went and ends with 0 (every track written), 1 (some failed) or 2 (nothing ripped).
// SIGINT and SIGTERM act as the window's ESC key: the rip stops and no partial file stays.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_window.h"
#include "app/one_instance.h"
#include "app/rip_session.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"

namespace {

// Until the message loop can watch descriptors, one thread waits for what comes from
// outside: SIGINT and SIGTERM (the ESC key of the missing window) and a later copy's
// request to raise this one. It only posts to the main thread.
class OutsideEvents {
 public:
  OutsideEvents(qv::THeadlessWindow& Window, qv::TOneInstance& Guard) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Blocked before any other thread exists, so every thread inherits the mask.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this, &Window, &Guard] { Watch(Window, Guard); });
  }
  ~OutsideEvents() {
    const uint64_t one = 1;
    (void)::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(signalFd_);
    ::close(stopFd_);
  }
  OutsideEvents(const OutsideEvents&) = delete;
  OutsideEvents& operator=(const OutsideEvents&) = delete;

 private:
  void Watch(qv::THeadlessWindow& Window, qv::TOneInstance& Guard) {
    for (;;) {
      pollfd fds[3] = {{stopFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}, {Guard.ListenFd(), POLLIN, 0}};
      if (::poll(fds, Guard.ListenFd() >= 0 ? 3 : 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      if (fds[1].revents != 0) {
        signalfd_siginfo info;
        while (::read(signalFd_, &info, sizeof info) == ssize_t(sizeof info)) Window.RequestAbort();
      }
      // Accepting here keeps the descriptor from staying readable; the raise itself is the
      // main thread's.
      if (fds[2].revents != 0) Guard.ServeRaiseRequests();
    }
  }

  int signalFd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;
};

bool HasOption(const std::vector<std::string>& Params, const std::string& Name) {
  for (const std::string& p : Params)
    if (qv::SameText(p.substr(0, p.find('=')), Name)) return true;
  return false;
}

int Run(const std::vector<std::string>& Params) {
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

  OutsideEvents outside(window, *guard);
  qv::TRipSession session(window);
  guard->OnRaiseRequest = [&window, &session] {
    window.PostToMain([&session] {
      session.Log.WriteLog("OneInstance : another copy asked to raise the window");
    });
  };
  session.Start(Params);
  if (!session.Options.AutoRip) {
    std::fprintf(stderr,
                 "quorvel: this build has no window yet; run it with -auto to rip the disc\n");
    return 2;
  }
  // Without a database entry the tracks are named from the fields; the lookup comes with
  // the CD database component.
  session.LookupFailed();
  const qv::TRipOutcome outcome = session.CDrip();
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
