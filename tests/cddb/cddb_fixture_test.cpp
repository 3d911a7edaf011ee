// The loopback CDDB fixture speaks the protocol: libcddb, a real client, queries and reads
// through it. Its error modes are exercised through the component.

#include <gtest/gtest.h>

#include "cddb/localcddb.h"
#include "tests/cddb/cddb_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"

namespace qv {
namespace {

using testing::MakeToc;
using testing::ScratchDir;

class CddbFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TLocalCDDB db;
    db.SetRoot(root_.str());
    const auto save = [&](const TCDTOC& toc, const std::string& category,
                          const std::string& artist) {
      TCDInfo info;
      info.TOC = toc;
      info.DiscID = CddbDiscId(toc);
      info.Category = category;
      info.Artist = artist;
      info.Title = "Album";
      info.Year = "1998";
      info.Genre = "Test";
      for (int i = 0; i < toc.TrackCount; ++i) info.TrackTitles[i] = "T" + std::to_string(i + 1);
      ASSERT_GT(db.WriteEntry(info), 0);
    };
    save(tocOne_, "rock", "One Artist");
    save(tocTwo_, "rock", "Two Rock");
    save(tocTwo_, "jazz", "Two Jazz");
    save(tocNear_, "folk", "Near Artist");
    server_ = std::make_unique<testing::CddbFixtureServer>(
        std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", root_.path().string());
  }

  std::string Peer(const TCDTOC& toc, int* status) const {
    std::string command = std::string(QV_BINARY_DIR) + "/bin/cddb_libcddb_peer http " +
                          std::to_string(server_->port()) + " " +
                          std::to_string(toc.LeadOut.Minute * 60 + toc.LeadOut.Second);
    for (int i = 0; i < toc.TrackCount; ++i)
      command += " " + std::to_string(FrameOffset(toc.Tracks[i]));
    return testing::RunCommand(command, status);
  }

  ScratchDir root_;
  const TCDTOC tocOne_ = MakeToc({150, 4650, 10314}, 17087);
  const TCDTOC tocTwo_ = MakeToc({150, 9000}, 22500);
  const TCDTOC tocNear_ = MakeToc({150, 20000, 40000, 60000}, 80000);
  std::unique_ptr<testing::CddbFixtureServer> server_;
};

TEST_F(CddbFixtureTest, LibcddbQueriesAndReadsThroughIt) {
  int status = -1;
  std::string out = Peer(tocOne_, &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("matches=1\nmatch=rock 1500e103\n"), std::string::npos) << out;
  EXPECT_NE(out.find("artist=One Artist\ntitle=Album\nyear=1998\ngenre=Test\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("track=3|T3|10314"), std::string::npos) << out;

  out = Peer(tocTwo_, &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("matches=2\nmatch=jazz 05012a02\nmatch=rock 05012a02\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("artist=Two Jazz"), std::string::npos) << out;

  // A disc a few frames off: an inexact match, read as the stored entry.
  out = Peer(MakeToc({150, 20030, 40060, 60090}, 80000 + 150), &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("matches=1\nmatch=folk " + CddbDiscId(tocNear_)), std::string::npos) << out;
  EXPECT_NE(out.find("artist=Near Artist"), std::string::npos) << out;

  out = Peer(MakeToc({150, 30000}, 70000), &status);
  EXPECT_NE(out.find("matches=0"), std::string::npos) << out;
}

}  // namespace
}  // namespace qv
