// Running the real decoders and inspectors the encoded files are checked with.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

namespace qv::test {

struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

inline CommandResult RunCommand(const std::string& Command) {
  auto shell = RunShellCommand(Command + " 2>&1");
  return {shell.status, std::move(shell.output)};
}

inline std::string Quote(const std::string& S) {
  return ShellQuote(S);
}

// The file's bytes, or its first Limit bytes.
inline std::vector<uint8_t> ReadBytes(const std::string& Path, size_t Limit = SIZE_MAX) {
  std::ifstream in(Path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const auto size = std::min(size_t(std::max<std::streamoff>(in.tellg(), 0)), Limit);
  in.seekg(0);
  std::vector<uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
  bytes.resize(size_t(in.gcount()));
  return bytes;
}

inline void WriteBytes(const std::string& Path, const std::vector<uint8_t>& Bytes) {
  std::ofstream out(Path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
}

inline std::string Md5Of(const std::vector<uint8_t>& Bytes, const std::string& Scratch) {
  WriteBytes(Scratch, Bytes);
  const auto r = RunCommand("md5sum " + Quote(Scratch));
  return r.output.substr(0, 32);
}

// A fresh folder per test under the system's temporary folder, removed afterwards.
// Interleaved 16-bit samples of one channel.
inline std::vector<double> Channel(const std::vector<uint8_t>& Pcm, int Channels, int Which) {
  std::vector<double> out;
  for (size_t i = size_t(Which) * 2; i + 1 < Pcm.size(); i += size_t(Channels) * 2) {
    int16_t s;
    std::memcpy(&s, &Pcm[i], 2);
    out.push_back(s);
  }
  return out;
}

// Normalised correlation of two signals, the second shifted by Lag samples.
inline double Correlation(const std::vector<double>& A, const std::vector<double>& B, int Lag = 0) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < A.size(); ++i) {
    const long j = long(i) + Lag;
    if (j < 0 || size_t(j) >= B.size()) continue;
    ab += A[i] * B[size_t(j)];
    aa += A[i] * A[i];
    bb += B[size_t(j)] * B[size_t(j)];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace qv::test
