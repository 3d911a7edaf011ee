// The CD ripping library as the program uses it: loaded with dlopen from the build's bin folder
// and called only through the C entry points.
#include "platform/cdrom/cdrip.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/platform/cdrom/cdrom_test_support.h"
#include "tests/platform/cdrom/image_fixture.h"

namespace qv {
namespace {

constexpr std::int32_t kChunk = 176400;

// clang-format off
#define QV_CR_ENTRY_POINTS(X)                                                                \
  X(Init) X(DeInit) X(GetNumCDROM) X(GetActiveCDROM) X(SetActiveCDROM) X(GetCDROMParameters) \
  X(IsMediaLoaded) X(IsAudioPlaying) X(ReadToc) X(GetNumTocEntries) X(GetTocEntry)           \
  X(OpenRipper) X(RipChunk) X(CloseRipper) X(EjectCD) X(GetLastErrorText)
// clang-format on

struct CdRip {
  void* Handle = nullptr;
#define QV_DECLARE(name) decltype(&CR_##name) name = nullptr;
  QV_CR_ENTRY_POINTS(QV_DECLARE)
#undef QV_DECLARE
};

const CdRip& Library() {
  static CdRip lib = [] {
    CdRip l;
    l.Handle = ::dlopen(qv::testing::ToolPath("libcdrip.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(l.Handle, nullptr) << ::dlerror();
    if (!l.Handle) return l;
#define QV_BIND(name)                                                          \
  l.name = reinterpret_cast<decltype(l.name)>(::dlsym(l.Handle, "CR_" #name)); \
  EXPECT_NE(l.name, nullptr) << #name;
    QV_CR_ENTRY_POINTS(QV_BIND)
#undef QV_BIND
    return l;
  }();
  return lib;
}

class CdRipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(cr_.Handle, nullptr);
    toc_ = WriteDiscImage(qv::testing::MixedDisc(600), disc_);
    bin_ = qv::testing::ReadBytes(dir_ / "disc.bin");
    ::setenv("QUORVEL_CDROM", (disc_ + ";" + (dir_ / "absent.cue") + ";" + broken_).c_str(), 1);
    qv::testing::WriteText(broken_, "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n");
    Init("[CD-ROM]\nnActive=0\n");
  }
  void TearDown() override {
    cr_.DeInit();
    ::unsetenv("QUORVEL_CDROM");
  }

  void Init(const std::string& ini) {
    qv::testing::WriteText(ini_, ini);
    ASSERT_EQ(cr_.Init(ini_.c_str()), CR_OK);
  }

  // Rips [start, end) in chunks of kChunk and returns the bytes; checks every chunk's size.
  std::vector<std::uint8_t> Rip(std::int32_t start, std::int32_t end) {
    std::int32_t chunk = kChunk;
    EXPECT_EQ(cr_.OpenRipper(&chunk, start, end), CR_OK);
    EXPECT_EQ(chunk, kChunk);
    std::vector<std::uint8_t> out, buffer(kChunk);
    for (;;) {
      std::int32_t bytes = -1, abort = 0;
      EXPECT_EQ(cr_.RipChunk(buffer.data(), &bytes, &abort), CR_OK);
      if (bytes <= 0) break;
      const std::size_t left = std::size_t(end - start) * CR_SECTOR_BYTES - out.size();
      EXPECT_EQ(std::size_t(bytes), std::min<std::size_t>(kChunk, left));
      out.insert(out.end(), buffer.begin(), buffer.begin() + bytes);
    }
    EXPECT_EQ(cr_.CloseRipper(), CR_OK);
    return out;
  }

  std::vector<std::uint8_t> BinSlice(std::uint32_t start, std::uint32_t end) const {
    return {bin_.begin() + std::ptrdiff_t(start) * CR_SECTOR_BYTES,
            bin_.begin() + std::ptrdiff_t(end) * CR_SECTOR_BYTES};
  }

  const CdRip& cr_ = Library();
  qv::testing::TempDir dir_;
  std::string disc_ = dir_ / "disc.cue";
  std::string broken_ = dir_ / "broken.cue";
  std::string ini_ = dir_ / "cdr.ini";
  CdToc toc_;
  std::vector<unsigned char> bin_;
};

TEST_F(CdRipTest, TableEntriesCarryStartsNumbersAndFlags) {
  ASSERT_EQ(cr_.ReadToc(), CR_OK);
  ASSERT_EQ(cr_.GetNumTocEntries(), 5);
  const std::uint8_t flags[] = {0x10, 0x12, 0x11, 0x13, 0x14};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const CR_TOCENTRY e = cr_.GetTocEntry(i);
    EXPECT_EQ(e.StartSector, toc_.Tracks[i].StartLsn);
    EXPECT_EQ(e.TrackNumber, i + 1);
    EXPECT_EQ(e.Flag, flags[i]);
  }
  const CR_TOCENTRY leadOut = cr_.GetTocEntry(5);
  EXPECT_EQ(leadOut.StartSector, toc_.LeadOutLsn);
  EXPECT_EQ(leadOut.TrackNumber, CR_LEADOUT_TRACK);
  // A 600-sector pregap before the data track is one session's; the whole session gap in the
  // file puts the data track (and the lead-out) in a second session.
  for (const std::uint32_t gap : {600u, 11399u, 11400u}) {
    SCOPED_TRACE(gap);
    WriteDiscImage(qv::testing::MixedDisc(gap), disc_);
    ASSERT_EQ(cr_.ReadToc(), CR_OK);
    for (int i = 0; i <= 5; ++i)
      EXPECT_EQ(cr_.GetTocEntry(i).Session, i >= 4 && gap >= CR_SESSION_GAP_SECTORS ? 2 : 1) << i;
  }
  for (const int bad : {-1, 6, 1000}) {
    SCOPED_TRACE(bad);
    const CR_TOCENTRY e = cr_.GetTocEntry(bad);
    EXPECT_EQ(e.StartSector, 0u);
    EXPECT_EQ(e.Flag, 0);
    EXPECT_EQ(e.TrackNumber, 0);
  }
}

TEST_F(CdRipTest, RipsEveryTrackAsInTheBinFile) {
  ASSERT_EQ(cr_.ReadToc(), CR_OK);
  for (int i = 0; i < cr_.GetNumTocEntries(); ++i) {
    SCOPED_TRACE(i);
    const std::uint32_t start = cr_.GetTocEntry(i).StartSector;
    const std::uint32_t end = cr_.GetTocEntry(i + 1).StartSector;
    EXPECT_TRUE(Rip(std::int32_t(start), std::int32_t(end)) == BinSlice(start, end));
  }
  // The whole disc in one range: several full chunks and a partial one.
  EXPECT_TRUE(Rip(0, std::int32_t(toc_.LeadOutLsn)) == BinSlice(0, toc_.LeadOutLsn));
  EXPECT_TRUE(Rip(10, 10).empty());
}

TEST_F(CdRipTest, RefusesRangesOutsideTheDisc) {
  ASSERT_EQ(cr_.ReadToc(), CR_OK);
  const std::int32_t leadOut = std::int32_t(toc_.LeadOutLsn);
  const struct {
    const char* name;
    std::int32_t start, end;
  } cases[] = {{"end before start", 100, 99},
               {"past the lead-out", 0, leadOut + 1},
               {"wholly past the lead-out", leadOut + 10, leadOut + 20},
               {"negative start", -1, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t chunk = kChunk;
    EXPECT_EQ(cr_.OpenRipper(&chunk, c.start, c.end), CR_ERR_RANGE);
    std::vector<std::uint8_t> buffer(kChunk);
    std::int32_t bytes = -1;
    EXPECT_EQ(cr_.RipChunk(buffer.data(), &bytes, nullptr), CR_ERR_NOT_OPEN);
    EXPECT_EQ(bytes, 0);
  }
  std::int32_t tiny = 100, odd = kChunk + 1;
  EXPECT_EQ(cr_.OpenRipper(&tiny, 0, 10), CR_ERR_ARGUMENT);
  EXPECT_EQ(cr_.OpenRipper(nullptr, 0, 10), CR_ERR_ARGUMENT);
  ASSERT_EQ(cr_.OpenRipper(&odd, 0, 10), CR_OK);
  EXPECT_EQ(odd, kChunk);
  EXPECT_EQ(cr_.CloseRipper(), CR_OK);
  EXPECT_EQ(cr_.CloseRipper(), CR_ERR_NOT_OPEN);
}

TEST_F(CdRipTest, ReadErrorsAreReportedAndNeverRepeatOldAudio) {
  ASSERT_EQ(cr_.ReadToc(), CR_OK);
  std::int32_t chunk = kChunk;
  ASSERT_EQ(cr_.OpenRipper(&chunk, 0, std::int32_t(toc_.LeadOutLsn)), CR_OK);
  std::vector<std::uint8_t> buffer(kChunk);
  std::int32_t bytes = 0, abort = 0;
  ASSERT_EQ(cr_.RipChunk(buffer.data(), &bytes, &abort), CR_OK);
  ASSERT_EQ(bytes, kChunk);
  std::filesystem::resize_file(dir_ / "disc.bin", std::uintmax_t{100} * CR_SECTOR_BYTES);
  EXPECT_EQ(cr_.RipChunk(buffer.data(), &bytes, &abort), CR_ERR_READ);
  EXPECT_EQ(bytes, 0);
  abort = 1;
  EXPECT_EQ(cr_.RipChunk(buffer.data(), &bytes, &abort), CR_ERR_ABORTED);
  EXPECT_EQ(bytes, 0);
  EXPECT_EQ(cr_.RipChunk(buffer.data(), nullptr, &abort), CR_ERR_ARGUMENT);
  EXPECT_EQ(cr_.CloseRipper(), CR_OK);
}

TEST_F(CdRipTest, RipOnAWorkerWhileTheMainThreadAsks) {
  ASSERT_EQ(cr_.ReadToc(), CR_OK);
  std::atomic<bool> done{false};
  std::vector<std::uint8_t> ripped;
  std::thread worker([&] {
    ripped = Rip(0, std::int32_t(toc_.LeadOutLsn));
    done = true;
  });
  int queries = 0;
  while (!done) {
    std::int32_t status = -1;
    EXPECT_EQ(cr_.IsMediaLoaded(&status), CR_OK);
    EXPECT_EQ(cr_.GetTocEntry(1).StartSector, toc_.Tracks[1].StartLsn);
    CR_CDROMPARAMS params;
    EXPECT_EQ(cr_.GetCDROMParameters(&params), CR_OK);
    // Switching drives waits for the ripper to close; it never disturbs it.
    const std::int32_t rc = cr_.SetActiveCDROM(0);
    EXPECT_TRUE(rc == CR_OK || rc == CR_ERR_BUSY) << rc;
    ++queries;
  }
  worker.join();
  EXPECT_GT(queries, 0);
  EXPECT_TRUE(ripped == BinSlice(0, toc_.LeadOutLsn));
}

}  // namespace
}  // namespace qv
