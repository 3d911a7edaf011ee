// A cue sheet as a drive takes it: written beside a BIN file and opened as a disc image, so
// that the file-level checks and the CD-reading library's own reading of the sheet run on it.
// The input is the sheet, then after a NUL the BIN file's size: two bytes of whole sectors and
// a third of bytes beyond them. An image either opens with a table of contents that matches
// its files or is refused with ECdromError.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/disc_image.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = qv::fuzz::Parts(data, size, 2);
  const std::string cue = qv::fuzz::ScratchDir() + "disc.cue";
  const std::string bin = qv::fuzz::ScratchDir() + "disc.bin";
  qv::fuzz::WriteFile(cue, parts[0]);
  const std::string_view spec = parts[1];
  const auto byte = [&](std::size_t i) { return i < spec.size() ? std::uint8_t(spec[i]) : 0u; };
  const std::uint64_t sectors = (byte(0) | byte(1) << 8) % 24000;
  const std::uint64_t binSize = sectors * qv::kCdSectorBytes + byte(2);
  const int fd = ::open(bin.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || ::ftruncate(fd, off_t(binSize)) != 0) std::abort();
  ::close(fd);
  try {
    const auto image = qv::DiscImage::Open(cue);
    const qv::CdToc& toc = image->Toc();
    if (toc.Tracks.empty() || toc.Tracks.size() > 99) __builtin_trap();
    if (binSize % qv::kCdSectorBytes != 0 || toc.LeadOutLsn * qv::kCdSectorBytes > binSize)
      __builtin_trap();
    for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
      if (toc.Tracks[i].StartLsn >= toc.LeadOutLsn) __builtin_trap();
      if (i > 0 && toc.Tracks[i].StartLsn <= toc.Tracks[i - 1].StartLsn) __builtin_trap();
    }
    // The first and the last sector can be read; the one after the lead-out cannot.
    std::vector<std::uint8_t> sector(qv::kCdSectorBytes);
    image->ReadSectors(toc.Tracks.front().StartLsn, 1, sector);
    image->ReadSectors(toc.LeadOutLsn - 1, 1, sector);
    try {
      image->ReadSectors(toc.LeadOutLsn, 1, sector);
      __builtin_trap();
    } catch (const qv::ECdromError&) {
    }
  } catch (const qv::ECdromError&) {
  }
  return 0;
}
