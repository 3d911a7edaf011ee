// Run-time binding of the CD ripping library (libcdrip.so beside the program).
#pragma once

#include <string>

#include "platform/cdrom/cdrip.h"

namespace qv {

struct TCDRipApi {
  decltype(&::CR_Init) CR_Init;
  decltype(&::CR_DeInit) CR_DeInit;
  decltype(&::CR_GetNumCDROM) CR_GetNumCDROM;
  decltype(&::CR_GetActiveCDROM) CR_GetActiveCDROM;
  decltype(&::CR_SetActiveCDROM) CR_SetActiveCDROM;
  decltype(&::CR_GetCDROMParameters) CR_GetCDROMParameters;
  decltype(&::CR_IsMediaLoaded) CR_IsMediaLoaded;
  decltype(&::CR_IsAudioPlaying) CR_IsAudioPlaying;
  decltype(&::CR_ReadToc) CR_ReadToc;
  decltype(&::CR_GetNumTocEntries) CR_GetNumTocEntries;
  decltype(&::CR_GetTocEntry) CR_GetTocEntry;
  decltype(&::CR_OpenRipper) CR_OpenRipper;
  decltype(&::CR_RipChunk) CR_RipChunk;
  decltype(&::CR_CloseRipper) CR_CloseRipper;
  decltype(&::CR_EjectCD) CR_EjectCD;
  decltype(&::CR_GetLastErrorText) CR_GetLastErrorText;
};

// Loads Dir + "libcdrip.so" (or QUORVEL_LIB_CDRIP) once, writes the library's
// settings file "cdr.ini" (section "CD-ROM", "nActive" = 0) and calls CR_Init
// with it. Dir ends in "/". Null when the library cannot be loaded. The
// library is de-initialised when the program ends.
const TCDRipApi* LoadCDRip(const std::string& Dir);

// Where "cdr.ini" goes: Dir when it is writable, else the user's configuration folder.
std::string CDRipSettingsFile(const std::string& Dir);

}  // namespace qv
