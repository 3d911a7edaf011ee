// A cue/bin disc image opened for reading: the cue sheet checked by our own reader, the BIN
// file checked against it, then opened through libcdio, whose table of contents must agree with
// the sheet. Reads stay inside the disc: libcdio itself reports success past an image's lead-out.
// Not thread-safe; one user at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/cdrom/cue_sheet.h"
#include "platform/cdrom/disc_toc.h"

namespace qv {

class DiscImage {
 public:
  // Throws ECdromError naming the file and the fault: missing or unreadable cue sheet or BIN
  // file, a malformed sheet, a BIN that is not whole sectors or ends before the last track.
  static std::unique_ptr<DiscImage> Open(const std::string& cuePath);
  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  [[nodiscard]] const CdToc& Toc() const { return toc_; }
  [[nodiscard]] const CueSheet& Sheet() const { return sheet_; }
  [[nodiscard]] const std::string& BinPath() const { return binPath_; }
  // The start of a second session: a data track after audio whose pregap in the BIN file holds
  // the whole gap between two sessions (kCdSessionGapSectors or more), so that the audio before
  // it ends where that pregap begins. 0 for one session: a data track without a stored pregap,
  // with a shorter one, or with its gap left out of the file (PREGAP) follows the audio at once.
  [[nodiscard]] std::uint32_t LastSessionStart() const { return lastSessionStart_; }

  // Reads `count` raw sectors from `lsn` into `out` (at least count * 2352 bytes). Throws when
  // the range leaves [0, lead-out), when the BIN file has shrunk since it was opened, or when the
  // read fails.
  void ReadSectors(std::uint32_t lsn, std::uint32_t count, std::span<std::uint8_t> out) const;

 private:
  struct Handle;
  DiscImage() = default;

  std::string cuePath_;
  std::string binPath_;
  CueSheet sheet_;
  CdToc toc_;
  std::uint32_t lastSessionStart_ = 0;
  std::unique_ptr<Handle> handle_;
};

// The BIN file a cue sheet at `cuePath` names: relative names are taken from the sheet's folder.
[[nodiscard]] std::string ResolveBinPath(const std::string& cuePath, const std::string& fileName);

}  // namespace qv
