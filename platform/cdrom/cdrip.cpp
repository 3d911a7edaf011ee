// The CD ripping library behind cdrip.h. All state sits in one `Library` behind one mutex: the
// worker thread's CR_RipChunk and the main thread's drive queries meet here. No exception leaves
// a CR_* function; failures become CR_ERR_* codes.
#include "platform/cdrom/cdrip.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/inifile.h"
#include "platform/cdrom/cd_drive.h"
#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/drive_list.h"

namespace qv {
namespace {

static_assert(sizeof(CR_TOCENTRY) == 8, "the table entry is 8 bytes");
static_assert(sizeof(CR_CDROMPARAMS) == 364, "the parameters record is 364 bytes");

struct Library {
  std::mutex Lock;
  bool Initialized = false;
  std::vector<DriveInfo> Drives;
  std::vector<std::unique_ptr<CdDrive>> Opened;  // by index, opened on first use
  std::size_t Active = 0;
  std::optional<CdToc> Toc;       // of the active drive, from the last CR_ReadToc
  std::uint32_t LastSession = 0;  // of that disc; 0 for one session
  std::string LastError;          // of the last call that failed
  std::unique_ptr<AudioReader> Ripper;
  std::uint32_t ChunkSectors = 0;

  void Reset() {
    Ripper.reset();
    Toc.reset();
    LastSession = 0;
    LastError.clear();
    Opened.clear();
    Drives.clear();
    Active = 0;
    Initialized = false;
  }

  CdDrive& ActiveDrive() {
    if (!Opened[Active]) Opened[Active] = OpenCdDrive(Drives[Active]);
    return *Opened[Active];
  }
};

Library& State() {
  static Library library;
  return library;
}

const char* CodeText(int32_t code) {
  switch (code) {
    case CR_ERR_NOT_INITIALIZED:
      return "The CD ripping library is not initialised";
    case CR_ERR_NO_DRIVE:
      return "There is no such drive";
    case CR_ERR_NO_MEDIUM:
      return "There is no disc in the drive";
    case CR_ERR_TOC:
      return "The table of contents cannot be read";
    case CR_ERR_RANGE:
      return "The sectors are outside the disc";
    case CR_ERR_READ:
      return "A sector cannot be read";
    case CR_ERR_NOT_OPEN:
      return "No ripper is open";
    case CR_ERR_BUSY:
      return "The drive is busy ripping";
    case CR_ERR_NOT_SUPPORTED:
      return "The drive cannot do this";
    case CR_ERR_ARGUMENT:
      return "Invalid argument";
    case CR_ERR_ABORTED:
      return "Aborted";
    default:
      return "The drive cannot be queried";
  }
}

// Runs `body` under the library's lock once CR_Init has been called, turning exceptions into
// codes; `failure` is the code for an ECdromError. A failure leaves its message for
// CR_GetLastErrorText: the exception's, which names the drive or file, or the code's.
template <typename Body>
int32_t Guarded(int32_t failure, Body body) {
  Library& lib = State();
  std::lock_guard lock(lib.Lock);
  int32_t code = CR_ERR_NOT_INITIALIZED;
  std::string message;
  try {
    if (lib.Initialized) code = body(lib);
  } catch (const ECdromError& e) {
    code = failure;
    message = e.what();
  } catch (const std::exception& e) {
    code = CR_ERR_DRIVE;
    message = e.what();
  }
  if (code != CR_OK) lib.LastError = message.empty() ? CodeText(code) : message;
  return code;
}

bool NeedsDrive(Library& lib) {
  return lib.Active < lib.Drives.size();
}

}  // namespace
}  // namespace qv

using qv::Library;

extern "C" {

int32_t CR_Init(const char* settingsFile) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  lib.Reset();
  try {
    lib.Drives = qv::ListDrives();
  } catch (const std::exception&) {
    lib.Drives.clear();
  }
  lib.Opened.resize(lib.Drives.size());
  if (settingsFile) {
    const std::int32_t active = qv::TIniFile(settingsFile).ReadInteger("CD-ROM", "nActive", 0);
    if (active >= 0 && static_cast<std::size_t>(active) < lib.Drives.size())
      lib.Active = static_cast<std::size_t>(active);
  }
  lib.Initialized = true;
  return CR_OK;
}

int32_t CR_DeInit(void) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  lib.Reset();
  return CR_OK;
}

int32_t CR_GetNumCDROM(void) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  return lib.Initialized ? static_cast<int32_t>(lib.Drives.size()) : 0;
}

int32_t CR_GetActiveCDROM(void) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  return static_cast<int32_t>(lib.Active);
}

int32_t CR_SetActiveCDROM(int32_t index) {
  return qv::Guarded(CR_ERR_DRIVE, [index](Library& lib) -> int32_t {
    if (index < 0 || static_cast<std::size_t>(index) >= lib.Drives.size()) return CR_ERR_NO_DRIVE;
    if (lib.Ripper) return CR_ERR_BUSY;
    if (static_cast<std::size_t>(index) != lib.Active) lib.Toc.reset();
    lib.Active = static_cast<std::size_t>(index);
    return CR_OK;
  });
}

int32_t CR_GetCDROMParameters(CR_CDROMPARAMS* params) {
  if (!params) return CR_ERR_ARGUMENT;
  return qv::Guarded(CR_ERR_DRIVE, [params](Library& lib) -> int32_t {
    std::memset(params, 0, sizeof *params);
    if (!qv::NeedsDrive(lib)) return CR_ERR_NO_DRIVE;
    qv::CdDrive& drive = lib.ActiveDrive();
    const std::string name = drive.Name();
    const std::string& path = drive.Info().Path;
    std::memcpy(params->DriveName, name.data(),
                std::min(name.size(), sizeof params->DriveName - 1));
    std::memcpy(params->DevicePath, path.data(),
                std::min(path.size(), sizeof params->DevicePath - 1));
    params->DriveLetter = drive.Info().Letter;
    params->IsImage = drive.Info().Kind == qv::DriveKind::Image ? 1 : 0;
    return CR_OK;
  });
}

int32_t CR_IsMediaLoaded(int32_t* status) {
  if (!status) return CR_ERR_ARGUMENT;
  return qv::Guarded(CR_ERR_DRIVE, [status](Library& lib) -> int32_t {
    if (!qv::NeedsDrive(lib)) return CR_ERR_NO_DRIVE;
    switch (lib.ActiveDrive().GetMediaStatus().State) {
      case qv::MediaState::Present:
        *status = CR_MEDIA_PRESENT;
        return CR_OK;
      case qv::MediaState::Absent:
        *status = CR_MEDIA_ABSENT;
        return CR_OK;
      case qv::MediaState::Unknown:
        break;
    }
    return CR_ERR_DRIVE;
  });
}

int32_t CR_IsAudioPlaying(void) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  if (!lib.Initialized || !qv::NeedsDrive(lib)) return 0;
  try {
    return lib.ActiveDrive().IsAudioPlaying() ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t CR_ReadToc(void) {
  return qv::Guarded(CR_ERR_TOC, [](Library& lib) -> int32_t {
    lib.Toc.reset();
    lib.LastSession = 0;
    if (!qv::NeedsDrive(lib)) return CR_ERR_NO_DRIVE;
    qv::CdDrive& drive = lib.ActiveDrive();
    if (drive.GetMediaStatus().State == qv::MediaState::Absent) return CR_ERR_NO_MEDIUM;
    lib.Toc = drive.ReadToc();
    lib.LastSession = drive.LastSessionStart();
    return CR_OK;
  });
}

int32_t CR_GetNumTocEntries(void) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  return lib.Toc ? static_cast<int32_t>(lib.Toc->Tracks.size()) : 0;
}

CR_TOCENTRY CR_GetTocEntry(int32_t index) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  CR_TOCENTRY entry{};
  if (!lib.Toc || index < 0 || static_cast<std::size_t>(index) > lib.Toc->Tracks.size())
    return entry;
  const auto& tracks = lib.Toc->Tracks;
  const auto session = [&lib](std::uint32_t start) -> uint8_t {
    return lib.LastSession > 0 && start >= lib.LastSession ? 2 : 1;
  };
  if (static_cast<std::size_t>(index) == tracks.size()) {
    entry.StartSector = lib.Toc->LeadOutLsn;
    entry.Flag =
        static_cast<uint8_t>(CR_TOC_FLAG_AUDIO | (tracks.back().Control & CR_TOC_FLAG_DATA));
    entry.TrackNumber = CR_LEADOUT_TRACK;
    entry.Session = session(tracks.back().StartLsn);
  } else {
    const qv::CdTocTrack& track = tracks[static_cast<std::size_t>(index)];
    entry.StartSector = track.StartLsn;
    entry.Flag = static_cast<uint8_t>(CR_TOC_FLAG_AUDIO | (track.Control & 0x0F));
    entry.TrackNumber = track.Number;
    entry.Session = session(track.StartLsn);
  }
  return entry;
}

int32_t CR_OpenRipper(int32_t* chunkBytes, int32_t startSector, int32_t endSector) {
  if (!chunkBytes || *chunkBytes < CR_SECTOR_BYTES) return CR_ERR_ARGUMENT;
  return qv::Guarded(CR_ERR_RANGE, [=](Library& lib) -> int32_t {
    lib.Ripper.reset();
    if (!qv::NeedsDrive(lib)) return CR_ERR_NO_DRIVE;
    if (startSector < 0 || endSector < startSector) return CR_ERR_RANGE;
    qv::CdDrive& drive = lib.ActiveDrive();
    if (drive.GetMediaStatus().State == qv::MediaState::Absent) return CR_ERR_NO_MEDIUM;
    lib.Ripper = drive.OpenAudio(static_cast<std::uint32_t>(startSector),
                                 static_cast<std::uint32_t>(endSector));
    lib.ChunkSectors = static_cast<std::uint32_t>(*chunkBytes / CR_SECTOR_BYTES);
    *chunkBytes = static_cast<int32_t>(lib.ChunkSectors * CR_SECTOR_BYTES);
    return CR_OK;
  });
}

int32_t CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t* abort) {
  if (!bytes) return CR_ERR_ARGUMENT;
  *bytes = 0;
  if (!buffer) return CR_ERR_ARGUMENT;
  return qv::Guarded(CR_ERR_READ, [=](Library& lib) -> int32_t {
    if (!lib.Ripper) return CR_ERR_NOT_OPEN;
    if (abort && *abort != 0) return CR_ERR_ABORTED;
    const std::size_t delivered = lib.Ripper->Read(
        std::span<std::uint8_t>(buffer, std::size_t{lib.ChunkSectors} * CR_SECTOR_BYTES));
    *bytes = static_cast<int32_t>(delivered);
    return CR_OK;
  });
}

int32_t CR_CloseRipper(void) {
  return qv::Guarded(CR_ERR_DRIVE, [](Library& lib) -> int32_t {
    if (!lib.Ripper) return CR_ERR_NOT_OPEN;
    lib.Ripper.reset();
    return CR_OK;
  });
}

int32_t CR_EjectCD(int32_t eject) {
  return qv::Guarded(CR_ERR_DRIVE, [eject](Library& lib) -> int32_t {
    if (!qv::NeedsDrive(lib)) return CR_ERR_NO_DRIVE;
    if (lib.Ripper) return CR_ERR_BUSY;
    qv::CdDrive& drive = lib.ActiveDrive();
    if (drive.Info().Kind == qv::DriveKind::Image) return CR_ERR_NOT_SUPPORTED;
    lib.Toc.reset();
    drive.Eject(eject != 0);
    return CR_OK;
  });
}

int32_t CR_GetLastErrorText(char* buffer, int32_t size) {
  Library& lib = qv::State();
  std::lock_guard lock(lib.Lock);
  const std::string& text = lib.LastError;
  if (buffer && size > 0) {
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

}  // extern "C"
