#include "audio/codec.h"

#include "audio/library_loader.h"

namespace qv {

namespace {
struct TVorbisLibrary {
  TLibraryLoader loader{"libvorbis.so.0"};
  TVorbisApi api{};
  TVorbisLibrary() {
    auto& l = loader;
    l.Bind(api.vorbis_info_init, "vorbis_info_init");
    l.Bind(api.vorbis_info_clear, "vorbis_info_clear");
    l.Bind(api.vorbis_comment_init, "vorbis_comment_init");
    l.Bind(api.vorbis_comment_add_tag, "vorbis_comment_add_tag");
    l.Bind(api.vorbis_comment_clear, "vorbis_comment_clear");
    l.Bind(api.vorbis_analysis_init, "vorbis_analysis_init");
    l.Bind(api.vorbis_block_init, "vorbis_block_init");
    l.Bind(api.vorbis_block_clear, "vorbis_block_clear");
    l.Bind(api.vorbis_dsp_clear, "vorbis_dsp_clear");
    l.Bind(api.vorbis_analysis_headerout, "vorbis_analysis_headerout");
    l.Bind(api.vorbis_analysis_buffer, "vorbis_analysis_buffer");
    l.Bind(api.vorbis_analysis_wrote, "vorbis_analysis_wrote");
    l.Bind(api.vorbis_analysis_blockout, "vorbis_analysis_blockout");
    l.Bind(api.vorbis_analysis, "vorbis_analysis");
    l.Bind(api.vorbis_bitrate_addblock, "vorbis_bitrate_addblock");
    l.Bind(api.vorbis_bitrate_flushpacket, "vorbis_bitrate_flushpacket");
  }
};
}  // namespace

const TVorbisApi* LoadVorbis() {
  static const TVorbisLibrary library;
  return library.loader.Complete() ? &library.api : nullptr;
}

}  // namespace qv
