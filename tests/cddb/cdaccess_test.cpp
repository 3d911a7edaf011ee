#include "cddb/cdaccess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/cdrom/scsi.h"
#include "tests/cddb/cddb_test_util.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

using testing::ScratchDir;

// Points the drive list at the given images for one test.
class DriveListScope {
 public:
  explicit DriveListScope(const std::string& images) {
    if (const char* old = std::getenv("QUORVEL_CDROM")) old_ = old, had_ = true;
    ::setenv("QUORVEL_CDROM", images.c_str(), 1);
  }
  ~DriveListScope() {
    if (had_)
      ::setenv("QUORVEL_CDROM", old_.c_str(), 1);
    else
      ::unsetenv("QUORVEL_CDROM");
  }

 private:
  std::string old_;
  bool had_ = false;
};

DiscSpec Spec(std::vector<std::uint32_t> sectors, std::uint32_t dataSectors, std::uint32_t seed) {
  DiscSpec spec;
  for (const std::uint32_t s : sectors) spec.AudioTracks.push_back(TrackSpec{s});
  spec.DataSectors = dataSectors;
  spec.Seed = seed;
  return spec;
}

std::string LibdiscidId(const CdToc& toc) {
  std::string command = "/usr/bin/python3 -c 'import libdiscid; print(libdiscid.put(1, " +
                        std::to_string(toc.Tracks.size()) + ", " +
                        std::to_string(toc.LeadOutLsn + kCdLeadInFrames) + ", [";
  for (const CdTocTrack& t : toc.Tracks) command += std::to_string(t.StartLsn + 150) + ",";
  command += "]).freedb_id)'";
  int status = -1;
  std::string out = testing::RunCommand(command, &status);
  if (status != 0) return "python3-libdiscid failed";
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(CDAccessTest, ImagesAreListedIdentifiedAndTheirTocsRead) {
  ScratchDir dir;
  const auto cueA = dir.Path() / "a.cue";
  const auto cueB = dir.Path() / "b.cue";
  const CdToc tocA = WriteDiscImage(Spec({900, 1700, 600}, 0, 1), cueA);
  const CdToc tocB = WriteDiscImage(Spec({800, 1200}, 900, 2), cueB);
  DriveListScope scope(cueA.string() + ";" + cueB.string());

  TCDDriveList list;
  GetCDDrives(list, cdiAutoDetect);
  ASSERT_EQ(list.DriveCount, 2);
  EXPECT_EQ(list.Drives[0].DriveLetter, 'D');
  EXPECT_EQ(list.Drives[1].DriveLetter, 'E');
  EXPECT_EQ(list.Drives[0].VendorId, "QUORVEL");
  EXPECT_EQ(list.Drives[0].ProductId, "DISC IMAGE");
  EXPECT_EQ(list.Drives[0].Description, "QUORVELDISC IMAGE1.0");

  for (const auto& [index, toc] : {std::pair{0, tocA}, std::pair{1, tocB}}) {
    SCOPED_TRACE(index);
    TCDTOC read;
    ASSERT_FALSE(ReadCDTOC(list, index, read, cdiAutoDetect));
    ASSERT_EQ(read.TrackCount, toc.Tracks.size());
    for (std::size_t t = 0; t < toc.Tracks.size(); ++t) {
      EXPECT_EQ(static_cast<std::uint32_t>(FrameOffset(read.Tracks[t])),
                toc.Tracks[t].StartLsn + kCdLeadInFrames);
      EXPECT_EQ(read.Tracks[t].IsAudio, !toc.Tracks[t].IsData());
    }
    EXPECT_EQ(static_cast<std::uint32_t>(FrameOffset(read.LeadOut)),
              toc.LeadOutLsn + kCdLeadInFrames);
    EXPECT_FALSE(read.LeadOut.IsAudio);
    char expected[9];
    std::snprintf(expected, sizeof expected, "%08x", CddbDiscId(toc));
    EXPECT_EQ(CddbDiscId(read), expected);
    EXPECT_EQ(CddbDiscId(read), LibdiscidId(toc));
  }
}

// An image kept under /dev (a memory file system) is an image all the same: the drive list
// decides, not the path.
TEST(CDAccessTest, ImageUnderDevIsReadAsAnImage) {
  std::string pattern = "/dev/shm/qv-cdaccess-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) GTEST_SKIP() << "no /dev/shm here";
  const std::filesystem::path folder = pattern;
  const CdToc toc = WriteDiscImage(Spec({900, 1700}, 0, 3), folder / "disc.cue");
  DriveListScope scope((folder / "disc.cue").string());
  TCDDriveList list;
  GetCDDrives(list, cdiAutoDetect);
  TCDTOC read;
  const bool none = list.DriveCount < 1 || ReadCDTOC(list, 0, read, cdiAutoDetect);
  std::filesystem::remove_all(folder);
  ASSERT_GE(list.DriveCount, 1);
  EXPECT_EQ(list.Drives[0].Kind, DriveKind::Image);
  EXPECT_EQ(list.Drives[0].ProductId, "DISC IMAGE");
  ASSERT_FALSE(none);
  EXPECT_EQ(read.TrackCount, 2);
  EXPECT_EQ(static_cast<std::uint32_t>(FrameOffset(read.LeadOut)),
            toc.LeadOutLsn + kCdLeadInFrames);
}

// A SCSI target that answers every command the same way.
class FakeTarget final : public ScsiTarget {
 public:
  ScsiResult result;
  std::vector<std::uint8_t> data;
  ScsiResult Execute(std::span<const std::uint8_t>, std::span<std::uint8_t> dataIn,
                     std::chrono::milliseconds) override {
    const std::size_t n = std::min(data.size(), dataIn.size());
    std::copy_n(data.begin(), n, dataIn.begin());
    ScsiResult r = result;
    r.Transferred = std::min(r.Transferred, n);
    return r;
  }
};

TEST(CDAccessTest, OnlyAGoodWholeAnswerCountsAsATableOfContents) {
  CdToc disc;
  disc.Tracks.push_back(CdTocTrack{1, 0, 0});
  disc.LeadOutLsn = 20000;
  const std::vector<std::uint8_t> good = BuildTocResponse(disc, true);
  const struct {
    const char* what;
    ScsiResult result;
    std::size_t transferred;
    int expected;
  } cases[] = {
      {"good", ScsiResult{}, good.size(), 0},
      {"transport failure without sense", ScsiTransportError(EIO), good.size(), -1},
      {"not permitted", ScsiTransportError(EACCES), 0, -2},
      {"check condition",
       [] {
         ScsiResult r;
         r.Status = kScsiStatusCheckCondition;
         r.Sense = MakeSense(kSenseKeyNotReady, 0x3A, 0);
         return r;
       }(),
       good.size(), -1},
      {"host status",
       [] {
         ScsiResult r;
         r.HostStatus = 7;
         return r;
       }(),
       good.size(), -1},
      {"answer cut short", ScsiResult{}, 12, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTarget target;
    target.result = c.result;
    target.result.Transferred = c.transferred;
    target.data = good;
    TTOCBuffer buffer;
    EXPECT_EQ(ReadTOCCommand(target, buffer), c.expected);
    if (c.expected != 0) {
      EXPECT_TRUE(AllBytesZero(buffer));
    }
  }
}

}  // namespace
}  // namespace qv
