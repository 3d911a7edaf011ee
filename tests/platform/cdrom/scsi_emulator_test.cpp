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

}  // namespace
}  // namespace qv
