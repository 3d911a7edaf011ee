// The writing side of `Tid3v2tag`.
#pragma once

#include <cstdint>
#include <string>

namespace qv {
class Tid3v2tag;
namespace id3 {

// Writes `Tag` at `Offset` of the file `Path` as the given version and revision and returns
// the result word. A tag that keeps its old length is written in place; any other is written
// into a new copy of the file that replaces the old one only when complete.
uint16_t WriteTag(Tid3v2tag& Tag, const std::string& Path, uint8_t Version, int64_t Offset,
                  uint8_t Revision);

}  // namespace id3
}  // namespace qv
