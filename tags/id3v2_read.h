// The reading side of `Tid3v2tag`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {
class Tid3v2tag;
class TStream;
namespace id3 {

// Parses the tag at `Offset` of `File` into `Tag` (already reset by the caller) and returns the
// result word. Holds at most 64 KB of the tag besides the frames' contents.
uint16_t LoadTag(Tid3v2tag& Tag, TStream& File, int64_t Offset);

// The length of the tag at `Offset` (header, body and a v2.4 footer), or 0 when no valid
// header is there; never more than the bytes from `Offset` to the end of the file.
int64_t ExistingTagSize(TStream& File, int64_t Offset);

// Reads up to `Count` bytes at `Pos`; fewer only at the end of the stream.
size_t ReadAt(TStream& File, int64_t Pos, void* Dest, size_t Count);

}  // namespace id3
}  // namespace qv
