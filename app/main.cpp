// quorvel: the ripper. Until its window exists it runs headless: with "-auto" it rips the
// disc in the configured drive as the window's start-up and rip would, prints where the
// files went and ends with 0 (every track written), 1 (some failed) or 2 (nothing ripped).
// SIGINT and SIGTERM act as the window's ESC key: the rip stops and no partial file stays.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_window.h"
#include "app/rip_session.h"
#include "platform/base/paths.h"

namespace {

// Waits for the stop signals on its own thread, so that nothing else needs a handler.
class SignalWatcher {
 public:
  explicit SignalWatcher(qv::THeadlessWindow& Window) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    // Blocked here, before any other thread exists, so every thread inherits the mask.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([set, &Window] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR2) return;
        Window.RequestAbort();
      }
    });
  }
  ~SignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
  }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  std::thread thread_;
};

int Run(const std::vector<std::string>& Params) {
  qv::THeadlessWindow window(stdout);
  SignalWatcher signals(window);
  qv::TRipSession session(window);
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
