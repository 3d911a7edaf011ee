// Run-time binding of the FLAC library, made when the unit is first used.
#pragma once

#include <FLAC/stream_encoder.h>

namespace qv {

struct TFLACApi {
  decltype(&::FLAC__stream_encoder_new) new_;
  decltype(&::FLAC__stream_encoder_delete) delete_;
  decltype(&::FLAC__stream_encoder_set_verify) set_verify;
  decltype(&::FLAC__stream_encoder_set_channels) set_channels;
  decltype(&::FLAC__stream_encoder_set_bits_per_sample) set_bits_per_sample;
  decltype(&::FLAC__stream_encoder_set_sample_rate) set_sample_rate;
  decltype(&::FLAC__stream_encoder_set_do_mid_side_stereo) set_do_mid_side_stereo;
  decltype(&::FLAC__stream_encoder_set_loose_mid_side_stereo) set_loose_mid_side_stereo;
  decltype(&::FLAC__stream_encoder_set_blocksize) set_blocksize;
  decltype(&::FLAC__stream_encoder_set_max_lpc_order) set_max_lpc_order;
  decltype(&::FLAC__stream_encoder_set_qlp_coeff_precision) set_qlp_coeff_precision;
  decltype(&::FLAC__stream_encoder_set_do_qlp_coeff_prec_search) set_do_qlp_coeff_prec_search;
  decltype(&::FLAC__stream_encoder_set_min_residual_partition_order)
      set_min_residual_partition_order;
  decltype(&::FLAC__stream_encoder_set_max_residual_partition_order)
      set_max_residual_partition_order;
  decltype(&::FLAC__stream_encoder_set_do_exhaustive_model_search) set_do_exhaustive_model_search;
  decltype(&::FLAC__stream_encoder_set_total_samples_estimate) set_total_samples_estimate;
  decltype(&::FLAC__stream_encoder_init_stream) init_stream;
  decltype(&::FLAC__stream_encoder_process_interleaved) process_interleaved;
  decltype(&::FLAC__stream_encoder_finish) finish;
  decltype(&::FLAC__stream_encoder_get_state) get_state;
};

// libFLAC.so.12 (or QUORVEL_LIB_FLAC), loaded once; null when it is missing,
// which the output reports when it is created.
const TFLACApi* LoadFLAC();

}  // namespace qv
