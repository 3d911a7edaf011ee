#include "audio/audio_flac.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "audio/flac.h"

namespace qv {

namespace {
FLAC__StreamEncoder* Enc(void* P) {
  return static_cast<FLAC__StreamEncoder*>(P);
}
}  // namespace

// The encoder's callbacks reach the output's file; no exception may cross the
// library, so failures become the statuses the library defines.
struct TFLACCallbacks {
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte Buffer[],
                                              size_t Bytes, uint32_t, uint32_t, void* Client) {
    try {
      static_cast<TFLACOut*>(Client)->WriteStream(Buffer, Bytes);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (const std::exception& e) {
      static_cast<TFLACOut*>(Client)->StreamFailed(e);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }
  static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 Offset,
                                            void* Client) {
    try {
      auto* out = static_cast<TFLACOut*>(Client);
      out->SeekStream(out->start_ + int64_t(Offset));
      return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    } catch (const std::exception& e) {
      static_cast<TFLACOut*>(Client)->StreamFailed(e);
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
  }
  static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* Offset,
                                            void* Client) {
    try {
      auto* out = static_cast<TFLACOut*>(Client);
      *Offset = FLAC__uint64(out->TellStream() - out->start_);
      return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    } catch (const std::exception& e) {
      static_cast<TFLACOut*>(Client)->StreamFailed(e);
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    }
  }
};

TFLACOut::TFLACOut(TComponent* AOwner) : TAudioFileOut(AOwner), flac_(LoadFLAC()) {
  if (flac_ == nullptr) throw EAudioException("libFLAC.so.12 library could not be loaded.");
}

TFLACOut::~TFLACOut() {
  StopWorker();
}

void TFLACOut::SetBestModelSearch(bool Value) {
  if (Value) {
    EnableMidSideStereo = true;
    looseMidSide_ = false;
  }
  bestModelSearch_ = Value;
}

void TFLACOut::SetEnableLooseMidSideStereo(bool Value) {
  if (Value) EnableMidSideStereo = true;
  looseMidSide_ = Value;
}

void TFLACOut::StreamFailed(const std::exception& E) {
  if (streamError_.empty()) streamError_ = E.what();
}

EAudioException TFLACOut::EncodeFailure() const {
  if (streamError_.empty()) return EAudioException("Failed to encode data.");
  return EAudioException("Failed to encode data. " + streamError_);
}

void TFLACOut::Prepare() {
  OpenFile();
  try {
    streamError_.clear();
    start_ = TellStream();
    endOfInput_ = false;
    encoder_ = flac_->new_();
    if (encoder_ == nullptr) throw EAudioException("Failed to initialize FLAC encoder.");
    TAudioInput* const input = Input();
    InitInput(input);
    const int bits = input->GetBitsPerSample();
    channels_ = input->GetChannels();
    bytesPerSample_ = bits / 8;
    auto* e = Enc(encoder_);
    flac_->set_verify(e, Verify);
    flac_->set_channels(e, uint32_t(channels_));
    flac_->set_bits_per_sample(e, uint32_t(bits));
    flac_->set_sample_rate(e, uint32_t(input->GetSampleRate()));
    if (channels_ == 2) {
      flac_->set_do_mid_side_stereo(e, EnableMidSideStereo);
      flac_->set_loose_mid_side_stereo(e, looseMidSide_);
    }
    flac_->set_blocksize(e, BlockSize);
    flac_->set_max_lpc_order(e, MaxLPCOrder);
    if (bits + QLPCoeffPrecision > 31) QLPCoeffPrecision = uint16_t(31 - bits);
    flac_->set_qlp_coeff_precision(e, QLPCoeffPrecision);
    flac_->set_do_qlp_coeff_prec_search(e, QLPCoeffPrecisionSearch);
    flac_->set_min_residual_partition_order(e, MinResidualPartitionOrder);
    flac_->set_max_residual_partition_order(e, MaxResidualPartitionOrder);
    flac_->set_do_exhaustive_model_search(e, bestModelSearch_);
    const int64_t size = input->Size;
    if (size > 0 && bytesPerSample_ > 0 && channels_ > 0)
      flac_->set_total_samples_estimate(
          e, FLAC__uint64(std::nearbyint(double(size) / bytesPerSample_ / channels_)));
    if (bytesPerSample_ < 1 || bytesPerSample_ > 3 ||
        flac_->init_stream(e, &TFLACCallbacks::Write, &TFLACCallbacks::Seek, &TFLACCallbacks::Tell,
                           nullptr, this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
      throw EAudioException("Failed to initialize FLAC encoder.");
    block_.resize(size_t(bytesPerSample_) * BlockSize * size_t(channels_));
    samples_.resize(block_.size() / size_t(bytesPerSample_));
  } catch (...) {
    Release();
    CloseInput();
    DiscardStream();
    throw;
  }
}

namespace {
// PCM bytes to the library's samples: 8-bit PCM is unsigned around 128, wider PCM signed.
void ToSamples(const uint8_t* p, int32_t* out, size_t count, int bytesPerSample) {
  switch (bytesPerSample) {
    case 1:
      for (size_t i = 0; i < count; ++i) out[i] = int32_t(p[i]) - 128;
      break;
    case 2:
      for (size_t i = 0; i < count; ++i) out[i] = int16_t(uint16_t(p[2 * i] | (p[2 * i + 1] << 8)));
      break;
    default:
      for (size_t i = 0; i < count; ++i, p += 3)
        out[i] = int32_t(uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
      break;
  }
}
}  // namespace

void TFLACOut::Convert(const uint8_t* Bytes, size_t At, size_t Count) {
  const size_t width = size_t(bytesPerSample_);
  const size_t end = At + Count;
  if (At % width != 0) {
    // The rest of a sample the last read began.
    const size_t take = std::min(width - At % width, Count);
    std::memmove(block_.data() + At, Bytes, take);
    Bytes += take;
    At += take;
    if (At % width == 0)
      ToSamples(block_.data() + At - width, samples_.data() + At / width - 1, 1, bytesPerSample_);
  }
  const size_t whole = (end - At) / width;
  ToSamples(Bytes, samples_.data() + At / width, whole, bytesPerSample_);
  Bytes += whole * width;
  At += whole * width;
  // The start of a sample the next read ends.
  if (At < end) std::memmove(block_.data() + At, Bytes, end - At);
}

bool TFLACOut::DoOutput(bool Abort) {
  if (auto r = BeginBlock(Abort || endOfInput_)) return *r;
  // The samples are converted straight from where the input holds its bytes.
  size_t filled = 0;
  while (filled < block_.size()) {
    const int n = ReadInputInPlace(
        int(block_.size() - filled), block_.data() + filled,
        [this, filled](const uint8_t* Bytes, int Count) { Convert(Bytes, filled, size_t(Count)); });
    if (n <= 0) {
      endOfInput_ = true;
      break;
    }
    filled += size_t(n);
  }
  const size_t frames = filled / (size_t(bytesPerSample_) * size_t(channels_));
  if (frames == 0) return false;
  if (!flac_->process_interleaved(Enc(encoder_), samples_.data(), uint32_t(frames)))
    throw EncodeFailure();
  return true;
}

void TFLACOut::Release() {
  if (encoder_ != nullptr) flac_->delete_(Enc(encoder_));
  encoder_ = nullptr;
  block_.clear();
  samples_.clear();
}

void TFLACOut::Done() {
  std::exception_ptr failure;
  if (encoder_ != nullptr) {
    // finish writes the last block and seeks back to complete the stream information.
    const bool finished = flac_->get_state(Enc(encoder_)) == FLAC__STREAM_ENCODER_OK
                              ? bool(flac_->finish(Enc(encoder_)))
                              : (flac_->finish(Enc(encoder_)), false);
    if (!finished) failure = std::make_exception_ptr(EncodeFailure());
  }
  Release();
  KeepFirstFailure(failure, [this] { CloseStream(); });
  CloseInput(&failure);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qv
