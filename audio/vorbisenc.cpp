#include "audio/vorbisenc.h"

#include "audio/library_loader.h"

namespace qv {

namespace {
struct TVorbisEncLibrary {
  TLibraryLoader loader{"libvorbisenc.so.2"};
  TVorbisEncApi api{};
  TVorbisEncLibrary() {
    loader.Bind(api.vorbis_encode_init, "vorbis_encode_init");
    loader.Bind(api.vorbis_encode_init_vbr, "vorbis_encode_init_vbr");
  }
};
}  // namespace

const TVorbisEncApi* LoadVorbisEnc() {
  static const TVorbisEncLibrary library;
  return library.loader.Complete() ? &library.api : nullptr;
}

}  // namespace qv
