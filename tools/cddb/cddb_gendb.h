// Makes a local CD database of generated entries for benchmarks and tests: discs of 1 to 25
// tracks with random lengths, spread over the eleven usual categories, written in either
// layout. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cddb/cddb_types.h"

namespace qv {

struct GeneratedDisc {
  std::string Category;
  TCDTOC TOC;
};

struct GenerateOptions {
  std::size_t Count = 1000;
  std::uint32_t Seed = 1;
  TLocalCDDBType Layout = lctUNIX;
  std::size_t Keep = 100;  // how many of the discs to hand back, from the first on
};

// Writes the entries under `root` (created when missing; existing entries of the same
// identifiers are replaced). No index is built. Returns the first `Keep` discs.
std::vector<GeneratedDisc> GenerateDatabase(const std::string& root,
                                            const GenerateOptions& options);

}  // namespace qv
