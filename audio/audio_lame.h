// MP3 files at a constant bit rate through the LAME encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_classes.h"

struct lame_global_struct;

namespace qv {

struct TLameApi;

enum class TMP3BitRate : uint8_t {
  br8,
  br16,
  br24,
  br32,
  br40,
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
  br320
};
// The number in the value's name.
int MP3BitRateKbps(TMP3BitRate Value);

class TMP3Out : public TAudioFileOut {
 public:
  // Raises "libmp3lame.so.0 library could not be loaded." when the encoder is missing.
  explicit TMP3Out(TComponent* AOwner = nullptr);
  ~TMP3Out() override;

  TMP3BitRate BitRate = TMP3BitRate::br128;
  std::string Id3TagTitle, Id3TagArtist, Id3TagAlbum, Id3TagYear, Id3TagTrack, Id3TagComment;

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  void Finish();

  const TLameApi* lame_;
  lame_global_struct* handle_ = nullptr;
  int frameBytes_ = 4;
  int channels_ = 2;
  int pending_ = 0;    // bytes of an incomplete sample frame kept for the next block
  int64_t start_ = 0;  // where the stream began in the file
  uint8_t in_[16384];
  std::vector<uint8_t> out_;
};

}  // namespace qv
