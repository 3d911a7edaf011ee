// Writes a seed set for the ID3v2 fuzz target into the folder given: tags written by the
// library itself in both versions with every option it writes, ahead of a few MPEG frames,
// each behind the byte of write options the target reads first.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/streams.h"
#include "tags/id3v2.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<uint8_t> Audio() {
  std::vector<uint8_t> out;
  for (int f = 0; f < 2; ++f) {
    out.insert(out.end(), {0xFF, 0xFB, 0x90, 0x04});
    for (int i = 4; i < 417; ++i) out.push_back(static_cast<uint8_t>(i * 31 + f));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  int n = 0;
  for (const uint8_t version : {uint8_t{3}, uint8_t{4}}) {
    for (int options = 0; options < 16; ++options) {
      const std::string path =
          dir + "/seed-v" + std::to_string(version) + "-" + std::to_string(options) + ".mp3";
      qv::fuzz::WriteFile(path, qv::fuzz::Text(Audio()));
      qv::Tid3v2tag tag;
      tag.LoadFromFile(path);
      tag.SetTextFrame("TIT2", "Seed \xC3\xBF\xC3\xA0 title");
      tag.SetTextFrame("TPE1", "\xE2\x98\x95 artist");
      tag.SetTextFrame("TALB", std::string(60, 'a'));
      tag.SetUnsynchronisation(options & 1);
      tag.SetExtendedHeader(options & 2);
      tag.SetCRCPresent(options & 4);
      if (version == 4 && (options & 2)) tag.SetTagRestrictions(true);
      if (options & 8) tag.Frames.SetWriteFlags(tag.Frames.IndexOf("TALB"), 2, 0x08);
      tag.PaddingMode = 0;
      tag.PaddingSize = (options & 1) ? 0 : 40;
      if (tag.SaveToFile("=", version, -1, 0) >= 0x100) return 1;
      // Written again by the target with other options: compression on, then off, with the
      // tag and frame unsynchronisation, CRC and padding swapped around.
      const std::string file = qv::ReadFileBytes(path);
      const auto write = static_cast<char>(options * 8 + (options & 1) * 2 + version * 33);
      std::remove(path.c_str());
      qv::fuzz::WriteFile(path, std::string(1, write) + file);
      ++n;
    }
  }
  std::printf("%d seeds in %s\n", n, dir.c_str());
  return 0;
}
