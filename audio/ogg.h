// Run-time binding of the Ogg framing library, made when the unit is first used.
#pragma once

#include <ogg/ogg.h>

namespace qv {

struct TOggApi {
  decltype(&::ogg_stream_init) ogg_stream_init;
  decltype(&::ogg_stream_packetin) ogg_stream_packetin;
  decltype(&::ogg_stream_pageout) ogg_stream_pageout;
  decltype(&::ogg_stream_flush) ogg_stream_flush;
  decltype(&::ogg_stream_clear) ogg_stream_clear;
  decltype(&::ogg_page_eos) ogg_page_eos;
};

// libogg.so.0 (or QUORVEL_LIB_OGG), loaded once; null when it is missing.
const TOggApi* LoadOgg();

}  // namespace qv
