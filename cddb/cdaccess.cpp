#include "cddb/cdaccess.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/cdrom/cd_drive.h"
#include "platform/cdrom/drive_list.h"
#include "platform/cdrom/scsi.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

constexpr const char* kNoInterface =
    "No usable interface available or selected interface not available";

// The three-step choice: ASPI (never present here), else pass-through.
bool PassThroughUsable(TCDInterface iface) {
  return AspiHostAdapterCount() <= 0 && CDAccessAvailable() &&
         (iface == cdiNTSCSI || iface == cdiAutoDetect);
}

std::unique_ptr<CdDrive> OpenDrive(const TCDDriveList& list, int index) {
  if (index < 0 || index >= list.DriveCount) return nullptr;
  const TCDDrive& d = list.Drives[index];
  DriveInfo info;
  info.Kind = d.Kind;
  info.Path = d.DevicePath;
  info.Letter = d.DriveLetter;
  try {
    return OpenCdDrive(info);
  } catch (const Exception&) {
    return nullptr;
  }
}

// Host, target and LUN of /dev/srN from its sysfs device link ("../../../1:0:0:0").
void FillScsiAddress(TCDDrive& drive) {
  drive.HaId = drive.Target = drive.Lun = 0;
  if (drive.Kind != DriveKind::Device) return;
  const std::string name = std::filesystem::path(drive.DevicePath).filename();
  std::error_code ec;
  const auto link = std::filesystem::read_symlink("/sys/class/block/" + name + "/device", ec);
  unsigned host = 0, channel = 0, target = 0, lun = 0;
  if (!ec &&
      std::sscanf(link.filename().c_str(), "%u:%u:%u:%u", &host, &channel, &target, &lun) == 4) {
    drive.HaId = static_cast<std::uint8_t>(host);
    drive.Target = static_cast<std::uint8_t>(target);
    drive.Lun = static_cast<std::uint8_t>(lun);
  }
}

TTOCEntry EntryAt(const TTOCBuffer& buffer, std::size_t descriptor) {
  const std::size_t at = 4 + 8 * descriptor;
  TTOCEntry e;
  e.Minute = buffer[at + 5];
  e.Second = buffer[at + 6];
  e.Frame = buffer[at + 7];
  e.IsAudio = (buffer[at + 1] & 0x04) == 0;
  return e;
}

}  // namespace

bool CDAccessAvailable() {
  return true;
}

int AspiHostAdapterCount() {
  return -1;
}

int SptiGetDriveLetters(TCDDriveList& list) {
  list.DriveCount = 0;
  for (const DriveInfo& info : ListDrives()) {
    if (list.DriveCount >= list.Drives.size()) break;
    TCDDrive& d = list.Drives[list.DriveCount++];
    d = TCDDrive{};
    d.DriveLetter = info.Letter;
    d.DevicePath = info.Path;
    d.Kind = info.Kind;
  }
  return list.DriveCount;
}

bool SptiInquiry(int index, TCDDriveList& list) {
  const auto drive = OpenDrive(list, index);
  if (!drive) return false;
  TCDDrive& d = list.Drives[index];
  std::array<std::uint8_t, 100> data{};
  try {
    const std::array<std::uint8_t, 6> cdb = InquiryCdb(100);
    const ScsiResult result = drive->Scsi().Execute(cdb, data, 2s);
    if (!result.Ok() || result.Transferred < 36) return false;
    const InquiryData inquiry = ParseInquiry(std::span(data).first(result.Transferred));
    d.VendorId = inquiry.VendorId.substr(0, 8);
    d.ProductId = inquiry.ProductId.substr(0, 16);
    d.Revision = inquiry.Revision.substr(0, 4);
    d.VendorSpecific = inquiry.VendorSpecific.substr(0, 20);
  } catch (const Exception&) {
    return false;
  }
  d.Description = d.VendorId + d.ProductId + d.Revision;
  FillScsiAddress(d);
  return true;
}

bool GetCDDriveInfo(int index, TCDDriveList& list, TCDInterface iface) {
  if (!PassThroughUsable(iface)) throw ECDAccessError("No usable interface available");
  TCDDriveList found;
  if (SptiGetDriveLetters(found) == 0) return false;
  if (index < 0 || index >= list.DriveCount) return false;
  if (!SptiInquiry(index, list)) {
    for (int i = 0; i < list.DriveCount; ++i)
      list.Drives[i].Description = list.Drives[i].DevicePath;
  }
  return true;
}

void GetCDDrives(TCDDriveList& list, TCDInterface iface) {
  if (!PassThroughUsable(iface)) throw ECDAccessError(kNoInterface);
  if (SptiGetDriveLetters(list) == 0) return;
  for (int i = 0; i < list.DriveCount; ++i) GetCDDriveInfo(i, list, iface);
}

bool TOCBufferValid(std::span<const std::uint8_t> buffer) {
  if (buffer.size() < 4) return false;
  const std::size_t length = (std::size_t{buffer[0]} << 8 | buffer[1]) + 2;
  const int first = buffer[2], last = buffer[3];
  if (first < 1 || last < first || last > 99) return false;
  // Every track's descriptor and the lead-out's must have come back.
  const std::size_t needed = 4 + 8 * static_cast<std::size_t>(last - first + 2);
  if (length < needed || buffer.size() < needed) return false;
  if (buffer[4 + 8 * static_cast<std::size_t>(last - first + 1) + 2] != 0xAA) return false;
  return true;
}

void TOCFromBuffer(const TTOCBuffer& buffer, TCDTOC& toc) {
  if (!TOCBufferValid(buffer)) {
    toc = TCDTOC{};
    return;
  }
  const int count = buffer[3] - buffer[2] + 1;
  toc.TrackCount = static_cast<std::uint8_t>(count);
  for (int k = 0; k < count; ++k) toc.Tracks[k] = EntryAt(buffer, k);
  toc.LeadOut = EntryAt(buffer, count);
  toc.LeadOut.IsAudio = false;
}

int ReadTOCCommand(ScsiTarget& target, TTOCBuffer& buffer) {
  buffer.fill(0);
  try {
    const std::array<std::uint8_t, 10> cdb = ReadTocCdb(true, 0, 0, buffer.size());
    const ScsiResult result = target.Execute(cdb, buffer, 5s);
    if (result.Errno == EACCES || result.Errno == EPERM) {
      buffer.fill(0);
      return -2;
    }
    // Success is a good status all the way down and a whole, plausible table; sense bytes
    // alone say nothing (a transport failure has none).
    if (!result.Ok() || !TOCBufferValid(std::span(buffer).first(result.Transferred))) {
      if (result.Errno != 0 && result.Errno != EIO && result.Errno != ENOMEM &&
          result.Errno != ENOMEDIUM)
        std::fprintf(stderr, "IO Error: %d\n", result.Errno);
      buffer.fill(0);
      return -1;
    }
  } catch (const Exception&) {
    buffer.fill(0);
    return -1;
  }
  return 0;
}

int IoctlReadTOC(TCDDriveList list, int index, TTOCBuffer& buffer) {
  buffer.fill(0);
  const auto drive = OpenDrive(list, index);
  if (!drive) return -1;
  try {
    const std::vector<std::uint8_t> answer = BuildTocResponse(drive->ReadTocByControl(), true);
    if (answer.size() > buffer.size() || !TOCBufferValid(answer)) return -1;
    std::copy(answer.begin(), answer.end(), buffer.begin());
  } catch (const Exception&) {
    buffer.fill(0);
    return -1;
  }
  return 0;
}

int SptiReadTOC(TCDDriveList list, int index, TTOCBuffer& buffer) {
  buffer.fill(0);
  const auto drive = OpenDrive(list, index);
  if (!drive) return -1;
  const int result = ReadTOCCommand(drive->Scsi(), buffer);
  if (result != -2) return result;
  std::fprintf(stderr,
               "No permission for SCSI commands on %s; reading the TOC through the CD-ROM "
               "controls instead. This may give wrong results for a mixed-mode CD.\n",
               list.Drives[index].DevicePath.c_str());
  return IoctlReadTOC(list, index, buffer);
}

bool ReadCDTOC(TCDDriveList list, int index, TCDTOC& toc, TCDInterface iface) {
  if (!PassThroughUsable(iface)) throw ECDAccessError(kNoInterface);
  TTOCBuffer buffer{};
  if (SptiReadTOC(list, index, buffer) == -1) IoctlReadTOC(list, index, buffer);
  TOCFromBuffer(buffer, toc);
  return toc.TrackCount == 0;
}

char Win9xDriveLetter(const std::string& search, TCDInterface iface) {
  if (!PassThroughUsable(iface)) throw ECDAccessError(kNoInterface);
  return search.empty() ? '\0' : search.front();
}

bool AllBytesZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace qv
