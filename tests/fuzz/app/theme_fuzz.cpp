// Any bytes as the suite's theme file ("Zentha.cfg"), loaded by the main window as the
// program does at start: the XML parser, the theme's paths and every number and colour
// attribute. The window is made once, headless, over a generated disc image.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/unit1.h"
#include "platform/classlib/forms.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/mkdisc/disc_maker.h"

namespace {

qv::TForm1* form = nullptr;

// Made before the first input, so the ripping library it loads is there from the start.
// The scratch folder becomes the current folder: corpus paths must be absolute.
qv::TForm1* MakeMainWindow() {
  const std::string dir = qv::fuzz::ScratchDir();
  if (::chdir(dir.c_str()) != 0) std::abort();
  ::setenv("QUORVEL_CDROM", (dir + "disc.cue").c_str(), 1);
  ::setenv("QUORVEL_INI", (dir + "Quorvel.ini").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  qv::DiscSpec spec;
  spec.AudioTracks = {{100}};
  qv::WriteDiscImage(spec, dir + "disc.cue");
  // The lookup asks a closed port and fails at once.
  qv::fuzz::WriteFile(dir + "Quorvel.ini", "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=1\n");
  if (!qv::StartWindowSystem(std::make_unique<qv::HeadlessBackend>(
          std::vector<qv::Monitor>{{{0, 0, 1024, 768}, {0, 0, 1024, 768}, true}})))
    std::abort();
  qv::TForm1::CommandLine = {};
  qv::TForm1::StatusEcho = nullptr;
  qv::TForm1* made = nullptr;
  qv::Application()->CreateForm(made);
  if (made == nullptr) std::abort();
  qv::fuzz::PumpOrAbort([made] { return !made->LookupRunning(); }, "the first lookup");
  qv::ProcessMessages();
  return made;
}

// The window goes before this thread's message queue at exit: a thread-local object made
// after the queue is destroyed before it.
struct Closer {
  ~Closer() {
    qv::DestroyApplication();
    qv::StopWindowSystem();
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  form = MakeMainWindow();
  static thread_local Closer closer;
  (void)closer;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = qv::fuzz::ScratchDir() + "suite";
  static const bool made = std::filesystem::create_directory(folder) || true;
  (void)made;
  qv::fuzz::WriteFile(folder + "/Zentha.cfg",
                      std::string_view(reinterpret_cast<const char*>(data), size));
  form->LoadTheme(folder);
  return 0;
}
