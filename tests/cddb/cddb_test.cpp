// The whole component: the TOC of a disc image, a look-up over HTTP against the loopback
// CDDB server (directly and through it as a proxy), failures, a slow server and Abort.
#include "cddb/cddb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "cddb/localcddb.h"
#include "platform/msg/pump.h"
#include "tests/cddb/cddb_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

class TCddbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto cue = images_.Path() / "disc.cue";
    DiscSpec spec;
    for (const std::uint32_t sectors : {900u, 1700u, 600u}) spec.AudioTracks.push_back({sectors});
    disc_ = WriteDiscImage(spec, cue);
    if (const char* old = std::getenv("QUORVEL_CDROM")) oldDrives_ = old;
    ::setenv("QUORVEL_CDROM", cue.string().c_str(), 1);

    char id[9];
    std::snprintf(id, sizeof id, "%08x", CddbDiscId(disc_));
    discId_ = id;
    TCDInfo stored;
    stored.TOC.TrackCount = static_cast<std::uint8_t>(disc_.Tracks.size());
    for (std::size_t t = 0; t < disc_.Tracks.size(); ++t) {
      const std::uint32_t f = disc_.Tracks[t].StartLsn + kCdLeadInFrames;
      stored.TOC.Tracks[t] = {std::uint8_t(f / 4500), std::uint8_t(f / 75 % 60),
                              std::uint8_t(f % 75), true};
    }
    const std::uint32_t lead = disc_.LeadOutLsn + kCdLeadInFrames;
    stored.TOC.LeadOut = {std::uint8_t(lead / 4500), std::uint8_t(lead / 75 % 60), 0, false};
    stored.DiscID = discId_;
    stored.Category = "rock";
    // Escapes, a title cut over lines, and text sent as Latin-1 at level 5.
    stored.Artist = "Bj\xc3\xb6rk \\ Name";
    stored.Title = std::string(300, 'T') + " / part";
    stored.Year = "2024";
    stored.Genre = "Test";
    stored.ExtD = "line one\nline\ttwo";
    stored.TrackTitles = {"One", "Two \\n not a break", "Three"};
    stored.TrackExt[1] = "ext two";
    TLocalCDDB db;
    db.SetRoot(root_.str());
    ASSERT_GT(db.WriteEntry(stored), 0);
    stored_ = stored;
    server_ = std::make_unique<testing::CddbFixtureServer>(
        std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", root_.Path().string());

    cddb_ = std::make_unique<TCddb>(nullptr);
    cddb_->ServerAddr = "127.0.0.1";
    cddb_->ServerPort = std::to_string(server_->port());
    cddb_->EmailUser = "tester@localhost";
    cddb_->OnStatusMessage = [this](TComponent*, const std::string& s) { statuses_.push_back(s); };
  }
  void TearDown() override {
    cddb_.reset();
    if (oldDrives_.empty())
      ::unsetenv("QUORVEL_CDROM");
    else
      ::setenv("QUORVEL_CDROM", oldDrives_.c_str(), 1);
  }

  // Serves the message queue until the running request has ended.
  void WaitForEnd() {
    const auto result =
        PumpUntil([this] { return cddb_->State != cdsQuerying && cddb_->State != cdsReading; },
                  std::chrono::steady_clock::now() + 60s);
    ASSERT_EQ(result, PumpResult::Done);
  }

  testing::ScratchDir images_, root_;
  CdToc disc_;
  std::string discId_, oldDrives_;
  TCDInfo stored_;
  std::unique_ptr<testing::CddbFixtureServer> server_;
  std::unique_ptr<TCddb> cddb_;
  std::vector<std::string> statuses_;
};

TEST_F(TCddbTest, LookUpOfTheDiscInTheDrive) {
  EXPECT_TRUE(cddb_->GetCDInfo()->DiscID.empty());  // computed by the first refresh
  cddb_->SetNoteToUser(std::string(80, 'n'));
  EXPECT_EQ(cddb_->NoteToUser(), std::string(70, 'n'));
  EXPECT_EQ(cddb_->MailServerPort, "smtp");  // the SMTP client's own port
  ASSERT_TRUE(cddb_->RefreshTOC());
  EXPECT_EQ(cddb_->GetCDInfo()->DiscID, discId_);
  EXPECT_FALSE(cddb_->SelectDrive(1));  // no such drive: nothing changes
  EXPECT_EQ(cddb_->GetCDInfo()->DiscID, discId_);

  // The same disc in a second category: the owner picks the second line (jazz, rock).
  TCDInfo twin = stored_;
  twin.Category = "jazz";
  TLocalCDDB db;
  db.SetRoot(root_.str());
  ASSERT_GT(db.WriteEntry(twin), 0);
  int offered = 0;
  cddb_->OnMatch = [&](TComponent*, const TMatchArray&, int& rightOne) {
    ++offered;
    rightOne = 1;
  };
  ASSERT_EQ(cddb_->Query(), 0);
  WaitForEnd();
  ASSERT_EQ(cddb_->State, cdsMatchFound);
  EXPECT_EQ(offered, 1);
  ASSERT_EQ(cddb_->ReadEntry(), 0);
  WaitForEnd();
  ASSERT_EQ(cddb_->State, cdsEntryRead);
  const TCDInfo& info = *cddb_->GetCDInfo();
  testing::ExpectSameTexts(info, stored_);
  EXPECT_EQ(info.Category, "rock");
  EXPECT_EQ(info.DiscID, discId_);  // from the drive again after the parse
  EXPECT_EQ(statuses_.back(), "Entry read");
}

TEST_F(TCddbTest, ServerAnswersEndInTheirStatesAndTexts) {
  ASSERT_TRUE(cddb_->RefreshTOC());
  const struct {
    const char* control;
    int state;
    std::string status;
  } cases[] = {
      {"slow 1", cdsMatchFound, "Found exact match"},
      {"noeol", cdsMatchFound, "Found exact match"},
      {"409", cdsNoMatch, "No handshake"},
      {"html", cdsNoMatch, "No match found"},
      {"http 503", cdsHttpError,
       "CDDB Component Internal Error: THttpCli.GetAsync failed because of error "
       "\"Service Unavailable\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    testing::WriteFile(root_.Path() / "_control" / ("query." + discId_), c.control);
    statuses_.clear();
    ASSERT_EQ(cddb_->Query(), 0);
    WaitForEnd();
    EXPECT_EQ(cddb_->State, c.state);
    EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), c.status), statuses_.end());
  }
  // A read the server refuses.
  std::remove((root_.Path() / "_control" / ("query." + discId_)).c_str());
  ASSERT_EQ(cddb_->Query(), 0);
  WaitForEnd();
  testing::WriteFile(root_.Path() / "_control" / ("read." + discId_), "401");
  ASSERT_EQ(cddb_->ReadEntry(), 0);
  WaitForEnd();
  EXPECT_EQ(cddb_->State, cdsReadFailed);
  EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), "Specified CDDB entry not found"),
            statuses_.end());
}

// An answer past the bound ends the request as a failure that says why; nothing of it is
// parsed (here a match line and then 8 MiB more).
TEST_F(TCddbTest, OversizedAnswerEndsAsAFailure) {
  ASSERT_TRUE(cddb_->RefreshTOC());
  testing::WriteFile(root_.Path() / "_control" / ("query." + discId_), "big 8");
  int offered = 0;
  cddb_->OnMatch = [&](TComponent*, const TMatchArray&, int&) { ++offered; };
  ASSERT_EQ(cddb_->Query(), 0);
  WaitForEnd();
  EXPECT_EQ(cddb_->State, cdsHttpError);
  EXPECT_EQ(offered, 0);
  EXPECT_EQ(statuses_.back(),
            "CDDB Component Internal Error: THttpCli.GetAsync failed because of error \"Answer "
            "larger than " +
                std::to_string(TCddb::kMaxAnswerBytes) + " bytes\"");
}

// A read answer that names neither the disc nor a track fails the read, whatever else it
// holds; one with a title is read.
TEST_F(TCddbTest, ReadAnswersWithoutTitlesFail) {
  ASSERT_TRUE(cddb_->RefreshTOC());
  const struct {
    std::string answer;
    int state;
    std::string status;
  } cases[] = {
      {"210 rock x follows\nDgarbage\nTgarbage\n.", cdsReadFailed, TCddb::kNoTitlesText},
      {"210 rock x follows\nTTITLE999999999999=x\n.", cdsReadFailed, TCddb::kNoTitlesText},
      {"210 rock x follows\nDTITLE=\nTTITLE0= \n.", cdsReadFailed, TCddb::kNoTitlesText},
      {"210 rock x follows\nDTITLE=\nTTITLE1=Two\n.", cdsEntryRead, "Entry read"},
      {"210 rock x follows\nDTITLE=Band / Album\n.", cdsEntryRead, "Entry read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_EQ(cddb_->Query(), 0);
    WaitForEnd();
    ASSERT_EQ(cddb_->State, cdsMatchFound);
    testing::WriteFile(root_.Path() / "_control" / ("read." + discId_), "raw\n" + c.answer);
    statuses_.clear();
    ASSERT_EQ(cddb_->ReadEntry(), 0);
    WaitForEnd();
    EXPECT_EQ(cddb_->State, c.state);
    EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), c.status), statuses_.end());
  }
}

TEST_F(TCddbTest, AbortEndsASlowLookUp) {
  ASSERT_TRUE(cddb_->RefreshTOC());
  testing::WriteFile(root_.Path() / "_control" / ("query." + discId_), "slow 60");
  ASSERT_EQ(cddb_->Query(), 0);
  cddb_->Abort();
  WaitForEnd();
  EXPECT_EQ(cddb_->State, cdsHttpError);

  // After a finished look-up nothing runs: Abort leaves the result alone and the old
  // document is not parsed again (no second match offered).
  std::remove((root_.Path() / "_control" / ("query." + discId_)).c_str());
  int offered = 0;
  cddb_->OnMatch = [&](TComponent*, const TMatchArray&, int& rightOne) {
    ++offered;
    rightOne = 0;
  };
  ASSERT_EQ(cddb_->Query(), 0);
  WaitForEnd();
  ASSERT_EQ(cddb_->State, cdsMatchFound);
  cddb_->Abort();
  ProcessMessages();
  EXPECT_EQ(cddb_->State, cdsMatchFound);
  EXPECT_EQ(offered, 1);

  // A look-up that waits with no request under way still ends.
  cddb_->State = cdsReading;
  cddb_->Abort();
  EXPECT_EQ(cddb_->State, cdsHttpError);
}

}  // namespace
}  // namespace qv
