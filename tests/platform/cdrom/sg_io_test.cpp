#include "platform/cdrom/sg_io.h"

#include <gtest/gtest.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/device_drive.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SgIoTest, HeaderCarriesCommandBufferSenseAndTimeout) {
  const auto cdb = ReadTocCdb(true, kTocFormatToc, 0, 804);
  Bytes data(804), sense(kSgSenseBytes);
  sg_io_hdr header{};
  FillSgIoHeader(header, cdb, data, sense, std::chrono::seconds(5));
  EXPECT_EQ(header.interface_id, 'S');
  EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(header.cmd_len, 10);
  EXPECT_EQ(header.cmdp, cdb.data());
  EXPECT_EQ(header.dxfer_len, 804u);
  EXPECT_EQ(header.dxferp, data.data());
  EXPECT_EQ(header.mx_sb_len, kSgSenseBytes);
  EXPECT_EQ(header.sbp, sense.data());
  EXPECT_EQ(header.timeout, 5000u);

  const Bytes tur{0, 0, 0, 0, 0, 0};
  FillSgIoHeader(header, tur, {}, sense, std::chrono::milliseconds(2000));
  EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(header.dxferp, nullptr);
  EXPECT_EQ(header.dxfer_len, 0u);
}

TEST(SgIoTest, ResultDecodesStatusResidueAndSense) {
  Bytes sense = MakeSense(kSenseKeyNotReady, 0x3A, 0);
  sense.resize(kSgSenseBytes);
  sg_io_hdr header{};
  header.dxfer_len = 804;

  header.resid = 804 - 52;
  ScsiResult r = SgIoResult(header, 0, 0, sense);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Transferred, 52u);
  EXPECT_TRUE(r.Sense.empty());

  header.status = kScsiStatusCheckCondition;
  header.sb_len_wr = 18;
  header.resid = 804;
  r = SgIoResult(header, 0, 0, sense);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Transferred, 0u);
  EXPECT_EQ(DecodeSense(r.Sense), (SenseInfo{true, kSenseKeyNotReady, 0x3A, 0}));

  // Sense reported only through the driver status still counts as CHECK CONDITION.
  header.status = 0;
  header.driver_status = 0x08;
  r = SgIoResult(header, 0, 0, sense);
  EXPECT_EQ(r.Status, kScsiStatusCheckCondition);

  header = sg_io_hdr{};
  header.host_status = 0x01;  // no connect
  EXPECT_FALSE(SgIoResult(header, 0, 0, {}).Ok());

  // A written sense length larger than the buffer is cut to the buffer.
  header = sg_io_hdr{};
  header.sb_len_wr = 200;
  EXPECT_EQ(SgIoResult(header, 0, 0, std::span(sense.data(), 8)).Sense.size(), 8u);

  r = SgIoResult(sg_io_hdr{}, -1, EPERM, {});
  EXPECT_EQ(r.Errno, EPERM);
  EXPECT_FALSE(r.Ok());
}

TEST(SgIoTest, TransportFailuresComeBackAsErrno) {
  Bytes data(100);
  const auto cdb = InquiryCdb(100);
  EXPECT_EQ(SgIoTarget("/nonexistent/sr0").Execute(cdb, data, std::chrono::seconds(2)).Errno,
            ENOENT);
  // /dev/null takes no SCSI commands.
  const ScsiResult r = SgIoTarget("/dev/null").Execute(cdb, data, std::chrono::seconds(2));
  EXPECT_NE(r.Errno, 0);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(SgIoTarget("/dev/null").Execute({}, data, std::chrono::seconds(2)).Errno, EINVAL);
}

TEST(SgIoTest, TableFromControlEntries) {
  const TocControlEntry entries[] = {
      {1, 0x00, 0}, {2, 0x02, 4500}, {3, 0x04, 20000}, {0xAA, 0x04, 20300}};
  const CdToc toc = TocFromControlEntries(1, 3, entries);
  ASSERT_EQ(toc.Tracks.size(), 3u);
  EXPECT_EQ(toc.Tracks[1], (CdTocTrack{2, 4500, 0x02}));
  EXPECT_TRUE(toc.Tracks[2].IsData());
  EXPECT_EQ(toc.LeadOutLsn, 20300u);

  const TocControlEntry noLeadOut[] = {{1, 0, 0}, {2, 0, 100}, {3, 0, 200}, {4, 0, 300}};
  const TocControlEntry negative[] = {{1, 0, -150}, {2, 0, 100}, {3, 0, 200}, {0xAA, 0, 300}};
  EXPECT_THROW((void)TocFromControlEntries(1, 3, noLeadOut), ECdromError);
  EXPECT_THROW((void)TocFromControlEntries(1, 3, negative), ECdromError);
  EXPECT_THROW((void)TocFromControlEntries(1, 2, entries), ECdromError);  // count mismatch
  EXPECT_THROW((void)TocFromControlEntries(0, 0, std::span(entries, 2)), ECdromError);
  EXPECT_THROW((void)TocFromControlEntries(3, 1, entries), ECdromError);
}

TEST(SgIoTest, DriveStatusToMediaState) {
  EXPECT_EQ(MediaStateFromDriveStatus(CDS_DISC_OK), MediaState::Present);
  EXPECT_EQ(MediaStateFromDriveStatus(CDS_NO_DISC), MediaState::Absent);
  EXPECT_EQ(MediaStateFromDriveStatus(CDS_TRAY_OPEN), MediaState::Absent);
  EXPECT_EQ(MediaStateFromDriveStatus(CDS_DRIVE_NOT_READY), MediaState::Absent);
  EXPECT_EQ(MediaStateFromDriveStatus(CDS_NO_INFO), MediaState::Unknown);
}

TEST(SgIoTest, DeviceWithoutADriveBehindItFailsCleanly) {
  // Not a CD drive: every question gets an answer or an ECdromError, nothing else.
  DeviceDrive drive(DriveInfo{DriveKind::Device, "/dev/null", 'D'});
  EXPECT_EQ(drive.GetMediaStatus().State, MediaState::Unknown);
  EXPECT_THROW((void)drive.ReadTocByControl(), ECdromError);
  EXPECT_THROW((void)drive.Identify(), ECdromError);
  EXPECT_EQ(drive.Name(), "/dev/null");
  EXPECT_FALSE(drive.IsAudioPlaying());
  DeviceDrive missing(DriveInfo{DriveKind::Device, "/nonexistent/sr9", 'E'});
  EXPECT_EQ(missing.GetMediaStatus().State, MediaState::Unknown);
  EXPECT_THROW((void)missing.ReadToc(), ECdromError);
  EXPECT_THROW((void)missing.OpenAudio(0, 1), ECdromError);
}

}  // namespace
}  // namespace qv
