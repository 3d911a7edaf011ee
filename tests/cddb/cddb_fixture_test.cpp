// The loopback CDDB fixture speaks the protocol: libcddb, a real client, queries and reads
// through it; the error modes answer as documented.

#include <gtest/gtest.h>

#include "cddb/localcddb.h"
#include "tests/cddb/cddb_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"

namespace qv {
namespace {

using testing::MakeToc;
using testing::ScratchDir;

using testing::HttpGet;

std::string Body(const std::string& answer) {
  const auto at = answer.find("\r\n\r\n");
  return at == std::string::npos ? "" : answer.substr(at + 4);
}

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

  void Control(const std::string& name, const std::string& text) {
    testing::WriteFile(root_.path() / "_control" / name, text);
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

TEST_F(CddbFixtureTest, ErrorSlowAndProxyModes) {
  const std::string cgi = "/~cddb/cddb.cgi?hello=a+b+c+1&proto=5&cmd=";
  const std::string query = "cddb+query+1500e103+3+150+4650+10314+227";
  const struct {
    const char* control;  // file name and its text, or none
    const char* text;
    std::string target;
    std::string expected;  // start of the answer's body or status line
  } cases[] = {
      {nullptr, nullptr, cgi + query, "200 rock 1500e103 One Artist / Album\r\n"},
      {nullptr, nullptr, cgi + "cddb+query+0a0b0c02+2+150+30000+900",
       "202 No match for disc ID 0a0b0c02.\r\n"},
      {"query.1500e103", "noeol", cgi + query, "200 rock 1500e103 One Artist / Album"},
      {"read.1500e103", "409", cgi + "cddb+read+rock+1500e103", "409 "},
      {nullptr, nullptr, cgi + "cddb+read+rock+1500e103",
       "210 rock 1500e103 CD database entry follows (until terminating `.')\r\n# xmcd\r\n"},
      {nullptr, nullptr, cgi + "cddb+read+jazz+1500e103", "401 jazz 1500e103 No such"},
      {nullptr, nullptr, cgi + "cddb+read+..+1500e103", "500 "},
      {nullptr, nullptr, cgi + "cddb+read+%2E%2E%2Fetc+passwd", "500 "},
      {nullptr, nullptr, cgi + "cddb+stat", "500 Unrecognized command."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target + (c.control ? std::string(" with ") + c.text : ""));
    std::filesystem::remove_all(root_.path() / "_control");
    if (c.control) Control(c.control, c.text);
    const std::string answer = HttpGet(server_->port(), c.target);
    ASSERT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer;
    const std::string body = Body(answer);
    EXPECT_EQ(body.substr(0, c.expected.size()), c.expected) << body;
    if (c.control && std::string(c.text) == "noeol") {
      EXPECT_EQ(body.back(), 'm');
    }
  }
  Control("read.1500e103", "http 503");
  EXPECT_EQ(HttpGet(server_->port(), cgi + "cddb+read+rock+1500e103").rfind("HTTP/1.0 503", 0), 0u);
  EXPECT_EQ(HttpGet(server_->port(), "/other").rfind("HTTP/1.0 404", 0), 0u);
}

}  // namespace
}  // namespace qv
