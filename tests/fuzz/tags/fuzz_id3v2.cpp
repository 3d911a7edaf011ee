// libFuzzer target over the ID3v2 reader and writer: the first byte chooses how the tag is
// written again (tag unsynchronisation, extended header, tag CRC, restrictions, each frame's
// compression and unsynchronisation, padding), the rest is the file. Any bytes must load to
// a result word, and whatever loads must decode, save with those options and load again
// without a crash, a hang or a sanitizer report.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tags/id3v2.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The input lives in a memory file, so each run costs no disk access.
const std::string& InputPath() {
  static const std::string path = [] {
    const int fd = memfd_create("id3v2-fuzz", 0);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

// A real file for the writer, which may replace the file through a temporary copy.
const std::string kSavePath = qv::fuzz::ScratchDir() + "input.mp3";

void DecodeFrames(qv::Tid3v2tag& tag) {
  for (int i = 1; i <= tag.Frames.Count(); ++i) {
    tag.Frames.DeunsyncFrame(i);
    try {
      tag.Frames.DecompressFrame(i);
    } catch (const qv::EZLibError&) {
      // A damaged stream is reported, which is all that is asked of it.
    }
  }
}

// The write options of the first byte; a frame marked changed is written through the
// compression and unsynchronisation passes rather than copied as read.
void ChooseWriteOptions(qv::Tid3v2tag& tag, uint8_t options) {
  tag.SetUnsynchronisation(options & 1);
  tag.SetExtendedHeader(options & 2);
  tag.SetCRCPresent(options & 4);
  if (options & 64) tag.SetTagRestrictions(true);
  for (int i = 1; i <= tag.Frames.Count(); ++i) {
    uint8_t format = tag.Frames.WriteFlags(i, 2);
    if (options & 8) format |= 0x08;
    if (options & 16) format |= 0x02;
    if (options & 32) format &= ~0x08;
    tag.Frames.SetWriteFlags(i, 2, format);
  }
  if (options & 128) tag.PaddingMode = 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  ++data;
  --size;
  qv::fuzz::WriteFile(InputPath(), qv::fuzz::Text(data, size));
  qv::Tid3v2tag tag;
  const uint16_t loaded = tag.LoadFromFile(InputPath());
  if (loaded >= 0x100) {
    DecodeFrames(tag);
    return 0;
  }

  // What loads must survive a save in each version and load again as written.
  qv::fuzz::WriteFile(kSavePath, qv::fuzz::Text(data, size));
  for (const uint8_t version : {uint8_t{4}, uint8_t{3}}) {
    qv::Tid3v2tag copy;
    if (copy.LoadFromFile(kSavePath) >= 0x100) std::abort();
    ChooseWriteOptions(copy, options);
    const uint16_t saved = copy.SaveToFile("=", version, -1, 0);
    if (saved >= 0x100) continue;
    const int frames = copy.Frames.Count();
    qv::Tid3v2tag again;
    const uint16_t reloaded = again.LoadFromFile(kSavePath);
    if (reloaded >= 0x100 || again.Frames.Count() != frames) {
      std::fprintf(stderr, "saved as v2.%d (%04x) but reloads as %04x with %d of %d frames\n",
                   version, saved, reloaded, again.Frames.Count(), frames);
      std::abort();
    }
  }
  DecodeFrames(tag);
  return 0;
}
