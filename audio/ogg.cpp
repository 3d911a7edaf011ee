#include "audio/ogg.h"

#include "audio/library_loader.h"

namespace qv {

namespace {
struct TOggLibrary {
  TLibraryLoader loader{"libogg.so.0"};
  TOggApi api{};
  TOggLibrary() {
    loader.Bind(api.ogg_stream_init, "ogg_stream_init");
    loader.Bind(api.ogg_stream_packetin, "ogg_stream_packetin");
    loader.Bind(api.ogg_stream_pageout, "ogg_stream_pageout");
    loader.Bind(api.ogg_stream_flush, "ogg_stream_flush");
    loader.Bind(api.ogg_stream_clear, "ogg_stream_clear");
    loader.Bind(api.ogg_page_eos, "ogg_page_eos");
  }
};
}  // namespace

const TOggApi* LoadOgg() {
  static const TOggLibrary library;
  return library.loader.Complete() ? &library.api : nullptr;
}

}  // namespace qv
