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

TEST_F(ScsiEmulatorTest, ReadTocHonoursStartTrackAndAllocationLength) {
  Bytes data(804, 0xEE);
  const auto fromFour = ReadTocCdb(false, kTocFormatToc, 4, 804);
  ScsiResult r = Run(Bytes(fromFour.begin(), fromFour.end()), data);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 4u + 8 * 3);
  EXPECT_EQ(data[6], 4);

  // Only the header fits: the length field still tells the whole size.
  std::fill(data.begin(), data.end(), 0xEE);
  const auto header = ReadTocCdb(true, kTocFormatToc, 0, 4);
  r = Run(Bytes(header.begin(), header.end()), data);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 4u);
  EXPECT_EQ(data[0] << 8 | data[1], 2 + 8 * 6);
  EXPECT_EQ(data[4], 0xEE);

  // A buffer smaller than the allocation length is never overrun.
  Bytes small(10, 0);
  const auto all = ReadTocCdb(true, kTocFormatToc, 0, 804);
  r = Run(Bytes(all.begin(), all.end()), small);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 10u);

  const auto past = ReadTocCdb(true, kTocFormatToc, 6, 804);
  ExpectSense(Run(Bytes(past.begin(), past.end()), data), kSenseKeyIllegalRequest, 0x24);
}

TEST_F(ScsiEmulatorTest, InquiryNamesAnImageDrive) {
  Bytes data(100, 0);
  const auto cdb = InquiryCdb(100);
  const ScsiResult r = Run(Bytes(cdb.begin(), cdb.end()), data);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 96u);
  const InquiryData id = ParseInquiry(data);
  EXPECT_EQ(id.DeviceType, 5);
  EXPECT_EQ(id.VendorId, "QUORVEL");
  EXPECT_EQ(id.ProductId, "DISC IMAGE");
  EXPECT_EQ(id.VendorSpecific, "disc.cue");
}

TEST_F(ScsiEmulatorTest, AnswersOtherCommandsWithInvalidCommand) {
  Bytes data(2352, 0);
  const struct {
    const char* name;
    Bytes cdb;
    std::uint8_t key, asc;
  } cases[] = {
      {"READ CD", {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0}, kSenseKeyIllegalRequest, 0x20},
      {"MODE SENSE", {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0xFF, 0}, kSenseKeyIllegalRequest, 0x20},
      {"START STOP UNIT", {0x1B, 0, 0, 0, 0x02, 0}, kSenseKeyIllegalRequest, 0x20},
      {"reserved group", {0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kSenseKeyIllegalRequest, 0x20},
      {"vendor opcode", {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kSenseKeyIllegalRequest, 0x20},
      {"READ TOC format 2",
       {0x43, 0x02, 0x02, 0, 0, 0, 1, 0x03, 0x24, 0},
       kSenseKeyIllegalRequest,
       0x24},
      {"INQUIRY page", {0x12, 0x01, 0x80, 0, 100, 0}, kSenseKeyIllegalRequest, 0x24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectSense(Run(c.cdb, data), c.key, c.asc);
  }
  EXPECT_EQ(Run(Bytes{0x43, 0x02}, data).Errno, EINVAL);  // command block cut short
  EXPECT_EQ(Run(Bytes{}, data).Errno, EINVAL);
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
