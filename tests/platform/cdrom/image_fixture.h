// Disc images the CD layer's tests share, made with the disc-image maker.
#pragma once

#include <string>

#include "tools/mkdisc/disc_maker.h"

namespace qv::testing {

// Four audio tracks (plain, copy permitted, pre-emphasis, both) and a data track after the
// session gap: every flag and both track kinds on one disc.
inline DiscSpec MixedDisc(std::uint32_t gap = kSessionGapSectors) {
  DiscSpec spec;
  spec.AudioTracks = {
      {300, false, false}, {226, false, true}, {151, true, false}, {75, true, true}};
  spec.DataSectors = 150;
  spec.SessionGap = gap;
  spec.Seed = 7;
  return spec;
}

inline DiscSpec AudioDisc() {
  DiscSpec spec;
  spec.AudioTracks = {{200}, {1}, {376}};
  spec.Seed = 3;
  return spec;
}

}  // namespace qv::testing
