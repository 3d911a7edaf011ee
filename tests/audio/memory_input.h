// A PCM input over bytes in memory, for tests and benchmarks, with the faults
// a real source can show: failing Init, a read error at a position, a size it
// does not know, and a gate that holds a read until the test opens it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/audio_classes.h"

namespace qv::test {

// Deterministic 16-bit stereo audio: two tones and a little noise, so that a
// decoded copy can be matched against it.
inline std::vector<uint8_t> MakePcm(int frames, int channels = 2, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size_t(frames) * size_t(channels) * 2);
  uint32_t noise = seed;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double f = c == 0 ? 440.0 : 660.0 + 40.0 * double(seed % 7);
      const double v = 9000.0 * std::sin(2.0 * M_PI * f * i / 44100.0) +
                       4000.0 * std::sin(2.0 * M_PI * 97.0 * i / 44100.0 + c) +
                       double(int(noise >> 24) - 128) * 4.0;
      const auto s = int16_t(std::lround(v));
      std::memcpy(&bytes[(size_t(i) * channels + c) * 2], &s, 2);
    }
  }
  return bytes;
}

class TMemoryInput : public TAudioInput {
 public:
  explicit TMemoryInput(std::vector<uint8_t> Pcm = {}, int Channels = 2)
      : TAudioInput(nullptr), pcm_(std::move(Pcm)), channels_(Channels) {}
  ~TMemoryInput() override { Open(); }

  int GetBitsPerSample() override { return Bits; }
  int GetChannels() override { return channels_; }
  int GetSampleRate() override { return 44100; }

  void Init() override {
    if (FailInit) throw EAudioException("The drive is not ready");
    Busy = true;
    Position = 0;
    Size = UnknownSize ? -1 : int64_t(pcm_.size());
    ++Inits;
  }
  void Flush() override {
    Busy = false;
    ++Flushes;
  }
  int GetData(void* Buffer, int BufferSize) override {
    const void* data = nullptr;
    const int n = Next(data, BufferSize);
    std::memcpy(Buffer, data, size_t(n));
    return n;
  }
  // With InPlace, hands out pointers into the PCM, as the CD input does into its chunks.
  int GetDataInPlace(const void*& Data, int BufferSize, void* Scratch) override {
    if (!InPlace) return TAudioInput::GetDataInPlace(Data, BufferSize, Scratch);
    return Next(Data, BufferSize);
  }

  // Holds every read until Open().
  void Close() {
    std::lock_guard lock(gateLock_);
    closed_ = true;
  }
  void Open() {
    {
      std::lock_guard lock(gateLock_);
      closed_ = false;
    }
    gateCv_.notify_all();
  }

  int Bits = 16;
  bool InPlace = false;
  bool FailInit = false;
  bool UnknownSize = false;
  int64_t ReadErrorAt = -1;
  int MaxChunk = 1 << 30;
  std::atomic<int> Inits{0};
  std::atomic<int> Flushes{0};
  const std::vector<uint8_t>& Pcm() const { return pcm_; }

 private:
  int Next(const void*& Data, int BufferSize) {
    {
      std::unique_lock lock(gateLock_);
      gateCv_.wait(lock, [this] { return !closed_; });
    }
    const auto pos = size_t(Position.load());
    if (ReadErrorAt >= 0 && int64_t(pos) >= ReadErrorAt) throw EAudioException("Read error");
    size_t n = std::min(pcm_.size() - pos, size_t(std::min(BufferSize, MaxChunk)));
    Data = pcm_.data() + pos;
    Position += int64_t(n);
    return int(n);
  }

  std::vector<uint8_t> pcm_;
  int channels_;
  std::mutex gateLock_;
  std::condition_variable gateCv_;
  bool closed_ = false;
};

}  // namespace qv::test
