#include "audio/flac.h"

#include "audio/library_loader.h"

namespace qv {

namespace {

struct TFLACLibrary {
  TLibraryLoader loader{"libFLAC.so.12"};
  TFLACApi api{};
  TFLACLibrary() {
    auto& l = loader;
    l.Bind(api.new_, "FLAC__stream_encoder_new");
    l.Bind(api.delete_, "FLAC__stream_encoder_delete");
    l.Bind(api.set_verify, "FLAC__stream_encoder_set_verify");
    l.Bind(api.set_channels, "FLAC__stream_encoder_set_channels");
    l.Bind(api.set_bits_per_sample, "FLAC__stream_encoder_set_bits_per_sample");
    l.Bind(api.set_sample_rate, "FLAC__stream_encoder_set_sample_rate");
    l.Bind(api.set_do_mid_side_stereo, "FLAC__stream_encoder_set_do_mid_side_stereo");
    l.Bind(api.set_loose_mid_side_stereo, "FLAC__stream_encoder_set_loose_mid_side_stereo");
    l.Bind(api.set_blocksize, "FLAC__stream_encoder_set_blocksize");
    l.Bind(api.set_max_lpc_order, "FLAC__stream_encoder_set_max_lpc_order");
    l.Bind(api.set_qlp_coeff_precision, "FLAC__stream_encoder_set_qlp_coeff_precision");
    l.Bind(api.set_do_qlp_coeff_prec_search, "FLAC__stream_encoder_set_do_qlp_coeff_prec_search");
    l.Bind(api.set_min_residual_partition_order,
           "FLAC__stream_encoder_set_min_residual_partition_order");
    l.Bind(api.set_max_residual_partition_order,
           "FLAC__stream_encoder_set_max_residual_partition_order");
    l.Bind(api.set_do_exhaustive_model_search,
           "FLAC__stream_encoder_set_do_exhaustive_model_search");
    l.Bind(api.set_total_samples_estimate, "FLAC__stream_encoder_set_total_samples_estimate");
    l.Bind(api.init_stream, "FLAC__stream_encoder_init_stream");
    l.Bind(api.process_interleaved, "FLAC__stream_encoder_process_interleaved");
    l.Bind(api.finish, "FLAC__stream_encoder_finish");
    l.Bind(api.get_state, "FLAC__stream_encoder_get_state");
  }
};

}  // namespace

const TFLACApi* LoadFLAC() {
  // Loaded once, on first use, and kept: a missing library stays missing.
  static const TFLACLibrary library;
  return library.loader.Complete() ? &library.api : nullptr;
}

}  // namespace qv
