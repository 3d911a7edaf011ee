// Run-time binding of the Vorbis codec library, made when the unit is first used.
#pragma once

#include <vorbis/codec.h>

namespace qv {

struct TVorbisApi {
  decltype(&::vorbis_info_init) vorbis_info_init;
  decltype(&::vorbis_info_clear) vorbis_info_clear;
  decltype(&::vorbis_comment_init) vorbis_comment_init;
  decltype(&::vorbis_comment_add_tag) vorbis_comment_add_tag;
  decltype(&::vorbis_comment_clear) vorbis_comment_clear;
  decltype(&::vorbis_analysis_init) vorbis_analysis_init;
  decltype(&::vorbis_block_init) vorbis_block_init;
  decltype(&::vorbis_block_clear) vorbis_block_clear;
  decltype(&::vorbis_dsp_clear) vorbis_dsp_clear;
  decltype(&::vorbis_analysis_headerout) vorbis_analysis_headerout;
  decltype(&::vorbis_analysis_buffer) vorbis_analysis_buffer;
  decltype(&::vorbis_analysis_wrote) vorbis_analysis_wrote;
  decltype(&::vorbis_analysis_blockout) vorbis_analysis_blockout;
  decltype(&::vorbis_analysis) vorbis_analysis;
  decltype(&::vorbis_bitrate_addblock) vorbis_bitrate_addblock;
  decltype(&::vorbis_bitrate_flushpacket) vorbis_bitrate_flushpacket;
};

// libvorbis.so.0 (or QUORVEL_LIB_VORBIS), loaded once; null when it is missing.
const TVorbisApi* LoadVorbis();

}  // namespace qv
