#include "app/cd_events.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/cdrom/media_watcher.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "tests/app/app_test_util.h"

namespace qv {
namespace {

using namespace qv::test;

const std::string kKey =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\n";

class CDEventsTest : public testing::Test {
 protected:
  void SetUp() override { ::setenv("QUORVEL_REGISTRY", dir_.File("registry.reg").c_str(), 1); }
  void TearDown() override { ::unsetenv("QUORVEL_REGISTRY"); }

  void WriteRegistry(const std::string& Values) {
    WriteText(dir_.File("registry.reg"),
              "Windows Registry Editor Version 5.00\n\n" + kKey + Values + "\n");
  }
  std::string Registry() const { return ReadText(dir_.File("registry.reg")); }

  ScratchDir dir_;
  TComponent owner_{nullptr};
};

TEST_F(CDEventsTest, BroadcastsAreDecodedToTheDriveLetter) {
  auto* events = Create<TCDEvents>(&owner_);
  std::vector<std::string> seen;
  events->AfterArrival = [&](TComponent* s, char l) {
    EXPECT_EQ(s, events);
    seen.push_back(std::string("+") + l);
  };
  events->AfterRemove = [&](TComponent*, char l) { seen.push_back(std::string("-") + l); };
  const auto send = [&](uintptr_t event, uint32_t mask, uint16_t flags,
                        uint32_t type = DBT_DEVTYP_VOLUME) {
    DEV_BROADCAST_VOLUME v;
    v.dbcv_hdr.dbch_devicetype = type;
    v.dbcv_unitmask = mask;
    v.dbcv_flags = flags;
    SendMessage(events->Handle(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&v.dbcv_hdr));
  };
  send(DBT_DEVICEARRIVAL, 1u << 4, DBTF_MEDIA);                  // E:
  send(DBT_DEVICEREMOVECOMPLETE, (1u << 3) | (1u << 5), 1);      // lowest bit: D:
  send(DBT_DEVICEARRIVAL, 1u << 4, 0);                           // a new drive, no media
  send(DBT_DEVICEARRIVAL, 0, DBTF_MEDIA);                        // no drive named
  send(DBT_DEVICEARRIVAL, 1, DBTF_MEDIA, 3);                     // not a volume
  send(0x8001, 1u << 4, DBTF_MEDIA);                             // another event
  SendMessage(events->Handle(), WM_USER, DBT_DEVICEARRIVAL, 0);  // another message
  EXPECT_EQ(seen, (std::vector<std::string>{"+E", "-D"}));
  events->Enabled = false;
  send(DBT_DEVICEARRIVAL, 1, DBTF_MEDIA);
  events->Enabled = true;
  events->NotifyMode = TNotifyMode::nmScan;
  send(DBT_DEVICEARRIVAL, 1, DBTF_MEDIA);
  EXPECT_EQ(seen.size(), 2u);
}

// The options are a persistent object: another options object is copied field by field, and
// anything else is refused.
TEST_F(CDEventsTest, OptionsAssignLikeOtherPersistentObjects) {
  WriteRegistry("\"NoDriveTypeAutoRun\"=dword:00000091");
  {
    TCDOptions options;
    TCDOptions source;
    source.Reset = false;
    options.Reset = true;
    ASSERT_TRUE(options.AutoRun());
    // The source has AutoRun off: the copy writes that into the registry.
    source.SetAutoRun(false);
    TPersistent& target = options;
    target.Assign(source);
    EXPECT_FALSE(options.Reset);
    EXPECT_FALSE(options.AutoRun());
    EXPECT_NE(Registry().find("dword:000000b1"), std::string::npos) << Registry();

    class TOther : public TPersistent {
     public:
      [[nodiscard]] std::string ClassName() const override { return "TOther"; }
    } other;
    try {
      target.Assign(other);
      ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Cannot assign a TOther to a TCDOptions");
    }
  }
  // Neither puts the earlier state back now: Reset came over as False.
  EXPECT_NE(Registry().find("dword:000000b1"), std::string::npos) << Registry();
}

}  // namespace
}  // namespace qv
