// The reading side of `Tid3v2tag`.
#pragma once

#include <cstdint>

namespace qv {
class Tid3v2tag;
namespace id3 {
class TagFile;

// Parses the tag at `Offset` of `File` into `Tag` (already reset by the caller) and returns the
// result word. Holds at most 64 KB of the tag besides the frames' contents.
uint16_t LoadTag(Tid3v2tag& Tag, const TagFile& File, int64_t Offset);

// The length of the tag at `Offset` (header, body and a v2.4 footer), or 0 when no valid
// header is there; never more than the bytes from `Offset` to the end of the file.
int64_t ExistingTagSize(const TagFile& File, int64_t Offset);

}  // namespace id3
}  // namespace qv
