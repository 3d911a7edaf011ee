#include "audio/lame.h"

#include <memory>
#include <mutex>

#include "audio/library_loader.h"

namespace qv {

namespace {

struct TLameLibrary {
  TLibraryLoader loader{"libmp3lame.so.0"};
  TLameApi api{};
  TLameLibrary() {
    auto& l = loader;
    l.Bind(api.lame_init, "lame_init");
    l.Bind(api.lame_set_num_samples, "lame_set_num_samples");
    l.Bind(api.lame_set_in_samplerate, "lame_set_in_samplerate");
    l.Bind(api.lame_set_num_channels, "lame_set_num_channels");
    l.Bind(api.lame_set_brate, "lame_set_brate");
    l.Bind(api.lame_init_params, "lame_init_params");
    l.Bind(api.lame_encode_buffer, "lame_encode_buffer");
    l.Bind(api.lame_encode_buffer_interleaved, "lame_encode_buffer_interleaved");
    l.Bind(api.lame_encode_flush, "lame_encode_flush");
    l.Bind(api.lame_get_lametag_frame, "lame_get_lametag_frame");
    l.Bind(api.lame_close, "lame_close");
    l.Bind(api.id3tag_init, "id3tag_init");
    l.Bind(api.id3tag_set_title, "id3tag_set_title");
    l.Bind(api.id3tag_set_artist, "id3tag_set_artist");
    l.Bind(api.id3tag_set_album, "id3tag_set_album");
    l.Bind(api.id3tag_set_year, "id3tag_set_year");
    l.Bind(api.id3tag_set_track, "id3tag_set_track");
    l.Bind(api.id3tag_set_comment, "id3tag_set_comment");
  }
};

}  // namespace

const TLameApi* LoadLame() {
  static std::mutex lock;
  static std::unique_ptr<TLameLibrary> library;
  std::lock_guard guard(lock);
  if (!library) {
    auto candidate = std::make_unique<TLameLibrary>();
    if (!candidate->loader.Complete()) return nullptr;
    library = std::move(candidate);
  }
  return &library->api;
}

}  // namespace qv
