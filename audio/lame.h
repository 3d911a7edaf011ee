// Run-time binding of the MP3 encoder library.
#pragma once

#include <lame/lame.h>

namespace qv {

struct TLameApi {
  decltype(&::lame_init) lame_init;
  decltype(&::lame_set_num_samples) lame_set_num_samples;
  decltype(&::lame_set_in_samplerate) lame_set_in_samplerate;
  decltype(&::lame_set_num_channels) lame_set_num_channels;
  decltype(&::lame_set_brate) lame_set_brate;
  decltype(&::lame_init_params) lame_init_params;
  decltype(&::lame_encode_buffer) lame_encode_buffer;
  decltype(&::lame_encode_buffer_interleaved) lame_encode_buffer_interleaved;
  decltype(&::lame_encode_flush) lame_encode_flush;
  decltype(&::lame_get_lametag_frame) lame_get_lametag_frame;
  decltype(&::lame_close) lame_close;
  decltype(&::id3tag_init) id3tag_init;
  decltype(&::id3tag_set_title) id3tag_set_title;
  decltype(&::id3tag_set_artist) id3tag_set_artist;
  decltype(&::id3tag_set_album) id3tag_set_album;
  decltype(&::id3tag_set_year) id3tag_set_year;
  decltype(&::id3tag_set_track) id3tag_set_track;
  decltype(&::id3tag_set_comment) id3tag_set_comment;
};

// Loads libmp3lame.so.0 (or QUORVEL_LIB_MP3LAME) once and keeps it for the
// life of the process, so one output can never unload it under another; a
// failed load is tried again on the next call. Null when it cannot be loaded.
const TLameApi* LoadLame();

}  // namespace qv
