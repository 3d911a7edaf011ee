#include "platform/cdrom/sg_io.h"

#include <gtest/gtest.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/device_drive.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

}  // namespace
}  // namespace qv
