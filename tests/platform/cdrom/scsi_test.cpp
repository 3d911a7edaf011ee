#include "platform/cdrom/scsi.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

CdToc SampleToc() {
  CdToc toc;
  toc.Tracks = {{1, 0, 0x00}, {2, 4500, 0x02}, {3, 7913, 0x01}, {4, 19548, 0x04}};
  toc.LeadOutLsn = 19848;
  return toc;
}

TEST(ScsiTest, TocAnswerRoundTripsInMsfAndLbaAndFromAStartTrack) {
  const CdToc toc = SampleToc();
  for (const bool msf : {true, false}) {
    SCOPED_TRACE(msf ? "MSF" : "LBA");
    const Bytes answer = BuildTocResponse(toc, msf);
    ASSERT_EQ(answer.size(), 4u + 8 * 5);
    EXPECT_EQ(answer[0] << 8 | answer[1], 42);  // length excludes its own two bytes
    EXPECT_EQ(answer[2], 1);
    EXPECT_EQ(answer[3], 4);
    EXPECT_EQ(answer[4 + 8 * 1 + 1], 0x12);  // ADR 1, copy permitted
    EXPECT_EQ(answer[4 + 8 * 3 + 1], 0x14);  // data
    EXPECT_EQ(answer[4 + 8 * 4 + 2], 0xAA);
    EXPECT_EQ(ParseTocResponse(answer, msf), toc);
  }
  // Track 2 at LSN 4500 is 01:02:00 absolute.
  const Bytes answer = BuildTocResponse(toc, true);
  EXPECT_EQ(Bytes(answer.begin() + 12 + 4, answer.begin() + 12 + 8), (Bytes{0, 1, 2, 0}));

  // From a start track: that track on, or only the lead-out; past the last track, nothing.
  const Bytes fromThree = BuildTocResponse(toc, false, 3);
  ASSERT_EQ(fromThree.size(), 4u + 8 * 3);
  EXPECT_EQ(fromThree[4 + 2], 3);
  const Bytes leadOutOnly = BuildTocResponse(toc, false, 0xAA);
  ASSERT_EQ(leadOutOnly.size(), 12u);
  EXPECT_EQ(leadOutOnly[6], 0xAA);
  EXPECT_THROW((void)BuildTocResponse(toc, false, 5), ECdromError);
}

TEST(ScsiTest, RejectsInconsistentTocAnswers) {
  const Bytes good = BuildTocResponse(SampleToc(), true);
  auto with = [&good](std::size_t at, std::uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  const struct {
    const char* name;
    Bytes answer;
  } cases[] = {
      {"header only", Bytes(good.begin(), good.begin() + 4)},
      {"no tracks (first and last 0)",
       [&] {
         Bytes b = with(2, 0);
         b[3] = 0;
         return b;
       }()},
      {"last before first", with(2, 3)},
      {"last past 99",
       [&] {
         Bytes b = with(2, 99);
         b[3] = 100;
         return b;
       }()},
      {"length too small", with(1, 20)},
      {"cut short", Bytes(good.begin(), good.end() - 8)},
      {"track out of order", with(4 + 8 + 2, 7)},
      {"no lead-out", with(4 + 32 + 2, 5)},
      {"frame 75", with(4 + 8 + 7, 75)},
      {"before 00:02:00", with(4 + 6, 0)},
      {"descending addresses", with(4 + 8 + 5, 10)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW((void)ParseTocResponse(c.answer, true), ECdromError);
  }
}

}  // namespace
}  // namespace qv
