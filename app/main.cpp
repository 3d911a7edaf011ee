// quorvel: the ripper. The entry routine sets the application's title, creates the main
// window and serves its message loop until the window closes. Without a display (or with
// QUORVEL_DISPLAY=headless) the window lives in memory and runs the same, which is how a
// front end drives unattended "-auto" rips: the program then prints where the files went and
// ends with 0 (every track written), 1 (some failed) or 2 (nothing ripped). Otherwise it ends
// with 0 when the window is closed. SIGINT, SIGTERM and SIGHUP act as the window's ESC key. A
// second copy says so on stderr and ends at once.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/one_instance.h"
#include "app/rip_session.h"
#include "app/unit1.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/classlib/dialogs.h"
#include "platform/classlib/forms.h"
#include "platform/msg/fd_watch.h"
#include "platform/ui/window_system.h"

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // A closed terminal or session ends the run as an interrupt does, cleanly.
  sigaddset(&set, SIGHUP);
  return set;
}

// Blocked before anything else of the process runs (the libraries' and the program's static
// initialisation, where threads may start), so that every thread inherits the mask and a
// signal that comes early waits for the message loop instead of ending the program.
void BlockStopSignals(int, char**, char**) {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}
[[gnu::section(".preinit_array"),
  gnu::used]] void (*const blockStopSignals)(int, char**, char**) = &BlockStopSignals;

// An unattended run is one from its first moment: a failure while the program starts (before
// the window has parsed the command line) must not leave a report dialog waiting for a person
// nobody will send. Read here, before any initialisation, without the runtime's help.
void NoteUnattendedRun(int argc, char** argv, char**) {
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const char* p = argv[i];
    if (p == nullptr) continue;
    const std::size_t name = std::strcspn(p, "=");
    if (name == 5 && ::strncasecmp(p, "-auto", 5) == 0) qv::SetMessageBoxesUnattended(true);
  }
}
[[gnu::section(".preinit_array"),
  gnu::used]] void (*const noteUnattendedRun)(int, char**, char**) = &NoteUnattendedRun;

// Set when a stop signal came before the window existed: the window acts on it once it does.
bool stopPending = false;

// SIGINT, SIGTERM and SIGHUP arrive through a descriptor the message loop watches.
class StopSignals {
 public:
  StopSignals() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~StopSignals() {
    if (watch_ != 0) qv::UnwatchFd(watch_);
    if (fd_ >= 0) ::close(fd_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void Watch() {
    if (fd_ < 0) return;
    watch_ = qv::WatchFd(fd_, POLLIN, [this](int, short) {
      signalfd_siginfo info;
      while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
        // Before its window exists the form cannot close: it hears the signal once it can.
        if (qv::Form1 != nullptr && qv::Form1->HandleAllocated()) {
          qv::Form1->Abort();
        } else {
          stopPending = true;
        }
      }
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
  auto backend = qv::CreateDisplayBackendFromEnvironment();
  const bool headless = backend->Name() == "headless";
  qv::StartWindowSystem(std::move(backend));
  if (headless) qv::SetMessageBoxesUnattended(true);
  signals.Watch();

  const bool autoRip = HasOption(Params, "-auto");
  qv::TForm1::CommandLine = Params;
  qv::TForm1::StatusEcho = stdout;
  qv::Application()->SetTitle("Quorvel");
  qv::TForm1* form = nullptr;
  qv::TForm1::ChoiceUnattendedDefault = headless;
  qv::Application()->CreateForm(form);
  if (stopPending && qv::Form1 != nullptr) {
    // The window it closes must exist for the close to be heard.
    (void)qv::Form1->Handle();
    qv::Form1->Abort();
  }
  if (form->SecondInstance()) {
    // Asked now rather than as the window goes, so that the line can say how it went.
    const bool answered = form->OneInstance1->RaisePrior();
    std::fprintf(stderr, "quorvel: another copy is running (lock %s)%s\n",
                 form->OneInstance1->LockFile().c_str(), answered ? "" : " but does not answer");
    return autoRip ? 2 : 0;
  }
  qv::Application()->Run();

  int status = 0;
  if (qv::Form1 != nullptr && qv::Form1->Session().Options.FAutoRip) {
    qv::TRipSession& session = qv::Form1->Session();
    const qv::TRipOutcome outcome =
        session.AutoRipDone() ? session.AutoRipOutcome() : qv::TRipOutcome();
    for (const std::string& file : outcome.Files)
      std::printf("Written: %s\n", qv::ExpandFileName(file).c_str());
    if (!outcome.Started)
      std::fprintf(stderr, "quorvel: nothing to rip%s%s\n", outcome.DiscError.empty() ? "" : ": ",
                   outcome.DiscError.c_str());
    status = outcome.ExitStatus();
  } else if (autoRip && qv::Form1 == nullptr) {
    status = 2;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Status lines into a pipe whose reader has gone ("quorvel -auto | head -1") fail quietly;
  // the rip goes on. Set before any thread exists.
  ::signal(SIGPIPE, SIG_IGN);
  // A write past the file-size limit fails with EFBIG, and the track fails with its reason,
  // as on a full disc, instead of the program being killed with its temporary file left.
  ::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> params(argv + 1, argv + argc);
  int status = 2;
  try {
    status = Run(params);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel: %s\n", e.what());
    status = 2;
  }
  try {
    qv::DestroyApplication();
    qv::StopWindowSystem();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel: %s\n", e.what());
  }
  return status;
}
