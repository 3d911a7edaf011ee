// The manager's announcements as controls on a form see them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/classlib/forms.h"
#include "skin/smessages.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

using test::SkinTest;

// One line per engine message a spy acted on: "<name> <message> changing=<0|1> active=<0|1>".
using Log = std::vector<std::string>;

std::string Describe(const std::string& who, const TMessage& m) {
  const char* name = m.Msg == SKM_BEFORECHANGE ? "BEFORECHANGE"
                     : m.Msg == SKM_NEWSKIN    ? "NEWSKIN"
                     : m.Msg == SKM_REPAINT    ? "REPAINT"
                     : m.Msg == SKM_REMOVESKIN ? "REMOVESKIN"
                                               : "OTHER";
  return who + " " + name + " changing=" + std::to_string(SkinChanging) +
         " active=" + std::to_string(SkinData.Active);
}

// A control with a style object's group filter that writes down what reaches it.
class TSpy : public TGraphicControl {
 public:
  TSpy(TComponent* owner, Log* log, std::string name, int group = 0)
      : TGraphicControl(owner), log_(log), name_(std::move(name)), group_(group) {}

 protected:
  void WndProc(TMessage& message) override {
    if (message.Msg == SKM_GETSTYLE) {
      message.WParam = 1;
      message.LParam = reinterpret_cast<LPARAM>(&style_);
      message.Result = 1;
      return;
    }
    if (IsGroupMessage(message.Msg)) {
      if (PassesGroupFilter(message, group_)) {
        log_->push_back(Describe(name_, message));
        EXPECT_EQ(message.LParam, reinterpret_cast<LPARAM>(SkinData.SkinManager));
      }
      return;
    }
    TGraphicControl::WndProc(message);
  }

 private:
  struct TStyle : TPersistent {
  } style_;
  Log* log_;
  std::string name_;
  int group_;
};

class BroadcastTest : public SkinTest {
 protected:
  void SetUp() override {
    SkinTest::SetUp();
    manager->InternalSkins().Add()->SetName("Stored");
    auto previous = form->WindowProc;
    form->WindowProc = [this, previous](TMessage& m) {
      if (IsGroupMessage(m.Msg)) log.push_back(Describe("form", m));
      previous(m);
    };
    ShowForm(form);  // the form's window takes the messages
    ASSERT_TRUE(form->HandleAllocated());
  }
  TSpy* Spy(const std::string& name, int group = 0) {
    auto* spy = Create<TSpy>(form, &log, name, group);
    spy->SetParent(form);
    return spy;
  }
  Log log;
};

TEST_F(BroadcastTest, NewSkinReachesTheFormThenItsControlsInOrder) {
  Spy("a");
  Spy("grouped", 1);  // acts only on messages of group 1
  Spy("b");
  manager->SetSkinName("Stored");
  Log expected;
  for (const char* step : {"BEFORECHANGE changing=1 active=0", "NEWSKIN changing=1 active=1",
                           "REPAINT changing=0 active=1"})
    for (const char* who : {"form", "a", "b"}) expected.push_back(std::string(who) + " " + step);
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(SkinChanging);

  log.clear();
  manager->SetActive(false);
  EXPECT_EQ(log, (Log{"form REMOVESKIN changing=0 active=0", "a REMOVESKIN changing=0 active=0",
                      "b REMOVESKIN changing=0 active=0"}));
}

TEST_F(BroadcastTest, BroadcastStopsAtAComponentBeingDestroyed) {
  Spy("a");
  Create<TSpy>(form, &log, "unparented");  // not ready without a parent: skipped
  TSpy* going = Spy("going");
  Spy("after");
  going->Destroying();
  manager->UpdateSkin();
  EXPECT_EQ(log, (Log{"form BEFORECHANGE changing=1 active=0", "a BEFORECHANGE changing=1 active=0",
                      "form NEWSKIN changing=1 active=1", "a NEWSKIN changing=1 active=1",
                      "form REPAINT changing=0 active=1", "a REPAINT changing=0 active=1"}));
}

TEST_F(BroadcastTest, LoadingHoldsTheRepaintUntilLoaded) {
  Spy("a");
  manager->BeginLoading();
  manager->SetSkinName("Stored");
  EXPECT_EQ(log.size(), 4u);  // BEFORECHANGE and NEWSKIN to the form and "a"
  log.clear();
  manager->Loaded();
  EXPECT_EQ(log, (Log{"form NEWSKIN changing=0 active=1", "a NEWSKIN changing=0 active=1",
                      "form REPAINT changing=0 active=1", "a REPAINT changing=0 active=1"}));
}

TEST_F(BroadcastTest, ASecondManagerWarnsAndLoadsNothing) {
  ::testing::internal::CaptureStderr();
  auto* second = Create<TsSkinManager>(form);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("only one exemplar of TsSkinManager"), std::string::npos) << err;
  EXPECT_EQ(SkinData.SkinManager, manager);
  second->InternalSkins().Add()->SetName("Other");
  second->SetSkinName("Other");
  EXPECT_TRUE(log.empty());
  Free(second);
  EXPECT_EQ(SkinData.SkinManager, manager);
}

TEST_F(BroadcastTest, StylesAndParentBackgrounds) {
  TSpy* spy = Spy("a");
  EXPECT_TRUE(IsStyledControl(spy));
  EXPECT_NE(GetStyleOf(spy), nullptr);
  EXPECT_FALSE(IsStyledControl(form));
  EXPECT_EQ(GetStyleOf(manager), nullptr);

  // A parent that does not answer leaves a zeroed record, whatever an earlier answer was.
  TBitmap stale(1, 1);
  ParentBGInfo = {&stale, 4, 5, true};
  TsBGInfo info{&stale, 1, 1, true};
  AskParentBGInfo(spy, info);
  EXPECT_EQ(info.Bmp, nullptr);
  EXPECT_FALSE(info.Ready);
  // One that answers is copied.
  TBitmap background(10, 10);
  const auto previous = form->WindowProc;
  form->WindowProc = [&background, previous](TMessage& m) {
    if (m.Msg == SKM_GETBGINFO) {
      ParentBGInfo = {&background, 2, 3, true};
      return;
    }
    previous(m);
  };
  AskParentBGInfo(spy, info);
  EXPECT_EQ(info.Bmp, &background);
  EXPECT_EQ(info.OffsetY, 3);
  EXPECT_TRUE(info.Ready);
  form->WindowProc = previous;
}

}  // namespace
}  // namespace qv
