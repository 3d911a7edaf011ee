#include "audio/audio_lame.h"

#include <cstring>
#include <exception>

#include "audio/lame.h"
#include "platform/base/text.h"

namespace qv {

namespace {

constexpr int kOutBufSize = 17440;  // LAME's bound for a 16384-byte block, plus its margin

}  // namespace

int MP3BitRateKbps(TMP3BitRate Value) {
  static constexpr int kKbps[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                  96, 112, 128, 144, 160, 192, 224, 256, 320};
  return kKbps[int(Value)];
}

TMP3Out::TMP3Out(TComponent* AOwner) : TAudioFileOut(AOwner), lame_(LoadLame()) {
  if (lame_ == nullptr) throw EAudioException("libmp3lame.so.0 library could not be loaded.");
}

TMP3Out::~TMP3Out() {
  StopWorker();
}

void TMP3Out::Prepare() {
  OpenFile();
  try {
    start_ = TellStream();
    TAudioInput* const input = Input();
    InitInput(input);
    channels_ = input->GetChannels();
    frameBytes_ = input->GetBitsPerSample() / 8 * channels_;
    if (input->GetBitsPerSample() != 16 || (channels_ != 1 && channels_ != 2))
      throw EAudioException("The MP3 encoder takes 16-bit mono or stereo audio only.");
    pending_ = 0;
    handle_ = lame_->lame_init();
    if (handle_ == nullptr) throw EAudioException("Failed to initialize MP3 encoder.");
    const int64_t size = input->Size;
    lame_->lame_set_num_samples(handle_, size >= 1 ? (unsigned long)(size / frameBytes_) : 0);
    lame_->lame_set_in_samplerate(handle_, input->GetSampleRate());
    lame_->lame_set_num_channels(handle_, 2);
    lame_->lame_set_brate(handle_, MP3BitRateKbps(BitRate));
    if (lame_->lame_init_params(handle_) < 0)
      throw EAudioException("The MP3 encoder refuses these settings.");
    out_.resize(kOutBufSize);
  } catch (...) {
    if (handle_ != nullptr) lame_->lame_close(handle_);
    handle_ = nullptr;
    CloseInput();
    DiscardStream();
    throw;
  }
}

bool TMP3Out::DoOutput(bool Abort) {
  if (auto r = BeginBlock(Abort)) return *r;
  const int n = ReadInput(in_ + pending_, int(sizeof in_) - pending_);
  if (n == 0) return false;
  const int total = pending_ + n;
  const int frames = total / frameBytes_;
  auto* pcm = reinterpret_cast<short*>(in_);
  const int r =
      channels_ == 2
          ? lame_->lame_encode_buffer_interleaved(handle_, pcm, frames, out_.data(), kOutBufSize)
          : lame_->lame_encode_buffer(handle_, pcm, pcm, frames, out_.data(), kOutBufSize);
  if (r < 0) throw EAudioException("Failed to encode data.");
  WriteStream(out_.data(), size_t(r));
  pending_ = total - frames * frameBytes_;
  std::memmove(in_, in_ + frames * frameBytes_, size_t(pending_));
  return true;
}

void TMP3Out::Finish() {
  auto* h = handle_;
  // ID3v1 holds Latin-1; characters beyond it become "?".
  lame_->id3tag_init(h);
  lame_->id3tag_set_title(h, Utf8ToLatin1(Id3TagTitle).c_str());
  lame_->id3tag_set_artist(h, Utf8ToLatin1(Id3TagArtist).c_str());
  lame_->id3tag_set_album(h, Utf8ToLatin1(Id3TagAlbum).c_str());
  lame_->id3tag_set_year(h, Utf8ToLatin1(Id3TagYear).c_str());
  lame_->id3tag_set_track(h, Utf8ToLatin1(Id3TagTrack).c_str());
  lame_->id3tag_set_comment(h, Utf8ToLatin1(Id3TagComment).c_str());
  const int r = lame_->lame_encode_flush(h, out_.data(), kOutBufSize);
  if (r < 0) throw EAudioException("Failed to encode data.");
  WriteStream(out_.data(), size_t(r));
  // The first frame was reserved for the encoder's info frame; filling it in
  // lets a decoder drop the encoder delay and padding, so the file plays from
  // its first sample and ends on its last.
  const size_t tag = lame_->lame_get_lametag_frame(h, out_.data(), out_.size());
  if (tag > 0 && tag <= out_.size()) {
    const int64_t end = TellStream();
    SeekStream(start_);
    WriteStream(out_.data(), tag);
    SeekStream(end);
  }
}

void TMP3Out::Done() {
  std::exception_ptr failure;
  if (handle_ != nullptr) {
    KeepFirstFailure(failure, [this] { Finish(); });
    lame_->lame_close(handle_);
    handle_ = nullptr;
  }
  KeepFirstFailure(failure, [this] { CloseStream(); });
  out_.clear();
  CloseInput(&failure);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qv
