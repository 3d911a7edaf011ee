#include "platform/cdrom/scsi_emulator.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cdrom/image_drive.h"
#include "tests/platform/cdrom/cdrom_test_support.h"
#include "tests/platform/cdrom/image_fixture.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::chrono::seconds kTimeout(5);

class ScsiEmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { toc_ = WriteDiscImage(qv::testing::MixedDisc(600), cue_); }

  ScsiResult Run(const Bytes& cdb, Bytes& data) {
    return drive_.Scsi().Execute(cdb, data, kTimeout);
  }

  static void ExpectSense(const ScsiResult& r, std::uint8_t key, std::uint8_t asc,
                          std::uint8_t ascq = 0) {
    EXPECT_EQ(r.Errno, 0);
    EXPECT_EQ(r.Status, kScsiStatusCheckCondition);
    const SenseInfo sense = DecodeSense(r.Sense);
    EXPECT_TRUE(sense.Valid);
    EXPECT_EQ(sense.Key, key);
    EXPECT_EQ(sense.Asc, asc);
    EXPECT_EQ(sense.Ascq, ascq);
    EXPECT_EQ(r.Transferred, 0u);
  }

  qv::testing::TempDir dir_;
  std::string cue_ = dir_ / "disc.cue";
  CdToc toc_;
  ImageDrive drive_{DriveInfo{DriveKind::Image, cue_, 'D'}};
};

TEST_F(ScsiEmulatorTest, ReadTocAnswerParsesBackToTheImageTable) {
  // The command block and buffer a caller sends for the table in MSF form.
  Bytes data(804, 0);
  const auto cdb = ReadTocCdb(true, kTocFormatToc, 0, 804);
  const ScsiResult r = Run(Bytes(cdb.begin(), cdb.end()), data);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 4u + 8 * 6);
  EXPECT_EQ(ParseTocResponse(std::span(data.data(), r.Transferred), true), toc_);
  EXPECT_EQ(toc_, drive_.ReadToc());

  const auto lba = ReadTocCdb(false, kTocFormatToc, 0, 804);
  ASSERT_TRUE(Run(Bytes(lba.begin(), lba.end()), data).Ok());
  EXPECT_EQ(ParseTocResponse(data, false), toc_);
}

TEST_F(ScsiEmulatorTest, ReportsNoMediumAndUnreadableMedium) {
  Bytes data(804, 0);
  const Bytes tur{0, 0, 0, 0, 0, 0};
  const auto toc = ReadTocCdb(true, kTocFormatToc, 0, 804);
  const Bytes readToc(toc.begin(), toc.end());
  EXPECT_TRUE(Run(tur, data).Ok());

  std::filesystem::rename(cue_, cue_ + ".away");
  ExpectSense(Run(tur, data), kSenseKeyNotReady, 0x3A);
  ExpectSense(Run(readToc, data), kSenseKeyNotReady, 0x3A);
  const auto inquiry = InquiryCdb(100);
  EXPECT_TRUE(Run(Bytes(inquiry.begin(), inquiry.end()), data).Ok());  // the drive is still there

  qv::testing::WriteText(cue_, "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n");
  ExpectSense(Run(readToc, data), kSenseKeyMediumError, 0x30, 0x02);

  std::filesystem::rename(cue_ + ".away", cue_);
  EXPECT_TRUE(Run(readToc, data).Ok());
}

}  // namespace
}  // namespace qv
