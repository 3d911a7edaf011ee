// Test helpers: temporary folders, generated MP3 audio, hand-built tags and the mutagen peer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/fixtures/temp_dir.h"

namespace qv::testing {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with its contents.
using TempDir = qv::test::TempDir;

// `frames` MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, stereo) whose side information
// decodes to silence; the rest of each frame is pseudo-random, so a shifted byte shows.
Bytes Mp3Audio(int frames, uint32_t seed = 1);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
uint64_t Inode(const std::string& path);

// Pieces of hand-built tags.
Bytes SyncSafe(uint32_t value);
Bytes BigEndian(uint32_t value);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(std::string_view s);
// "ID3", version, revision, flags and the sync-safe size of `body`, then `body`.
Bytes Tag(uint8_t version, uint8_t flags, const Bytes& body, uint8_t revision = 0);
// A frame with its header; `size` overrides the size field when not -1.
Bytes Frame(uint8_t version, std::string_view id, const Bytes& content, uint8_t status = 0,
            uint8_t format = 0, int64_t size = -1);

// The total length of the ID3v2 tag at the start of `file`.
inline size_t TagLength(const Bytes& file) {
  return 10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]);
}

// Text content of a text frame in any of the four encodings, as UTF-8.
std::string DecodeTextFrame(const Bytes& content);

// Runs the mutagen peer script with /usr/bin/python3; returns its exit status and stdout.
std::pair<int, std::string> RunPeer(const std::vector<std::string>& args);
// A program's exit status and stdout, run through the shell.
std::pair<int, std::string> RunShell(const std::string& command);

struct PeerFrame {
  std::string id;
  std::string text;  // UTF-8 text of a text frame, "" for other frames
};
enum class Reader { Mutagen, EyeD3 };
// The frames the reader finds in `path` (its tag version in `version`); fails the test when
// it cannot read the tag.
std::vector<PeerFrame> PeerRead(const std::string& path, int* version = nullptr,
                                Reader reader = Reader::Mutagen);

}  // namespace qv::testing
