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

}  // namespace
}  // namespace qv
