// Ogg Vorbis files, in quality mode or managed bit-rate mode, with user comments;
// a new stream can be appended to an existing file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_classes.h"

namespace qv {

struct TOggApi;
struct TVorbisApi;
struct TVorbisEncApi;

enum class TVorbisBitRate : uint8_t {
  brAutoSelect,
  br45,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br144,
  br160,
  br192,
  br224,
  br256,
  br320,
  br499
};
// Bits per second; -1 for brAutoSelect.
int VorbisBitRateBps(TVorbisBitRate Value);

class TVorbisOut : public TAudioFileOut {
 public:
  // Raises "<library> library could not be loaded." for the first missing library.
  explicit TVorbisOut(TComponent* AOwner = nullptr);
  ~TVorbisOut() override;

  float Compression = 0.2f;
  // Lines name=value, in order; emptied after every file.
  std::vector<std::string> Comments;
  // The stream's serial number; 0 draws a fresh random one for every stream, so
  // that streams appended to one file never share a number.
  int32_t Serial = 0;

  [[nodiscard]] TVorbisBitRate DesiredNominalBitrate() const { return nominal_; }
  [[nodiscard]] TVorbisBitRate DesiredMaximumBitrate() const { return maximum_; }
  [[nodiscard]] TVorbisBitRate MinimumBitrate() const { return minimum_; }
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  void SetMinimumBitrate(TVorbisBitRate Value);
  void SetFileMode(TFileOutputMode Value) override { fileMode_ = Value; }

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  struct TState;
  void WritePages(bool Flush);
  // Takes `Count` bytes of 16-bit PCM from a read: whole frames go to the encoder, the start
  // of a frame the next read ends waits in buffer_.
  void Take(const uint8_t* Bytes, int Count);
  // Hands `Frames` frames of 16-bit PCM at `Pcm` to the encoder.
  void Put(const uint8_t* Pcm, int Frames);
  // Encodes what the encoder holds and writes the pages it completes.
  void Encode();
  // Frees the encoder and its buffers; the caller closes the input and the stream.
  void Release();

  const TOggApi* ogg_;
  const TVorbisApi* vorbis_;
  const TVorbisEncApi* vorbisEnc_;
  TVorbisBitRate nominal_ = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate maximum_ = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate minimum_ = TVorbisBitRate::brAutoSelect;
  std::unique_ptr<TState> state_;
  int channels_ = 2;
  int pending_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace qv
