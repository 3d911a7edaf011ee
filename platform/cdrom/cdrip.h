/* The CD ripping library's C interface (libcdrip.so, loaded at run time from the program's
 * folder). Every function is safe to call from any thread: calls are serialised inside the
 * library, so a worker ripping chunks and the main thread asking about drives do not collide.
 * Functions return CR_OK (0) or one of the CR_ERR_* codes unless stated otherwise.
 *
 * Drives are the program's drive list (QUORVEL_CDROM images, then /dev/sr*), in that order. */
#ifndef QV_PLATFORM_CDROM_CDRIP_H
#define QV_PLATFORM_CDROM_CDRIP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  CR_OK = 0,
  CR_ERR_NOT_INITIALIZED = 1, /* CR_Init was not called */
  CR_ERR_NO_DRIVE = 2,        /* the drive index is outside the drive list */
  CR_ERR_NO_MEDIUM = 3,       /* no disc in the drive */
  CR_ERR_TOC = 4,             /* the table of contents cannot be read */
  CR_ERR_RANGE = 5,           /* a sector range outside the disc, or end before start */
  CR_ERR_READ = 6,            /* a sector could not be read */
  CR_ERR_NOT_OPEN = 7,        /* no ripper is open */
  CR_ERR_BUSY = 8,            /* a ripper is open on the drive */
  CR_ERR_NOT_SUPPORTED = 9,   /* the drive cannot do this (a disc image has no tray) */
  CR_ERR_ARGUMENT = 10,       /* a null pointer or an invalid size */
  CR_ERR_ABORTED = 11,        /* the caller's abort flag was set */
  CR_ERR_DRIVE = 12           /* the drive could not be queried */
};

/* Status values of CR_IsMediaLoaded. */
enum { CR_MEDIA_PRESENT = 0, CR_MEDIA_ABSENT = 1 };

enum {
  CR_SECTOR_BYTES = 2352,
  CR_FRAMES_PER_SECOND = 75,
  CR_TOC_FLAG_AUDIO = 0x10, /* ADR 1 with no control bits: a plain audio track */
  CR_TOC_FLAG_PREEMPHASIS = 0x01,
  CR_TOC_FLAG_COPY = 0x02, /* digital copy permitted */
  CR_TOC_FLAG_DATA = 0x04,
  CR_TOC_FLAG_FOUR_CHANNEL = 0x08,
  CR_LEADOUT_TRACK = 0xAA,
  CR_SESSION_GAP_SECTORS = 11400
};

/* One table-of-contents entry, returned by value. Entry i is track i + 1 of the disc (counted
 * from the first track); the entry after the last track is the lead-out. `Flag` is 0x10 (ADR 1)
 * plus the track's control bits; a track is data when CR_TOC_FLAG_DATA is set.
 *
 * `Session` is 1 for the tracks of the first session and 2 for those of a later one (the data
 * session of an enhanced CD). The library gives 2 only where the CR_SESSION_GAP_SECTORS before
 * that session's first track really hold no audio: the first session's lead-out, the next one's
 * lead-in and pregap (on a disc image, a data track whose pregap in the file is that long). So
 * the last track of the first session ends that many sectors before the next entry's start;
 * every other track ends at the next entry. */
typedef struct CR_TOCENTRY {
  uint32_t StartSector; /* logical sector, 0 = first sector after the lead-in */
  uint8_t Flag;
  uint8_t TrackNumber; /* CR_LEADOUT_TRACK for the lead-out */
  uint8_t Session;     /* the lead-out has the last track's session */
  uint8_t Reserved;
} CR_TOCENTRY;

/* Drive parameters: 364 bytes, the drive's name first. */
typedef struct CR_CDROMPARAMS {
  char DriveName[256]; /* zero-terminated, e.g. "Disc image disc.cue" */
  char DevicePath[96]; /* zero-terminated; cut when longer */
  char DriveLetter;    /* 'D' + index */
  uint8_t IsImage;     /* 1 for a disc image */
  uint8_t Reserved[10];
} CR_CDROMPARAMS;

/* Reads the settings file (section "CD-ROM", key "nActive": the active drive) and lists the
 * drives. Calling it again starts afresh. */
int32_t CR_Init(const char* settingsFile);
int32_t CR_DeInit(void);
/* Number of drives; 0 before CR_Init. */
int32_t CR_GetNumCDROM(void);
/* Index of the active drive. */
int32_t CR_GetActiveCDROM(void);
/* Makes drive `index` active; refused with CR_ERR_NO_DRIVE outside the list, CR_ERR_BUSY while a
 * ripper is open. */
int32_t CR_SetActiveCDROM(int32_t index);
int32_t CR_GetCDROMParameters(CR_CDROMPARAMS* params);
/* *status := CR_MEDIA_PRESENT or CR_MEDIA_ABSENT; an error when the drive cannot tell. */
int32_t CR_IsMediaLoaded(int32_t* status);
/* Non-zero while the active drive plays audio. */
int32_t CR_IsAudioPlaying(void);
/* Reads the active drive's table of contents; on failure the table is empty. */
int32_t CR_ReadToc(void);
/* Tracks in the table last read (the lead-out not counted); 0 when none. */
int32_t CR_GetNumTocEntries(void);
/* Entry `index` (0 .. CR_GetNumTocEntries()); an all-zero entry outside that range. */
CR_TOCENTRY CR_GetTocEntry(int32_t index);
/* Opens sectors [startSector, endSector) of the active drive for ripping. *chunkBytes is the
 * caller's buffer size; it is rounded down to whole sectors and written back. */
int32_t CR_OpenRipper(int32_t* chunkBytes, int32_t startSector, int32_t endSector);
/* Fills `buffer` with the next chunk; *bytes := bytes delivered, 0 at the end of the range and
 * on every error (so a caller never sees a previous chunk again). */
int32_t CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t* abort);
int32_t CR_CloseRipper(void);
/* Non-zero `eject` opens the tray, zero closes it. */
int32_t CR_EjectCD(int32_t eject);
/* The message of the last call that failed, naming the drive or file and the fault (e.g. "The
 * BIN file /x/disc.bin is truncated: ..."). Copies at most size - 1 bytes and a terminating zero
 * to `buffer` (nothing when it is null or size is 0); returns the message's full length. */
int32_t CR_GetLastErrorText(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
