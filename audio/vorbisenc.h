// Run-time binding of the Vorbis encoder set-up library, made when the unit is first used.
#pragma once

#include <vorbis/vorbisenc.h>

namespace qv {

struct TVorbisEncApi {
  decltype(&::vorbis_encode_init) vorbis_encode_init;
  decltype(&::vorbis_encode_init_vbr) vorbis_encode_init_vbr;
};

// libvorbisenc.so.2 (or QUORVEL_LIB_VORBISENC), loaded once; null when it is missing.
const TVorbisEncApi* LoadVorbisEnc();

}  // namespace qv
