#include "audio/cdrip.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "audio/library_loader.h"
#include "platform/base/inifile.h"
#include "platform/base/paths.h"

namespace qv {

namespace {

struct TCDRipLibrary {
  explicit TCDRipLibrary(const std::string& Dir) : loader((Dir + "libcdrip.so").c_str()) {
    auto& l = loader;
    l.Bind(api.CR_Init, "CR_Init");
    l.Bind(api.CR_DeInit, "CR_DeInit");
    l.Bind(api.CR_GetNumCDROM, "CR_GetNumCDROM");
    l.Bind(api.CR_GetActiveCDROM, "CR_GetActiveCDROM");
    l.Bind(api.CR_SetActiveCDROM, "CR_SetActiveCDROM");
    l.Bind(api.CR_GetCDROMParameters, "CR_GetCDROMParameters");
    l.Bind(api.CR_IsMediaLoaded, "CR_IsMediaLoaded");
    l.Bind(api.CR_IsAudioPlaying, "CR_IsAudioPlaying");
    l.Bind(api.CR_ReadToc, "CR_ReadToc");
    l.Bind(api.CR_GetNumTocEntries, "CR_GetNumTocEntries");
    l.Bind(api.CR_GetTocEntry, "CR_GetTocEntry");
    l.Bind(api.CR_OpenRipper, "CR_OpenRipper");
    l.Bind(api.CR_RipChunk, "CR_RipChunk");
    l.Bind(api.CR_CloseRipper, "CR_CloseRipper");
    l.Bind(api.CR_EjectCD, "CR_EjectCD");
    l.Bind(api.CR_GetLastErrorText, "CR_GetLastErrorText");
  }
  TLibraryLoader loader;
  TCDRipApi api{};
};

}  // namespace

std::string CDRipSettingsFile(const std::string& Dir) {
  if (::access(Dir.c_str(), W_OK) == 0) return Dir + "cdr.ini";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string base = xdg != nullptr && *xdg != '\0' ? std::string(xdg)
                     : home != nullptr              ? std::string(home) + "/.config"
                                                    : std::string("/tmp");
  base += "/quorvel/";
  ForceDirectories(base);
  return base + "cdr.ini";
}

namespace {

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

std::unique_ptr<TCDRipLibrary>& Library() {
  static std::unique_ptr<TCDRipLibrary> library;
  return library;
}

// The unit's finalization. Registered after the library's first CR_Init, so it
// runs while the library's own state still exists.
void DeInitCDRip() {
  std::lock_guard guard(LibraryLock());
  if (Library()) Library()->api.CR_DeInit();
}

}  // namespace

const TCDRipApi* LoadCDRip(const std::string& Dir) {
  std::lock_guard guard(LibraryLock());
  auto& library = Library();
  const bool first = !library;
  if (!library) {
    auto candidate = std::make_unique<TCDRipLibrary>(Dir);
    if (!candidate->loader.Complete()) return nullptr;
    library = std::move(candidate);
  }
  const std::string settings = CDRipSettingsFile(Dir);
  try {
    TMemIniFile ini(settings);
    // Rewritten only when it says otherwise: each start of the program comes here, and a
    // safe rewrite waits for the disk.
    if (ini.ReadString("CD-ROM", "nActive", "") != "0") {
      ini.WriteString("CD-ROM", "nActive", "0");
      ini.UpdateFile();
    }
  } catch (const std::exception&) {
    // The library then starts with its first drive, as the setting says anyway.
  }
  library->api.CR_Init(settings.c_str());
  if (first) std::atexit(DeInitCDRip);
  return &library->api;
}

}  // namespace qv
