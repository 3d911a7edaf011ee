#include "cddb/localcddb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cddb/localcddb_xmcd.h"
#include "cddb/tblockfile.h"
#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::MakeToc;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// A TOC whose inter-track lengths (first element: the first offset) are `lengths`.
TCDTOC TocFromLengths(const std::vector<int>& lengths, int lastTrack = 20000) {
  std::vector<int> offsets;
  int at = 0;
  for (const int l : lengths) {
    at += l;
    offsets.push_back(at);
  }
  return MakeToc(offsets, at + lastTrack);
}

TCDInfo Disc(const TCDTOC& toc, const std::string& category, const std::string& artist) {
  TCDInfo info;
  info.TOC = toc;
  info.DiscID = CddbDiscId(toc);
  info.Category = category;
  info.Artist = artist;
  info.Title = "Album of " + artist;
  for (int i = 0; i < toc.TrackCount; ++i) info.TrackTitles[i] = "Track " + std::to_string(i + 1);
  return info;
}

TEST(TLocalCDDBCompareTest, ToleranceEdges) {
  // Ten compared lengths: 150 and nine of 20000 frames. Per track 2.05 % of 20000 = 410
  // frames; in total 0.85 % of 180150 = 1531 frames; the first offset gets the 40-frame floor.
  const std::vector<int> base = {150,   20000, 20000, 20000, 20000,
                                 20000, 20000, 20000, 20000, 20000};
  const auto changed = [&](std::vector<std::pair<int, int>> deltas) {
    std::vector<int> lengths = base;
    for (const auto& [index, delta] : deltas) lengths[index] += delta;
    return TocFromLengths(lengths);
  };
  const struct {
    const char* what;
    TCDTOC stored;
    int expected;
  } cases[] = {
      {"identical", changed({}), 1},
      {"only the last track differs", TocFromLengths(base, 99), 1},
      {"one track at its allowance", changed({{3, 410}}), 2},
      {"one track past its allowance", changed({{3, 411}}), 0},
      {"shorter by the allowance", changed({{3, -410}}), 2},
      {"first offset at the floor", changed({{0, 40}}), 2},
      {"first offset past the floor", changed({{0, 41}}), 0},
      {"three tracks within the total", changed({{1, 400}, {2, 400}, {3, 400}}), 2},
      {"four tracks past the total", changed({{1, 400}, {2, 400}, {3, 400}, {4, 400}}), 0},
      {"fewer tracks stored", TocFromLengths({150, 20000, 20000}), 0},
      {"more tracks stored",
       TocFromLengths({150, 20000, 20000, 20000, 20000, 20000, 20000, 20000, 20000, 20000, 20000}),
       0},
  };
  const TCDTOC disc = TocFromLengths(base);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TLocalCDDB::CompareTOC(c.stored, disc), c.expected);
  }
}

class TLocalCDDBLayoutTest : public ::testing::TestWithParam<TLocalCDDBType> {
 protected:
  TLocalCDDB Open() const {
    TLocalCDDB db;
    db.SetLayout(GetParam());
    db.SetRoot(dir_.str());
    return db;
  }
  int Save(const TCDInfo& info) {
    TLocalCDDB db = Open();
    return db.WriteEntry(info);
  }
  int Query(const TCDInfo& disc, TLocalMatchArray& matches) {
    TLocalCDDB db = Open();
    return db.Query(disc, matches);
  }
  void Rebuild() {
    TLocalCDDB db = Open();
    db.BuildIndex();
  }
  // The file that holds the entry of `info` in this layout.
  fs::path StoredIn(const TCDInfo& info) const {
    return GetParam() == lctUNIX ? dir_.Path() / info.Category / info.DiscID
                                 : dir_.Path() / info.Category / "00toFF";
  }
  // The local query for the disc `info` describes.
  int QueryDisc(const TCDInfo& info) {
    TCDInfo disc;
    disc.TOC = info.TOC;
    disc.DiscID = info.DiscID;
    TLocalMatchArray matches;
    return Query(disc, matches);
  }

  ScratchDir dir_;
  const TCDTOC tocA_ = MakeToc({150, 15000, 30000}, 45000);
  const TCDTOC tocB_ = MakeToc({150, 20000, 40000, 60000}, 80000);
};

TEST_P(TLocalCDDBLayoutTest, SavedEntriesAreFoundAndReadBack) {
  const TCDInfo a = Disc(tocA_, "rock", "Alpha");
  const TCDInfo b = Disc(tocB_, "jazz", "Beta");
  EXPECT_GT(Save(a), 0);
  EXPECT_GT(Save(b), 0);
  Rebuild();
  EXPECT_EQ(ReadFile(dir_.Path() / "cat.idx"), "jazz\nrock\n");
  EXPECT_EQ(ReadFile(dir_.Path() / "03.idx"), "L0256" + a.DiscID.substr(0, 2) + "b\n");
  EXPECT_EQ(ReadFile(dir_.Path() / "04.idx"), "L0428" + b.DiscID.substr(0, 2) + "a\n");
  EXPECT_EQ(ReadFile(dir_.Path() / "05.idx"), "");
  // Rebuilt as they were, the indexes are not written again; one that differs is.
  const auto inode = [this](const char* name) {
    struct stat st {};
    return ::stat((dir_.Path() / name).c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const ino_t category = inode("cat.idx"), three = inode("03.idx");
  WriteFile(dir_.Path() / "04.idx", "L0000ffa\n");
  Rebuild();
  EXPECT_EQ(inode("cat.idx"), category);
  EXPECT_EQ(inode("03.idx"), three);
  EXPECT_EQ(ReadFile(dir_.Path() / "04.idx"), "L0428" + b.DiscID.substr(0, 2) + "a\n");

  TLocalMatchArray matches;
  TCDInfo query;
  query.TOC = tocA_;
  query.DiscID = a.DiscID;
  ASSERT_EQ(Query(query, matches), 0);
  EXPECT_EQ(matches[0].Category, "rock");
  EXPECT_EQ(matches[0].DiscID, a.DiscID);
  EXPECT_TRUE(matches[1].DiscID.empty());

  TCDInfo read;
  read.Category = "jazz";
  read.DiscID = b.DiscID;
  read.TOC = tocA_;  // kept: the drive's TOC wins over the stored one
  TLocalCDDB db = Open();
  ASSERT_EQ(db.ReadEntry(read), 0);
  EXPECT_EQ(read.Artist, "Beta");
  EXPECT_EQ(read.TrackTitles[3], "Track 4");
  EXPECT_EQ(read.TOC.TrackCount, 3);
}

TEST_P(TLocalCDDBLayoutTest, HostileNamesNeverLeaveTheRoot) {
  const fs::path root = dir_.Path() / "db";
  fs::create_directories(root);
  TLocalCDDB db;
  db.SetLayout(GetParam());
  db.SetRoot(root.string());
  TCDInfo info = Disc(tocA_, "../escape", "X");
  EXPECT_EQ(db.WriteEntry(info), -1);
  info.Category = "..";
  EXPECT_EQ(db.WriteEntry(info), -1);
  info.Category = "rock";
  info.DiscID = "../../x";
  EXPECT_EQ(db.WriteEntry(info), -1);
  info.DiscID = "1500e103,0a0b0c0d";  // several ids, as some entries carry
  EXPECT_EQ(db.WriteEntry(info), -1);
  EXPECT_EQ(db.ReadEntry(info), -1);
  info.Category = "/etc";
  info.DiscID = "1500e103";
  EXPECT_EQ(db.ReadEntry(info), -1);
  // Nothing was created anywhere.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), {}), 1);
  // (only the log line saying that the category index is missing)
  for (const auto& entry : fs::directory_iterator(root))
    EXPECT_EQ(entry.path().filename(), "index.log");

  // A category index naming a way out: that letter is unusable, the others still work.
  ASSERT_GT(db.WriteEntry(Disc(tocA_, "rock", "Alpha")), 0);
  WriteFile(root / "Cat.idx", "../../etc\nrock\n");
  WriteFile(root / "03.idx", "L0256" + CddbDiscId(tocA_).substr(0, 2) + "a" +
                                 CddbDiscId(tocA_).substr(0, 2) + "b\n");
  db.SetRoot(root.string());
  EXPECT_TRUE(db.Categories()[0].empty());
  TLocalMatchArray matches;
  TCDInfo disc;
  disc.TOC = tocA_;
  disc.DiscID = CddbDiscId(tocA_);
  ASSERT_EQ(db.Query(disc, matches), 0);
  EXPECT_EQ(matches[0].Category, "rock");
}

TEST_P(TLocalCDDBLayoutTest, CorruptIndexesAndEntriesGiveCodesNotCrashes) {
  const TCDInfo a = Disc(tocA_, "rock", "Alpha");
  ASSERT_GT(Save(a), 0);
  Rebuild();
  TCDInfo disc;
  disc.TOC = tocA_;
  disc.DiscID = a.DiscID;
  TLocalMatchArray matches;
  const std::string p = a.DiscID.substr(0, 2);
  const std::string garbage[] = {
      "",
      "L",
      "L02",
      "Lzzzz" + p + "a\n",
      "L0256" + p + "{\n",                       // no such letter
      "L0256" + p + "q\n",                       // a letter without a category
      "L0256" + p,                               // no line end, letter missing
      std::string("L0256\0\0\0\n\xff\xfe", 11),  // binary
      "\n\n\nL0256" + p + "\n",
  };
  for (const std::string& text : garbage) {
    SCOPED_TRACE(text);
    WriteFile(dir_.Path() / "03.idx", text);
    EXPECT_EQ(Query(disc, matches), -1);
  }
  EXPECT_EQ(Query(TCDInfo{}, matches), -1);  // no disc id at all
  std::remove((dir_.Path() / "03.idx").c_str());
  EXPECT_EQ(Query(disc, matches), -1);

  // A stored entry cut short: reading it says corrupt, the query skips it.
  Rebuild();
  const fs::path file =
      GetParam() == lctUNIX ? dir_.Path() / "rock" / a.DiscID : dir_.Path() / "rock" / "00toFF";
  const std::string whole = ReadFile(file);
  WriteFile(file, whole.substr(0, whole.find("# Track frame offsets:") + 30));
  EXPECT_EQ(Query(disc, matches), -1);
  TCDInfo read;
  read.Category = "rock";
  read.DiscID = a.DiscID;
  TLocalCDDB db = Open();
  EXPECT_EQ(db.ReadEntry(read), -4);

  // A stored entry with fewer tracks than its identifier says, at the disc's exact place.
  std::string shorter = whole;
  const auto third = shorter.find("#\t30000\n");
  ASSERT_NE(third, std::string::npos);
  shorter.erase(third, 8);
  WriteFile(file, shorter);
  EXPECT_EQ(Query(disc, matches), -1);
}

TEST_P(TLocalCDDBLayoutTest, MissingCategoryIndexAndOverlongDiscs) {
  TLocalMatchArray matches;
  TCDInfo disc = Disc(tocA_, "", "x");
  {
    TLocalCDDB db = Open();
    EXPECT_FALSE(db.Initialized());
    EXPECT_EQ(db.Query(disc, matches), -2);
  }
  EXPECT_NE(ReadFile(dir_.Path() / "index.log").find("Cannot find the file"), std::string::npos);
  {
    // No folder at all is a database not started yet: nothing to complain about; the
    // rebuild creates it, parents included.
    TLocalCDDB db;
    db.SetLayout(GetParam());
    db.SetRoot((dir_.Path() / "new" / "db").string());
    EXPECT_FALSE(db.Initialized());
    EXPECT_FALSE(fs::exists(dir_.Path() / "new"));
    db.BuildIndex();
    EXPECT_TRUE(db.Initialized());
    EXPECT_EQ(ReadFile(dir_.Path() / "new" / "db" / "cat.idx"), "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() / "new" / "db"), {}), 100);
  }

  // 5401 seconds is past what the index holds: logged in the category folder, not indexed.
  const TCDInfo longDisc = Disc(MakeToc({150, 200000}, 150 + 5401 * 75), "misc", "Long");
  ASSERT_GT(Save(longDisc), 0);
  Rebuild();
  EXPECT_EQ(ReadFile(dir_.Path() / "02.idx"), "");
  const std::string log = ReadFile(dir_.Path() / "misc" / "index.log");
  EXPECT_NE(log.find("Couldn't add entry " + longDisc.DiscID +
                     " into the index. Error message: 'Disc too long to fit any CD "
                     "specifications'. Disc length = 5401 seconds"),
            std::string::npos);
}

// An entry past the bound a server's answer has is skipped and named in the category's log,
// however large the file claims to be (a sparse file of a terabyte costs no disc space).
TEST_P(TLocalCDDBLayoutTest, OversizedEntriesAreSkippedAndLogged) {
  const TCDInfo a = Disc(tocA_, "rock", "Alpha");
  ASSERT_GT(Save(a), 0);
  Rebuild();
  const fs::path file = StoredIn(a);
  if (GetParam() == lctUNIX) {
    ASSERT_EQ(::truncate(file.c_str(), std::int64_t(1) << 40), 0);
  } else {
    // Group files may hold any number of entries; one entry of them may not be that large.
    WriteFile(file, ReadFile(file) + "EXTD=" + std::string(TLocalCDDB::kMaxEntryBytes, 'x'));
  }
  EXPECT_EQ(QueryDisc(a), -1);
  TCDInfo read = a;
  TLocalCDDB db = Open();
  EXPECT_EQ(db.ReadEntry(read), -3);
  EXPECT_NE(ReadFile(dir_.Path() / "rock" / "index.log")
                .find(" is larger than 4194304 bytes; it is skipped"),
            std::string::npos);
}

// A stored file far past any real size (sparse: a terabyte costs no disc space) never ends a
// lookup or a save for want of memory. A group file that large is not indexed, which the
// category's log says; saving into it is refused and logged, and the file is left as it was.
// An entry file that large is read as no entry, and a save replaces it.
TEST_P(TLocalCDDBLayoutTest, HugeStoredFilesAreSkippedNotRead) {
  const TCDInfo a = Disc(tocA_, "rock", "Alpha");
  const TCDInfo b = Disc(tocB_, "rock", "Beta");
  ASSERT_GT(Save(a), 0);
  const fs::path file = StoredIn(a);
  const auto huge = std::uintmax_t(1) << 40;
  ASSERT_EQ(::truncate(file.c_str(), off_t(huge)), 0);
  Rebuild();
  EXPECT_EQ(QueryDisc(a), -1);
  const fs::path log = dir_.Path() / "rock" / "index.log";
  if (GetParam() == lctWIN) {
    EXPECT_EQ(ReadFile(dir_.Path() / "03.idx"), "");  // nothing of the group file indexed
    EXPECT_NE(ReadFile(log).find("Group file " + file.string() +
                                 " is larger than 67108864 bytes; it is skipped"),
              std::string::npos)
        << ReadFile(log);
    EXPECT_LT(Save(b), 0);
    EXPECT_EQ(fs::file_size(file), huge);
    EXPECT_NE(ReadFile(log).find("Group file " + file.string() +
                                 " is larger than 67108864 bytes; the entry " + b.DiscID +
                                 " is not saved into it"),
              std::string::npos)
        << ReadFile(log);
  } else {
    ASSERT_GT(Save(a), 0);
    Rebuild();
    EXPECT_EQ(QueryDisc(a), 0);
    ASSERT_GT(Save(b), 0);
  }
}

// A named pipe where a database file should be is passed over at once: opening it would
// wait for a writer for ever.
TEST_P(TLocalCDDBLayoutTest, NamedPipesInTheDatabaseAreNotWaitedFor) {
  const TCDInfo a = Disc(tocA_, "rock", "Alpha");
  ASSERT_GT(Save(a), 0);
  Rebuild();
  for (const fs::path& pipe : {StoredIn(a), dir_.Path() / "03.idx", dir_.Path() / "cat.idx"}) {
    SCOPED_TRACE(pipe.string());
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_LT(QueryDisc(a), 0);
    Rebuild();  // the indexes replace the pipe; the entry stays one
    fs::remove(pipe);
    ASSERT_GT(Save(a), 0);
    Rebuild();
  }
  // The log as a pipe: its lines go to standard error instead.
  fs::remove(dir_.Path() / "cat.idx");
  fs::remove(dir_.Path() / "index.log");
  ASSERT_EQ(::mkfifo((dir_.Path() / "index.log").c_str(), 0600), 0);
  EXPECT_FALSE(Open().Initialized());
}

// Entries as other programs store them, read through the file: blank lines inside, CR LF or
// CR line ends, continuation lines cut inside a UTF-8 character or an escape, a value in
// another character set beside UTF-8 ones.
TEST_P(TLocalCDDBLayoutTest, EntryFilesOfOtherWritersReadBack) {
  const TCDTOC toc = MakeToc({150, 300}, 750);
  const std::string id = CddbDiscId(toc);
  const std::string entry =
      "# xmcd\n#\n# Track frame offsets:\n#\t150\n#\t300\n#\n# Disc length: 10 seconds\n#\n"
      "# Revision: 3\n#\nDISCID=" +
      id +
      "\nDTITLE=Björk / Début\nDYEAR=1993\nDGENRE=Pop\nTTITLE0=Human\nTTITLE1=Crying\n"
      "EXTD=\nEXTT0=\nEXTT1=\nPLAYORDER=\n";
  const std::vector<std::pair<std::string, std::string>> blankLines = {
      {"#\nDISCID", "#\n\n\nDISCID"}, {"TTITLE1", "\nTTITLE1"}, {"PLAYORDER=\n", "PLAYORDER=\n\n"}};
  const struct {
    const char* what;
    std::string eol;
    std::vector<std::pair<std::string, std::string>> edits;
    std::string artist, genre, track, extd;
  } cases[] = {
      {"LF, blank lines", "\n", blankLines, "Björk", "Pop", "Crying", ""},
      {"CR LF, blank lines", "\r\n", blankLines, "Björk", "Pop", "Crying", ""},
      {"CR, blank lines", "\r", blankLines, "Björk", "Pop", "Crying", ""},
      {"cut inside characters",
       "\r\n",
       {{"DTITLE=Bj\xC3\xB6rk", "DTITLE=Bj\xC3\nDTITLE=\xB6rk"},
        {"TTITLE1=Crying", "TTITLE1=Caf\xC3\nTTITLE1=\xA9 \xE2\x82\nTTITLE1=\xAC"}},
       "Björk",
       "Pop",
       "Café €",
       ""},
      {"one value in Windows-1252",
       "\n",
       {{"DGENRE=Pop", "DGENRE=Chanson fran\xE7\x61ise \x80"}},
       "Björk",
       "Chanson française €",
       "Crying",
       ""},
      {"cut inside an escape",
       "\r\n",
       {{"EXTD=\n", "EXTD=one\\\nEXTD=ntwo \xC3\nEXTD=\xA9\n"}},
       "Björk",
       "Pop",
       "Crying",
       "one\ntwo é"},
  };
  for (const auto& c : cases) {
    if (GetParam() == lctWIN && c.eol == "\r")
      continue;  // group files are read by lines ending in LF
    SCOPED_TRACE(c.what);
    std::string text = entry;
    for (const auto& [from, to] : c.edits) {
      const auto at = text.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      text.replace(at, from.size(), to);
    }
    if (GetParam() == lctWIN) text = "#FILENAME=" + id + "\n" + text;
    std::string stored;
    for (const char ch : text) stored += ch == '\n' ? c.eol : std::string(1, ch);
    WriteFile(dir_.Path() / "rock" / (GetParam() == lctUNIX ? id : "00toFF"), stored);
    TCDInfo read;
    read.Category = "rock";
    read.DiscID = id;
    TLocalCDDB db = Open();
    ASSERT_EQ(db.ReadEntry(read), 0);
    EXPECT_EQ(read.Artist, c.artist);
    EXPECT_EQ(read.Title, "Début");
    EXPECT_EQ(read.Year, "1993");
    EXPECT_EQ(read.Genre, c.genre);
    EXPECT_EQ(read.TrackTitles[0], "Human");
    EXPECT_EQ(read.TrackTitles[1], c.track);
    EXPECT_EQ(read.ExtD, c.extd);
    EXPECT_EQ(read.Revision, 3);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, TLocalCDDBLayoutTest, ::testing::Values(lctUNIX, lctWIN),
                         [](const auto& info) {
                           return std::string(info.param == lctUNIX ? "Unix" : "Windows");
                         });

}  // namespace
}  // namespace qv
