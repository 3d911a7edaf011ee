#include "tools/mkdisc/disc_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/disc_image.h"
#include "tests/platform/cdrom/cdrom_test_support.h"

namespace qv {
namespace {

using qv::testing::RunCommand;
using qv::testing::TempDir;

struct ToolOutput {
  std::string Id;
  std::vector<std::uint32_t> Offsets;
  std::uint32_t Seconds = 0;
  std::uint32_t LeadOutLsn = 0;
};

ToolOutput ParseToolOutput(const std::string& text) {
  ToolOutput out;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  std::istringstream first(line);
  std::size_t count = 0;
  first >> out.Id >> count;
  out.Offsets.resize(count);
  for (auto& o : out.Offsets) first >> o;
  first >> out.Seconds;
  while (std::getline(lines, line))
    if (line.rfind("LEADOUT", 0) == 0)
      std::istringstream(line.substr(line.find("LSN") + 3)) >> out.LeadOutLsn;
  return out;
}

std::string LibdiscidId(const ToolOutput& disc) {
  std::string offsets;
  for (const std::uint32_t o : disc.Offsets)
    offsets += (offsets.empty() ? "" : ",") + std::to_string(o);
  const auto r = RunCommand("/usr/bin/python3 -c 'import libdiscid; print(libdiscid.put(1," +
                            std::to_string(disc.Offsets.size()) + "," +
                            std::to_string(disc.LeadOutLsn + kCdLeadInFrames) + ",[" + offsets +
                            "]).freedb_id)'");
  EXPECT_EQ(r.ExitCode, 0) << "python3-libdiscid missing?";
  return r.Output.substr(0, r.Output.find('\n'));
}

TEST(MkDiscTest, DiscIdAgreesWithLibdiscid) {
  TempDir dir;
  std::string many;
  for (int i = 0; i < 99; ++i) many += " " + std::to_string(4 + i % 7);
  const struct {
    const char* name;
    std::string args;
  } discs[] = {
      {"three tracks", "60 120.5 45"},
      {"one short track", "1f"},
      {"CD-Extra", "--data 30 --pre 1 --copy 2 200 300 400"},
      {"CD-Extra without gap", "--data 10 --gap 0 20 20"},
      {"99 tracks", many},
      {"long", "1800 1800 1500"},
  };
  for (const auto& d : discs) {
    SCOPED_TRACE(d.name);
    const std::string cue = dir / "disc.cue";
    const auto r = RunCommand(qv::testing::ToolPath("qv-mkdisc") + " '" + cue + "' " + d.args);
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const ToolOutput out = ParseToolOutput(r.Output);
    EXPECT_EQ(out.Id, LibdiscidId(out));
    // The printed table is the one the image has.
    const CdToc toc = DiscImage::Open(cue)->Toc();
    ASSERT_EQ(out.Offsets.size(), toc.Tracks.size());
    for (std::size_t i = 0; i < toc.Tracks.size(); ++i)
      EXPECT_EQ(out.Offsets[i], toc.Tracks[i].StartLsn + kCdLeadInFrames);
    EXPECT_EQ(out.LeadOutLsn, toc.LeadOutLsn);
    EXPECT_EQ(out.Seconds, (toc.LeadOutLsn + kCdLeadInFrames) / 75);
    char id[16];
    std::snprintf(id, sizeof id, "%08x", CddbDiscId(toc));
    EXPECT_EQ(out.Id, id);
  }
}

TEST(MkDiscTest, FlagsAndTheDataTrackComeThroughTheProgram) {
  TempDir dir;
  const std::string cue = dir / "x.cue";
  const auto r = RunCommand(qv::testing::ToolPath("qv-mkdisc") +
                            " --pre 1,3 --copy 2,3 --data 2 '" + cue + "' 1 1 1");
  ASSERT_EQ(r.ExitCode, 0);
  const CdToc toc = DiscImage::Open(cue)->Toc();
  ASSERT_EQ(toc.Tracks.size(), 4u);
  EXPECT_EQ(toc.Tracks[0].Control, kCdControlPreEmphasis);
  EXPECT_EQ(toc.Tracks[1].Control, kCdControlCopyPermitted);
  EXPECT_EQ(toc.Tracks[2].Control, kCdControlPreEmphasis | kCdControlCopyPermitted);
  EXPECT_EQ(toc.Tracks[3].Control, kCdControlData);
  EXPECT_EQ(toc.Tracks[3].StartLsn, 225u + kSessionGapSectors);
  EXPECT_EQ(toc.LeadOutLsn, 225u + kSessionGapSectors + 150);
}

TEST(MkDiscTest, ProgramRefusesBadArgumentsAndLeavesNothingBehind) {
  TempDir dir;
  const std::string tool = qv::testing::ToolPath("qv-mkdisc");
  const struct {
    const char* name;
    std::string args;
    int exit;
  } cases[] = {
      {"no tracks", "out.cue", 2},
      {"bad length", "out.cue 1x", 1},
      {"zero length", "out.cue 0", 1},
      {"flag on a missing track", "--pre 4 out.cue 1 1", 1},
      {"bad track list", "--copy 1,,2 out.cue 1 1", 1},
      {"100 tracks",
       "out.cue" +
           [] {
             std::string s;
             for (int i = 0; i < 100; ++i) s += " 1f";
             return s;
           }(),
       1},
      {"longer than a CD", "out.cue 3000 3000 3000", 1},
      {"unknown option", "--bogus out.cue 1", 1},
      {"missing value", "out.cue 1 --data", 1},
      {"folder missing", "nowhere/out.cue 1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunCommand("cd '" + dir.path() + "' && " + tool + " " + c.args + " 2>/dev/null");
    EXPECT_EQ(r.ExitCode, c.exit);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
}

TEST(MkDiscTest, AFailedWriteKeepsTheOldImageAndNoTemporaryFiles) {
  TempDir dir;
  const std::string cue = dir / "disc.cue";
  DiscSpec spec;
  spec.AudioTracks = {{75}};
  (void)WriteDiscImage(spec, cue);
  const auto before = qv::testing::ReadBytes(dir / "disc.bin");
  // A sheet or BIN path that is a folder: refused before anything is written.
  std::filesystem::create_directory(dir / "blocked.cue");
  std::filesystem::create_directory(dir / "blocked2.bin");
  EXPECT_THROW((void)WriteDiscImage(spec, dir / "blocked.cue"), ECdromError);
  EXPECT_THROW((void)WriteDiscImage(spec, dir / "blocked2.cue"), ECdromError);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"blocked.cue", "blocked2.bin", "disc.bin", "disc.cue"}));
  EXPECT_EQ(qv::testing::ReadBytes(dir / "disc.bin"), before);
}

TEST(MkDiscTest, AudioIsDeterministicAndNoTwoSectorsAlike) {
  std::vector<std::uint8_t> a(kCdSectorBytes), b(kCdSectorBytes);
  FillAudioSector(1, 2, 10, a);
  FillAudioSector(1, 2, 10, b);
  EXPECT_EQ(a, b);
  std::set<std::vector<std::uint8_t>> seen;
  for (std::uint8_t track = 1; track <= 3; ++track)
    for (std::uint32_t sector = 0; sector < 50; ++sector) {
      FillAudioSector(1, track, sector, a);
      EXPECT_TRUE(seen.insert(a).second) << int(track) << "/" << sector;
    }
  FillAudioSector(2, 1, 0, b);
  EXPECT_EQ(seen.count(b), 0u);  // another seed, other audio
  FillDataSector(16, a);
  EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.begin() + 16),
            (std::vector<std::uint8_t>{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0, 0x00, 0x02, 0x16, 1}));
}

TEST(MkDiscTest, LengthsInSecondsOrFrames) {
  const struct {
    const char* text;
    std::uint32_t sectors;
  } good[] = {{"1", 75}, {"2.5", 188}, {"3s", 225}, {"1234f", 1234}, {"0.02", 2}, {"1F", 1}};
  for (const auto& g : good) {
    SCOPED_TRACE(g.text);
    EXPECT_EQ(ParseLength(g.text), g.sectors);
  }
  for (const char* bad : {"", "f", "0", "0f", "1.5f", "-3", "1e3", "1..2", "abc", "99999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW((void)ParseLength(bad), ECdromError);
  }
}

TEST(MkDiscTest, RefusesImpossibleDiscs) {
  DiscSpec none;
  EXPECT_THROW((void)LayOutDisc(none), ECdromError);
  DiscSpec empty;
  empty.AudioTracks = {{10}, {0}};
  EXPECT_THROW((void)LayOutDisc(empty), ECdromError);
  DiscSpec tooMany;
  tooMany.AudioTracks.assign(99, TrackSpec{1});
  tooMany.DataSectors = 1;
  EXPECT_THROW((void)LayOutDisc(tooMany), ECdromError);
  DiscSpec dataOnly;
  dataOnly.DataSectors = 100;
  const CdToc toc = LayOutDisc(dataOnly);
  ASSERT_EQ(toc.Tracks.size(), 1u);
  EXPECT_EQ(toc.Tracks[0].StartLsn, 0u);  // no session gap without audio before it
}

}  // namespace
}  // namespace qv
