// The main window as the app fuzz targets need it: made once, headless, over a generated disc
// image, before the first input (so the ripping library it loads is there from the start).
// The scratch folder becomes the current folder: corpus paths must be absolute.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/unit1.h"
#include "platform/classlib/forms.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/mkdisc/disc_maker.h"

// The system's font matcher leaves part of its configuration unreachable once loaded (the
// window loads it as it is made); the leak check would blame it on the next input. One
// program includes this header once.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace qv::fuzz {

inline TForm1* MakeMainWindow() {
  const std::string dir = ScratchDir();
  if (::chdir(dir.c_str()) != 0) std::abort();
  ::setenv("QUORVEL_CDROM", (dir + "disc.cue").c_str(), 1);
  ::setenv("QUORVEL_INI", (dir + "Quorvel.ini").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  DiscSpec spec;
  spec.AudioTracks = {{100}};
  WriteDiscImage(spec, dir + "disc.cue");
  // The lookup asks a closed port and fails at once.
  WriteFile(dir + "Quorvel.ini", "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=1\n");
  if (!StartWindowSystem(std::make_unique<HeadlessBackend>(
          std::vector<Monitor>{{{0, 0, 1024, 768}, {0, 0, 1024, 768}, true}})))
    std::abort();
  TForm1::CommandLine = {};
  TForm1::StatusEcho = nullptr;
  TForm1* made = nullptr;
  Application()->CreateForm(made);
  if (made == nullptr) std::abort();
  PumpOrAbort([made] { return !made->LookupRunning(); }, "the first lookup");
  ProcessMessages();
  // The window goes before this thread's message queue at exit: a thread-local object made
  // after the queue is destroyed before it.
  struct Closer {
    ~Closer() {
      DestroyApplication();
      StopWindowSystem();
    }
  };
  static thread_local Closer closer;
  (void)closer;
  return made;
}

}  // namespace qv::fuzz
