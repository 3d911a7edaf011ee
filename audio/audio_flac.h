// Lossless FLAC files; the encoder seeks back through the output's file to
// complete the stream information when it finishes.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "audio/audio_classes.h"

namespace qv {

struct TFLACApi;

class TFLACOut : public TAudioFileOut {
 public:
  // Raises "libFLAC.so.12 library could not be loaded." when the library is missing.
  explicit TFLACOut(TComponent* AOwner = nullptr);
  ~TFLACOut() override;

  bool Verify = false;
  uint16_t BlockSize = 4608;
  bool EnableMidSideStereo = true;
  uint16_t MaxLPCOrder = 0;
  uint16_t QLPCoeffPrecision = 0;
  bool QLPCoeffPrecisionSearch = false;
  uint16_t MaxResidualPartitionOrder = 0;
  uint16_t MinResidualPartitionOrder = 0;

  [[nodiscard]] bool BestModelSearch() const { return bestModelSearch_; }
  // True also turns mid-side stereo on and loose mid-side stereo off.
  void SetBestModelSearch(bool Value);
  [[nodiscard]] bool EnableLooseMidSideStereo() const { return looseMidSide_; }
  // True also turns mid-side stereo on.
  void SetEnableLooseMidSideStereo(bool Value);

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  friend struct TFLACCallbacks;
  // Frees the encoder and its buffers; the caller closes the input and the stream.
  void Release();
  // Turns `Count` bytes of PCM that sit at byte `At` of the block into samples_, finishing a
  // sample split between two reads through block_.
  void Convert(const uint8_t* Bytes, size_t At, size_t Count);
  // Keeps the first failure of a stream callback, whose exception cannot cross the library.
  void StreamFailed(const std::exception& E);
  // "Failed to encode data.", with the reason a stream callback gave, if any.
  [[nodiscard]] EAudioException EncodeFailure() const;

  const TFLACApi* flac_;
  bool bestModelSearch_ = false;
  bool looseMidSide_ = false;
  void* encoder_ = nullptr;  // the library's encoder
  bool endOfInput_ = false;
  int bytesPerSample_ = 2;
  int channels_ = 2;
  int64_t start_ = 0;
  std::string streamError_;     // why the file could not be written, sought or told
  std::vector<uint8_t> block_;  // a block's bytes where the input copies them, or split samples
  std::vector<int32_t> samples_;
};

}  // namespace qv
