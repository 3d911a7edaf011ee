#include "app/one_instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/app/app_test_util.h"

namespace qv {
namespace {

using namespace qv::test;

class OneInstanceTest : public testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir_.Path().c_str(), 0700);
    runtime_.Set(dir_.Path());
  }

  // A window owning a guard set up as the main window stores it.
  struct Window {
    explicit Window(const std::string& Name, const std::string& Mutex = "quorvel") {
      owner.SetName(Name);
      guard = Create<TOneInstance>(&owner);
      guard->MutexName = Mutex;
      guard->RaisePriorInstance = true;
      guard->ApplicationTitle = [this] { return title; };
      guard->TerminateApplication = [this] { ++terminated; };
      guard->ShowWarning = [this](const std::string& t) { warnings.push_back(t); };
      guard->ApplicationExists = [this](TComponent*) { ++exists; };
      guard->OnRaiseRequest = [this] { ++raised; };
    }
    TComponent owner{nullptr};
    TOneInstance* guard = nullptr;
    std::string title = "Quorvel";
    int terminated = 0, exists = 0, raised = 0;
    std::vector<std::string> warnings;
  };

  // Serves the first copy's socket until a request came or a generous deadline passed.
  static void ServeUntilRaised(Window& W) {
    for (int i = 0; i < 100 && W.raised == 0; ++i) {
      pollfd p{W.guard->ListenFd(), POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) W.guard->ServeRaiseRequests();
    }
  }

  ScratchDir dir_;
  RuntimeFolderScope runtime_;
};

TEST_F(OneInstanceTest, ALockFolderOthersCanWriteIsRefused) {
  ASSERT_EQ(::mkdir(dir_.File("quorvel").c_str(), 0777), 0);
  ::chmod(dir_.File("quorvel").c_str(), 0777);
  Window w("Form1");
  try {
    w.guard->Loaded();
    ADD_FAILURE() << "no exception";
  } catch (const EOneInstance& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to verify that Mutex already exists! An "
                                          "Exception was raised with the message : ",
                                          0),
              0u);
  }
  EXPECT_FALSE(w.guard->FirstInstance());
}

// The first copy's lock that will not close at the end (here: its descriptor was closed
// behind its back) is said on stderr; a destructor cannot raise.
TEST_F(OneInstanceTest, ALockThatWillNotCloseIsSaid) {
  auto w = std::make_unique<Window>("Form1");
  w->guard->Loaded();
  ASSERT_TRUE(w->guard->FirstInstance());
  int lockFd = -1;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target == w->guard->LockFile())
      lockFd = std::stoi(entry.path().filename().string());
  }
  ASSERT_GE(lockFd, 0);
  // Capturing opens a file: before the close, so it cannot be given the lock's number.
  testing::internal::CaptureStderr();
  EXPECT_EQ(::close(lockFd), 0);
  w.reset();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("Unable to close Mutex! An Exception was raised with the message : ", 0), 0u)
      << said;
}

// A test program's locks are never the user's: it has a runtime folder of its own in the
// temporary folder, also where no fixture sets one, which every program it starts inherits.
TEST(TestProgramTest, LocksLiveInThePrivateRuntimeFolder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_NE(runtime, nullptr);
  const std::string own = std::filesystem::temp_directory_path().string() + "/qvtest-run-";
  EXPECT_EQ(std::string(runtime).rfind(own, 0), 0u) << runtime;
  EXPECT_EQ(TOneInstance::LockFolder(), std::string(runtime) + "/quorvel/");
}

}  // namespace
}  // namespace qv
