#include "audio/audio_vorbis.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <random>

#include "audio/codec.h"
#include "audio/ogg.h"
#include "audio/vorbisenc.h"

namespace qv {

struct TVorbisOut::TState {
  ogg_stream_state os{};
  ogg_page og{};
  ogg_packet op{};
  vorbis_info vi{};
  vorbis_comment vc{};
  vorbis_dsp_state vd{};
  vorbis_block vb{};
  bool infoInit = false, commentInit = false, dspInit = false, blockInit = false,
       streamInit = false;
  bool ended = false;  // the encoder was told that the stream ends
  bool eos = false;    // the last page is written
};

int VorbisBitRateBps(TVorbisBitRate Value) {
  static constexpr int kBps[] = {-1,     45000,  48000,  56000,  64000,  80000,  96000,  112000,
                                 128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};
  return kBps[int(Value)];
}

TVorbisOut::TVorbisOut(TComponent* AOwner)
    : TAudioFileOut(AOwner), ogg_(LoadOgg()), vorbis_(LoadVorbis()), vorbisEnc_(LoadVorbisEnc()) {
  if (ogg_ == nullptr) throw EAudioException("libogg.so.0 library could not be loaded.");
  if (vorbis_ == nullptr) throw EAudioException("libvorbis.so.0 library could not be loaded.");
  if (vorbisEnc_ == nullptr)
    throw EAudioException("libvorbisenc.so.2 library could not be loaded.");
}

TVorbisOut::~TVorbisOut() {
  StopWorker();
}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  nominal_ = Value;
  if (minimum_ > Value) minimum_ = Value;
  if (maximum_ < Value) maximum_ = Value;
  if (Value == TVorbisBitRate::brAutoSelect) maximum_ = TVorbisBitRate::brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (nominal_ == TVorbisBitRate::brAutoSelect) return;
  if (Value != TVorbisBitRate::brAutoSelect && Value < nominal_) return;
  maximum_ = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (Value <= nominal_) minimum_ = Value;
}

void TVorbisOut::Prepare() {
  OpenFile();
  try {
    TAudioInput* const input = Input();
    InitInput(input);
    channels_ = input->GetChannels();
    if (input->GetBitsPerSample() != 16 || (channels_ != 1 && channels_ != 2))
      throw EAudioException("The Ogg Vorbis encoder takes 16-bit mono or stereo audio only.");
    pending_ = 0;
    state_ = std::make_unique<TState>();
    TState& s = *state_;
    vorbis_->vorbis_info_init(&s.vi);
    s.infoInit = true;
    int rc;
    const long rate = input->GetSampleRate();
    if (nominal_ == TVorbisBitRate::brAutoSelect) {
      rc = vorbisEnc_->vorbis_encode_init_vbr(&s.vi, channels_, rate, Compression);
    } else {
      const long nominal = VorbisBitRateBps(nominal_);
      long maximum = VorbisBitRateBps(maximum_);
      if (maximum < nominal) maximum = nominal;
      long minimum = VorbisBitRateBps(minimum_);
      if (minimum < 0) minimum = nominal;
      rc = vorbisEnc_->vorbis_encode_init(&s.vi, channels_, rate, maximum, nominal, minimum);
    }
    // The library crashes later when it goes on with settings it refused.
    if (rc != 0) throw EAudioException("The Ogg Vorbis encoder refuses these settings.");
    vorbis_->vorbis_comment_init(&s.vc);
    s.commentInit = true;
    for (const std::string& line : Comments) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      vorbis_->vorbis_comment_add_tag(&s.vc, line.substr(0, eq).c_str(),
                                      line.substr(eq + 1).c_str());
    }
    if (vorbis_->vorbis_analysis_init(&s.vd, &s.vi) != 0)
      throw EAudioException("The Ogg Vorbis encoder refuses these settings.");
    s.dspInit = true;
    vorbis_->vorbis_block_init(&s.vd, &s.vb);
    s.blockInit = true;
    int serial = Serial;
    if (serial == 0) serial = int(std::random_device{}());
    ogg_->ogg_stream_init(&s.os, serial);
    s.streamInit = true;
    ogg_packet header, comment, codebooks;
    vorbis_->vorbis_analysis_headerout(&s.vd, &s.vc, &header, &comment, &codebooks);
    ogg_->ogg_stream_packetin(&s.os, &header);
    ogg_->ogg_stream_packetin(&s.os, &comment);
    ogg_->ogg_stream_packetin(&s.os, &codebooks);
    // The audio starts on a fresh page.
    WritePages(true);
    buffer_.resize(65536);
  } catch (...) {
    Release();
    CloseInput();
    DiscardStream();
    throw;
  }
}

void TVorbisOut::WritePages(bool Flush) {
  TState& s = *state_;
  while (!s.eos) {
    const int got =
        Flush ? ogg_->ogg_stream_flush(&s.os, &s.og) : ogg_->ogg_stream_pageout(&s.os, &s.og);
    if (got == 0) break;
    WriteStream(s.og.header, size_t(s.og.header_len));
    WriteStream(s.og.body, size_t(s.og.body_len));
    if (ogg_->ogg_page_eos(&s.og) != 0) s.eos = true;
  }
}

void TVorbisOut::Put(const uint8_t* Pcm, int Frames) {
  if (Frames <= 0) return;
  TState& s = *state_;
  float** out = vorbis_->vorbis_analysis_buffer(&s.vd, Frames);
  const uint8_t* pcm = Pcm;
  const auto sample = [](const uint8_t* b) {
    return float(int16_t(uint16_t(b[0] | (b[1] << 8)))) * (1.0f / 32768.0f);
  };
  if (channels_ == 2) {
    float* left = out[0];
    float* right = out[1];
    for (int i = 0; i < Frames; ++i, pcm += 4) {
      left[i] = sample(pcm);
      right[i] = sample(pcm + 2);
    }
  } else {
    for (int i = 0; i < Frames; ++i, pcm += 2) out[0][i] = sample(pcm);
  }
  vorbis_->vorbis_analysis_wrote(&s.vd, Frames);
}

void TVorbisOut::Encode() {
  TState& s = *state_;
  while (vorbis_->vorbis_analysis_blockout(&s.vd, &s.vb) == 1) {
    vorbis_->vorbis_analysis(&s.vb, nullptr);
    vorbis_->vorbis_bitrate_addblock(&s.vb);
    while (vorbis_->vorbis_bitrate_flushpacket(&s.vd, &s.op) == 1)
      ogg_->ogg_stream_packetin(&s.os, &s.op);
    WritePages(false);
  }
}

void TVorbisOut::Take(const uint8_t* Bytes, int Count) {
  const int frameBytes = 2 * channels_;
  if (Bytes == buffer_.data() + pending_) {
    // Copied in behind what the last read left.
    const int total = pending_ + Count;
    const int frames = total / frameBytes;
    Put(buffer_.data(), frames);
    pending_ = total - frames * frameBytes;
    std::memmove(buffer_.data(), buffer_.data() + frames * frameBytes, size_t(pending_));
    return;
  }
  int used = 0;
  if (pending_ > 0) {
    used = std::min(frameBytes - pending_, Count);
    std::memcpy(buffer_.data() + pending_, Bytes, size_t(used));
    pending_ += used;
    if (pending_ < frameBytes) return;
    Put(buffer_.data(), 1);
    pending_ = 0;
  }
  const int frames = (Count - used) / frameBytes;
  Put(Bytes + used, frames);
  pending_ = Count - used - frames * frameBytes;
  std::memcpy(buffer_.data(), Bytes + used + frames * frameBytes, size_t(pending_));
}

bool TVorbisOut::DoOutput(bool Abort) {
  if (auto r = BeginBlock(Abort)) return *r;
  TState& s = *state_;
  if (s.eos) return false;
  // The audio is converted straight from where the input holds it, while the input cannot
  // be swapped; the encoding itself runs after.
  const int n = ReadInputInPlace(int(buffer_.size()) - pending_, buffer_.data() + pending_,
                                 [this](const uint8_t* Bytes, int Count) { Take(Bytes, Count); });
  if (n <= 0) {
    s.ended = true;
    vorbis_->vorbis_analysis_wrote(&s.vd, 0);
  }
  Encode();
  return true;
}

void TVorbisOut::Release() {
  if (state_) {
    TState& s = *state_;
    if (s.streamInit) ogg_->ogg_stream_clear(&s.os);
    if (s.blockInit) vorbis_->vorbis_block_clear(&s.vb);
    if (s.dspInit) vorbis_->vorbis_dsp_clear(&s.vd);
    if (s.commentInit) vorbis_->vorbis_comment_clear(&s.vc);
    if (s.infoInit) vorbis_->vorbis_info_clear(&s.vi);
    state_.reset();
  }
  buffer_.clear();
}

void TVorbisOut::Done() {
  std::exception_ptr failure;
  // A stopped or failed job still ends its stream, so the file stays playable.
  if (state_ && state_->streamInit && !state_->eos && StreamOpen()) {
    KeepFirstFailure(failure, [this] {
      if (!state_->ended) {
        state_->ended = true;
        vorbis_->vorbis_analysis_wrote(&state_->vd, 0);
      }
      Encode();
      WritePages(true);
    });
  }
  KeepFirstFailure(failure, [this] { CloseStream(); });
  Comments.clear();
  Release();
  CloseInput(&failure);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qv
