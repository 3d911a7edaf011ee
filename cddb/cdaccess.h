// CD drive access for the CD database component: the drives of the program's one drive list
// (disc images first, then /dev/srN), each identified by its SCSI INQUIRY answer, and the
// table of contents of the disc in a drive read with READ TOC (MSF), falling back to the
// CD-ROM controls when SCSI commands are not permitted. There is no ASPI layer here: asking
// for it gives the "no usable interface" failure. Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "cddb/cddb_types.h"
#include "platform/base/exception.h"
#include "platform/cdrom/drive_list.h"

namespace qv {

class ScsiTarget;

enum TCDInterface : std::uint8_t { cdiAutoDetect = 0, cdiASPI = 1, cdiNTSCSI = 2 };

struct TCDDrive {
  std::uint8_t HaId = 0;  // SCSI host, target and LUN of a real drive (0 for an image)
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  std::string VendorId;
  std::string ProductId;
  std::string Revision;
  std::string VendorSpecific;
  std::string Description;  // vendor + product + revision, or the device path
  char DriveLetter = 0;
  std::string DevicePath;  // the .cue sheet or /dev/srN
  // As the drive list says: an image may lie anywhere, /dev/shm included.
  DriveKind Kind = DriveKind::Image;
};

struct TCDDriveList {
  std::uint8_t CurrentDrive = 0;
  std::uint8_t DriveCount = 0;
  std::array<TCDDrive, 26> Drives;
};

// The READ TOC format 0 answer in MSF form, as much of it as fits.
using TTOCBuffer = std::array<std::uint8_t, 804>;

class ECDAccessError : public Exception {
 public:
  using Exception::Exception;
};

[[nodiscard]] bool CDAccessAvailable();
// -1: this platform has no ASPI layer.
[[nodiscard]] int AspiHostAdapterCount();

// Fills `DriveCount` and `Drives` (at most 26) and identifies each drive.
void GetCDDrives(TCDDriveList& list, TCDInterface iface);
// INQUIRY of drive `index`; false when the drive does not answer it (its `Description` is
// then its device path).
bool GetCDDriveInfo(int index, TCDDriveList& list, TCDInterface iface);
// Reads the TOC of drive `index` into `toc`. True when NO table of contents was read; `toc`
// then has no tracks.
bool ReadCDTOC(TCDDriveList list, int index, TCDTOC& toc, TCDInterface iface);

int SptiGetDriveLetters(TCDDriveList& list);
bool SptiInquiry(int index, TCDDriveList& list);
// 0 and a validated answer in `buffer`, or -1.
int SptiReadTOC(TCDDriveList list, int index, TTOCBuffer& buffer);
int IoctlReadTOC(TCDDriveList list, int index, TTOCBuffer& buffer);
// READ TOC through any SCSI target: 0, -1, or -2 when the command was not permitted.
int ReadTOCCommand(ScsiTarget& target, TTOCBuffer& buffer);

// False when the header, length or track numbers cannot describe a disc (a garbage or short
// answer); such a buffer gives no tracks.
[[nodiscard]] bool TOCBufferValid(std::span<const std::uint8_t> buffer);
void TOCFromBuffer(const TTOCBuffer& buffer, TCDTOC& toc);

char Win9xDriveLetter(const std::string& search, TCDInterface iface);
[[nodiscard]] bool AllBytesZero(std::span<const std::uint8_t> bytes);

}  // namespace qv
