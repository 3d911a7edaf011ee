#include "tests/tags/tag_fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/base/text.h"
#include "tests/fixtures/run_command.h"

namespace qv::testing {

Bytes Mp3Audio(int frames, uint32_t seed) {
  constexpr size_t kFrameSize = 417;  // 144 * 128000 / 44100, no padding slot
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(kFrameSize * static_cast<size_t>(frames));
  for (int f = 0; f < frames; ++f) {
    const size_t start = out.size();
    out.insert(out.end(), {0xFF, 0xFB, 0x90, 0x04});
    out.resize(start + 4 + 32, 0);  // side information: no main data, silence
    while (out.size() < start + kFrameSize) out.push_back(static_cast<uint8_t>(rng()));
  }
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

uint64_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

Bytes SyncSafe(uint32_t v) {
  return {static_cast<uint8_t>((v >> 21) & 0x7F), static_cast<uint8_t>((v >> 14) & 0x7F),
          static_cast<uint8_t>((v >> 7) & 0x7F), static_cast<uint8_t>(v & 0x7F)};
}

Bytes BigEndian(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes Tag(uint8_t version, uint8_t flags, const Bytes& body, uint8_t revision) {
  return Concat({{'I', 'D', '3', version, revision, flags},
                 SyncSafe(static_cast<uint32_t>(body.size())),
                 body});
}

Bytes Frame(uint8_t version, std::string_view id, const Bytes& content, uint8_t status,
            uint8_t format, int64_t size) {
  const auto n = static_cast<uint32_t>(size >= 0 ? size : static_cast<int64_t>(content.size()));
  return Concat({Text(id), version == 4 ? SyncSafe(n) : BigEndian(n), {status, format}, content});
}

namespace {

std::string Utf16(const Bytes& c, size_t pos, bool bigEndian) {
  std::string out;
  for (; pos + 1 < c.size(); pos += 2) {
    char32_t unit = bigEndian ? (c[pos] << 8 | c[pos + 1]) : (c[pos + 1] << 8 | c[pos]);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && pos + 3 < c.size()) {
      const char32_t low =
          bigEndian ? (c[pos + 2] << 8 | c[pos + 3]) : (c[pos + 3] << 8 | c[pos + 2]);
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      pos += 2;
    }
    qv::AppendUtf8(out, unit);
  }
  return out;
}

std::string Unhex(const std::string& s) {
  std::string out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    out += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
  }
  return out;
}

}  // namespace

std::string DecodeTextFrame(const Bytes& c) {
  if (c.empty()) return "";
  std::string out;
  switch (c[0]) {
    case 0:
      for (size_t i = 1; i < c.size() && c[i] != 0; ++i) qv::AppendUtf8(out, c[i]);
      return out;
    case 1: {
      if (c.size() < 3) return "";
      const bool bigEndian = c[1] == 0xFE && c[2] == 0xFF;
      return Utf16(c, 3, bigEndian);
    }
    case 2:
      return Utf16(c, 1, true);
    default:
      for (size_t i = 1; i < c.size() && c[i] != 0; ++i) out += static_cast<char>(c[i]);
      return out;
  }
}

std::pair<int, std::string> RunShell(const std::string& command) {
  auto result = qv::test::RunShellCommand(command);
  return {result.status, std::move(result.output)};
}

std::pair<int, std::string> RunPeer(const std::vector<std::string>& args) {
  std::string command = "/usr/bin/python3 " QV_SOURCE_DIR "/tests/tags/id3_peer.py";
  for (const std::string& a : args) command += " '" + a + "'";
  return RunShell(command);
}

std::vector<PeerFrame> PeerRead(const std::string& path, int* version, Reader reader) {
  const auto [status, output] = RunPeer({reader == Reader::Mutagen ? "dump" : "dump-eyed3", path});
  EXPECT_EQ(status, 0) << output;
  std::vector<PeerFrame> frames;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind, a, b;
    fields >> kind >> a >> b;
    if (kind == "version" && version != nullptr) *version = std::stoi(a);
    if (kind == "frame") frames.push_back({a, b == "-" ? "" : Unhex(b)});
  }
  return frames;
}

}  // namespace qv::testing
