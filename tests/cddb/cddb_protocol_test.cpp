#include "cddb/cddb_protocol.h"

#include <gtest/gtest.h>

#include "platform/base/exception.h"
#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

using testing::MakeToc;

// The component's protocol side with a scripted HTTP client: the test decides what the
// request that was started brings back.
class ScriptedCddb final : public TCddbProtocol {
 public:
  using TCddbProtocol::InterpretResponseCode;

  std::vector<std::string> urls;
  int statusCode = 200;
  std::string reason = "OK";
  std::string document;
  bool refuseStart = false;

 protected:
  void StartGet(const std::string& url) override {
    if (refuseStart) throw Exception("no connection");
    urls.push_back(url);
  }
  int RequestStatusCode() const override { return statusCode; }
  std::string RequestReasonPhrase() const override { return reason; }
  std::string_view ReceivedDocument() const override { return document; }
  void StartMailStep(TMailStep step) override { mailSteps.push_back(step); }

 public:
  std::vector<TMailStep> mailSteps;
};

class TCddbProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cddb_.ServerAddr = "cddb.example";
    cddb_.ServerPort = "80";
    cddb_.EmailUser = "me@host.example";
    cddb_.ClientName = "Quorvel";
    cddb_.ClientVersion = "1.0";
    cddb_.OnStatusMessage = [this](TComponent*, const std::string& s) {
      statuses_.push_back(s);
      statesAtStatus_.push_back(cddb_.State);
    };
    cddb_.OnMatch = [this](TComponent*, const TMatchArray& m, int& rightOne) {
      ++matchCalls_;
      offered_ = m;
      rightOne = choice_;
    };
    cddb_.AssignTOC(MakeToc({150, 4650, 10314}, 17087));
  }

  // Runs a query whose document is `document`; returns the statuses it produced.
  std::vector<std::string> QueryWith(const std::string& document) {
    statuses_.clear();
    cddb_.document = document;
    EXPECT_EQ(cddb_.Query(), 0);
    cddb_.HttpRequestDone(0);
    return statuses_;
  }
  std::vector<std::string> ReadWith(const std::string& document) {
    cddb_.CDInfo.Category = "rock";
    cddb_.CDInfo.DiscID = "1500e103";
    cddb_.State = cdsMatchFound;
    statuses_.clear();
    cddb_.document = document;
    EXPECT_EQ(cddb_.ReadEntry(), 0);
    cddb_.HttpRequestDone(0);
    return statuses_;
  }

  ScriptedCddb cddb_;
  std::vector<std::string> statuses_;
  std::vector<int> statesAtStatus_;
  int matchCalls_ = 0;
  int choice_ = 0;
  TMatchArray offered_;
};

TEST_F(TCddbProtocolTest, RequestUrlsUseProtocolLevelFiveAndEncodeTheHello) {
  EXPECT_EQ(cddb_.QueryURL(),
            "http://cddb.example:80/~cddb/cddb.cgi?cmd=cddb+query+1500e103+3+150+4650+10314+227"
            "&hello=me+host%2Eexample+Quorvel+1%2E0&proto=5");
  cddb_.EmailUser = "nobody";
  cddb_.CDInfo.Category = "rock";
  EXPECT_EQ(cddb_.ReadURL(),
            "http://cddb.example:80/~cddb/cddb.cgi?cmd=cddb+read+rock+1500e103"
            "&hello=+Quorvel+1%2E0&proto=5");
  EXPECT_EQ(TCddbProtocol::UrlEncode("a b&c=d/\xc3\xa9"), "a+b%26c%3Dd%2F%C3%A9");
  EXPECT_EQ(TCddbProtocol::ReplaceAt("a@b@c"), "a@b c");
  EXPECT_EQ(TCddbProtocol::SplitLines("a\r\nb\rc\nd"),
            (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(TCddbProtocol::SplitLines("a\r\n\r\n."), (std::vector<std::string>{"a", "", "."}));
}

TEST_F(TCddbProtocolTest, QueryRepliesEndInTheirStatesAndTexts) {
  const std::string list = "|OK, receiving matches|Received matches";
  const struct {
    const char* what;
    std::string document;
    int choice;
    int state;
    std::string statuses;  // after "Querying CD", joined with '|'
    std::string category, discid = "1500e103";
  } cases[] = {
      {"one exact match, id from the disc", "200 rock 0a0b0c0d Artist / Album\r\n", 0,
       cdsMatchFound, "Found exact match", "rock"},
      {"exact list, second chosen", "210 x\r\nrock 1500e103 A / B\r\njazz 1500e103 C / D\r\n.\r\n",
       1, cdsMatchFound, "Found exact matches" + list, "jazz"},
      {"inexact list, last line without line end", "211 x\r\nfolk 1500e104 A / B\r\n.", 0,
       cdsMatchFound, "Found inexact matches" + list, "folk", "1500e104"},
      {"no match", "202 No match.\r\n", 0, cdsNoMatch, "No match found", ""},
      {"corrupt", "403 x\r\n", 0, cdsNoMatch, "Database entry is corrupt", ""},
      {"no handshake", "409 x\r\n", 0, cdsNoMatch, "No handshake", ""},
      {"owner declines", "200 rock 1500e103 A / B\r\n", -1, cdsNoMatch, "Found exact match", ""},
      {"owner picks an empty line", "210 x\r\nrock 1500e103 A\r\n.\r\n", 5, cdsNoMatch,
       "Found exact matches" + list, ""},
      {"empty list", "210 x\r\n.\r\n", 0, cdsNoMatch,
       "Found exact matches" + list + "|No match found", ""},
      {"category leaving the database", "200 ../../x 1500e103 A / B\r\n", 0, cdsNoMatch,
       "Found exact match|Invalid server reply", ""},
      {"listed id not an id", "211 x\r\nrock 1500e1\r\n.\r\n", 0, cdsNoMatch,
       "Found inexact matches" + list + "|Invalid server reply", ""},
      {"server error code", "500 x\r\n", 0, cdsNoMatch,
       "Command syntax error, command unknown, command unimplemented|No match found", ""},
      {"an HTML page", "<html>\n<body>Busy</body>\n</html>\n", 0, cdsNoMatch, "No match found", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cddb_.CDInfo.Category.clear();
    cddb_.CDInfo.DiscID = "1500e103";
    choice_ = c.choice;
    std::string joined;
    for (const std::string& s : QueryWith(c.document)) joined += (joined.empty() ? "" : "|") + s;
    EXPECT_EQ(joined, "Querying CD|" + c.statuses);
    EXPECT_EQ(cddb_.State, c.state);
    EXPECT_EQ(cddb_.CDInfo.Category, c.category);
    EXPECT_EQ(cddb_.CDInfo.DiscID, c.discid);
  }
}

TEST_F(TCddbProtocolTest, ReadRepliesFillTheRecordOrFailCleanly) {
  const std::string entry =
      "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t4650\r\n#\t10314\r\n#\r\n"
      "# Disc length: 227 seconds\r\n#\r\n# Revision: 2\r\n#\r\nDISCID=1500e103\r\n"
      "DTITLE=The Quick \r\nDTITLE=Brown Fox / Bj\xf6rk\\nsongs\r\nDYEAR=1999\r\nDGENRE=Rock\r\n"
      "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nEXTD=C:\\\\new\r\nEXTT0=\r\nEXTT1=\r\n"
      "EXTT2=\r\nPLAYORDER=\r\n";
  EXPECT_EQ(ReadWith("210 rock 1500e103 CD database entry follows\r\n" + entry + ".\r\n"),
            (std::vector<std::string>{"Reading CD info", "OK, CDDB database entry follows",
                                      "Entry read"}));
  EXPECT_EQ(cddb_.State, cdsEntryRead);
  EXPECT_EQ(cddb_.CDInfo.Artist, "The Quick Brown Fox");
  EXPECT_EQ(cddb_.CDInfo.Title, "Bj\xc3\xb6rk\nsongs");
  EXPECT_EQ(cddb_.CDInfo.ExtD, "C:\\new");
  EXPECT_EQ(cddb_.CDInfo.TrackTitles[2], "Three");
  EXPECT_EQ(cddb_.CDInfo.Category, "rock");
  EXPECT_EQ(cddb_.CDInfo.Revision, 2);

  const struct {
    const char* what;
    std::string document;
    int state;
    std::string status;
  } failures[] = {
      {"no such entry", "401 rock 1500e103 No such CD entry in database.\r\n", cdsReadFailed,
       "Specified CDDB entry not found"},
      {"corrupt", "403 Database entry is corrupt.\r\n", cdsReadFailed, "Database entry is corrupt"},
      {"a lower-case line", "210 ok\r\n# xmcd\r\nerror\r\nDTITLE=A / B\r\n.\r\n", cdsEntryRead,
       "Entry read"},
      // Garbage, keys out of range and empty titles name nothing: such an entry fails the read
      // rather than being taken (and saved) as the disc's.
      {"garbage after 210", "210 ok\r\n# xmcd\r\nDgarbage\r\nerror\r\n.\r\n", cdsReadFailed,
       TCddbProtocol::kNoTitlesText},
      {"a key out of range", "210 ok\r\nTTITLE999999999999=x\r\n.\r\n", cdsReadFailed,
       TCddbProtocol::kNoTitlesText},
      {"empty titles", "210 ok\r\nDTITLE=\r\nTTITLE0=\r\nEXTD=notes\r\n.\r\n", cdsReadFailed,
       TCddbProtocol::kNoTitlesText},
      {"a page that is no reply", "<html><body>Busy</body></html>", cdsReadFailed,
       "The entry is corrupt"},
      {"server timeout", "530 Server timeout\r\n", cdsReadFailed, "The entry is corrupt"},
      {"cut off", "210 ok\r\n" + entry, cdsReadFailed, "Incomplete server reply"},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.what);
    ReadWith(c.document);
    if (std::string(c.what) == "a lower-case line" || std::string(c.what) == "garbage after 210") {
      // The stray line ends the read as failed; the terminator that follows still counts.
      EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), "Invalid server reply"),
                statuses_.end());
    }
    EXPECT_EQ(cddb_.State, c.state);
    EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), c.status), statuses_.end());
  }

  cddb_.State = cdsNoMatch;
  statuses_.clear();
  EXPECT_EQ(cddb_.ReadEntry(), -1);
  EXPECT_EQ(statuses_.back(), "Can't perform a CDDB READ without a successful CDDB QUERY!");
  cddb_.State = cdsMatchFound;
  cddb_.CDInfo.Category = "rock&cmd=x";
  EXPECT_EQ(cddb_.ReadEntry(), -1);
  EXPECT_EQ(statuses_.back(), "Invalid arguments");
}

TEST_F(TCddbProtocolTest, LineProtocolRepliesByState) {
  const struct {
    int state;
    const char* line;
    int endState;
    const char* status;  // "" for none
    bool handshaken;
  } cases[] = {
      {cdsConnected, "200 cddb.example CDDBP server ready", cdsReadWrite, "OK, read/write allowed",
       false},
      {cdsConnected, "201 cddb.example read only", cdsReadOnly, "OK, read only", false},
      {cdsConnected, "432 No connections allowed", cdsIdle,
       "No connections allowed: permission denied", false},
      {cdsConnected, "433 x", cdsIdle,
       "No connections allowed: X users allowed, Y currently active", false},
      {cdsConnected, "434 x", cdsIdle, "No connections allowed: system load too high", false},
      {cdsHello, "200 hello and welcome", cdsHandshaken, "Handshake successful", true},
      {cdsHello, " 402 Already shook hands ", cdsHandshaken, "Already shook hands", true},
      {cdsHello, "431 no", cdsIdle, "Handshake not successful, closing connection", false},
      {cdsProto, "201 OK, CDDB protocol level now: 5", cdsProtoSet, "OK, protocol level now: 5",
       false},
      {cdsProto, "501 Illegal", cdsConnected, "Illegal protocol level", false},
      {cdsProto, "502 already", cdsProtoSet, "Protocol level already 5", false},
      {cdsQuitting, "230 bye", cdsIdle, "Connection closed", false},
      {cdsQuerying, "202 No match", cdsNoMatch, "No match found", false},
      {cdsHandshaken, "530 timeout", cdsHandshaken, "Server error, server timeout", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    statuses_.clear();
    cddb_.SocketSessionConnected();
    EXPECT_EQ(cddb_.State, cdsConnected);
    cddb_.SocketLine("200 banner");  // the handshake flag starts cleared
    cddb_.State = c.state;
    statuses_.clear();
    cddb_.SocketLine(c.line);
    EXPECT_EQ(cddb_.State, c.endState);
    ASSERT_FALSE(statuses_.empty());
    EXPECT_EQ(statuses_.back(), c.status);
    EXPECT_EQ(cddb_.Handshaken(), c.handshaken);
  }
  statuses_.clear();
  cddb_.State = cdsIdle;
  cddb_.SocketSessionClosed();
  EXPECT_TRUE(statuses_.empty());  // already idle
  cddb_.State = cdsReadWrite;
  cddb_.SocketSessionClosed();
  EXPECT_EQ(cddb_.State, cdsIdle);
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Connection closed"}));
}

}  // namespace
}  // namespace qv
