#include "app/one_instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

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

TEST_F(OneInstanceTest, ASecondCopyEndsAndRaisesTheFirst) {
  Window first("Form1");
  first.guard->Loaded();
  EXPECT_TRUE(first.guard->FirstInstance());
  EXPECT_GE(first.guard->ListenFd(), 0);
  {
    auto second = std::make_unique<Window>("Form1");
    second->guard->Loaded();
    EXPECT_FALSE(second->guard->FirstInstance());
    EXPECT_EQ(second->exists, 1);
    EXPECT_EQ(second->terminated, 1);
    EXPECT_TRUE(second->warnings.empty());
  }  // its destruction asks the first copy to come to the front
  ServeUntilRaised(first);
  EXPECT_EQ(first.raised, 1);
  EXPECT_EQ(first.terminated, 0);
}

TEST_F(OneInstanceTest, ARequestForAnotherTitleRaisesNothing) {
  Window first("Form1");
  first.guard->Loaded();
  {
    Window second("Form1");
    second.title = "Something else";
    second.guard->Loaded();
  }
  {
    Window third("Form1");
    third.title = "";  // no title saved: nothing to look for
    third.guard->Loaded();
  }
  for (int i = 0; i < 5; ++i) {
    pollfd p{first.guard->ListenFd(), POLLIN, 0};
    if (::poll(&p, 1, 200) > 0) first.guard->ServeRaiseRequests();
  }
  EXPECT_EQ(first.raised, 0);
}

TEST_F(OneInstanceTest, InformUserAndTerminateOptions) {
  Window first("Form1");
  first.guard->Loaded();
  Window informed("Form1");
  informed.guard->InformUser = true;
  try {
    informed.guard->Loaded();
    ADD_FAILURE() << "no exception";
  } catch (const EOneInstance& e) {
    EXPECT_STREQ(e.what(),
                 "Another instance of this application appears to be running. You must \r\n"
                 "close any previous instances before continuing. ");
  }
  EXPECT_EQ(informed.terminated, 0);
  Window warned("Form1");
  warned.guard->Terminate = false;
  warned.guard->InformUser = true;
  warned.guard->Loaded();
  EXPECT_EQ(warned.terminated, 0);
  EXPECT_EQ(warned.warnings, std::vector<std::string>{
                                 "Another instance of this application appears to be running!"});
}

TEST_F(OneInstanceTest, CopiesUnderOtherNamesRunSideBySideAndTheLockGoesWithItsHolder) {
  auto first = std::make_unique<Window>("Form1", "quorvel");
  first->guard->Loaded();
  Window other("Form1", "quorvel-copy");
  other.guard->Loaded();
  EXPECT_TRUE(other.guard->FirstInstance());
  first.reset();
  Window next("Form1", "quorvel");
  next.guard->Loaded();
  EXPECT_TRUE(next.guard->FirstInstance());
}

TEST_F(OneInstanceTest, OneGuardPerWindow) {
  TComponent owner(nullptr);
  owner.SetName("Form1");
  Create<TOneInstance>(&owner);
  try {
    Create<TOneInstance>(&owner);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "OneInstance component duplicated in Form1");
  }
  EXPECT_EQ(owner.ComponentCount(), 1);
}

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
