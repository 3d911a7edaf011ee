// The main window in the test's own process: a scratch folder as the current folder, a
// generated disc image as the drive, an INI file, and the window made as the program makes
// it, on the display back end the test chooses.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/unit1.h"
#include "platform/classlib/forms.h"
#include "platform/msg/pump.h"
#include "platform/ui/window_system.h"
#include "tests/app/app_test_util.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv::test {

// A lookup without a local entry asks a closed port and fails at once.
inline constexpr const char* kNoServer = "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=1\n";

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    old_ = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
    ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
    ::setenv("QUORVEL_CDROM", dir_.File("disc.cue").c_str(), 1);
    ::setenv("QUORVEL_INI", dir_.File("Quorvel.ini").c_str(), 1);
    runtime_.Set(dir_.Path());
    DiscSpec spec;
    spec.AudioTracks = {{100}, {80}};
    WriteDiscImage(spec, dir_.File("disc.cue"));
    WriteText(dir_.File("Quorvel.ini"), kNoServer);
  }
  void TearDown() override {
    Close();
    (void)::chdir(old_.c_str());
  }

  // Makes the window on the running window system and waits until its first lookup ended.
  void Open(const std::vector<std::string>& Params) {
    TForm1::CommandLine = Params;
    TForm1::StatusEcho = nullptr;
    Application()->SetTitle("Quorvel");
    Application()->CreateForm(form_);
    ASSERT_NE(form_, nullptr);
    ASSERT_TRUE(Pump([this] { return !form_->LookupRunning(); }));
    ProcessMessages();
  }
  void Close() {
    DestroyApplication();
    StopWindowSystem();
    form_ = nullptr;
    DiscardMessages();
  }
  // A window that closed itself leaves its quit pending on this thread; the next test's
  // loops would end at once. What is left in the queue belongs to no window any more.
  static void DiscardMessages() {
    MSG msg;
    while (PeekMessage(msg, PM_REMOVE)) {
    }
    (void)Terminated();
  }
  // Serves the queue until `Done`; false when the deadline passed or the loop was told to
  // quit first.
  template <class F>
  bool Pump(F Done) {
    return PumpUntil(Done, std::chrono::steady_clock::now() + std::chrono::seconds(60)) ==
           PumpResult::Done;
  }

  ScratchDir dir_;
  RuntimeFolderScope runtime_;
  std::string old_;
  TForm1* form_ = nullptr;
};

}  // namespace qv::test
