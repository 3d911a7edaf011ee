// Ripping a two-minute track from a disc image through the CD input and an output, against
// the bare encoder library fed the same PCM from memory. Each iteration runs both, in
// alternating order; the "ratio" counter is the median of the iterations' pipeline time /
// bare time, "ratio_min" and "ratio_max" its spread. The pipeline must stay within 1 %.
#include <FLAC/stream_encoder.h>
#include <benchmark/benchmark.h>
#include <lame/lame.h>
#include <vorbis/vorbisenc.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "audio/audio_cdrom.h"
#include "audio/audio_flac.h"
#include "audio/audio_lame.h"
#include "audio/audio_vorbis.h"
#include "bench/bench_util.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

constexpr uint32_t kTrackSectors = 2 * 60 * 75;

// One disc image for the whole run, and its track's PCM in memory.
struct Fixture {
  std::filesystem::path dir;
  std::vector<uint8_t> pcm;

  Fixture() {
    dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    DiscSpec spec;
    spec.AudioTracks = {{kTrackSectors, false, false}};
    spec.Seed = 3;
    WriteDiscImage(spec, dir / "disc.cue");
    ::setenv("QUORVEL_CDROM", (dir / "disc.cue").c_str(), 1);
    std::ifstream in(dir / "disc.bin", std::ios::binary);
    pcm.resize(size_t(kTrackSectors) * 2352);
    in.read(reinterpret_cast<char*>(pcm.data()), std::streamsize(pcm.size()));
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// The bare encoders write their output to a file as well, as any encoder does.
struct FileSink {
  explicit FileSink(const std::filesystem::path& path)
      : fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) {}
  ~FileSink() { ::close(fd); }
  void Write(const uint8_t* data, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd, data, n);
      if (w <= 0) std::abort();
      data += w;
      n -= size_t(w);
    }
  }
  int fd;
};

// Rips the track through the CD input and `output`, waiting for the end.
double RunPipeline(TAudioFileOut& output, TCDIn& cd, const std::string& file) {
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  output.OnDone = [&](TAudioOutput*) {
    std::lock_guard lock(m);
    ended = true;
    cv.notify_all();
  };
  output.OnThreadException = [&](TAudioOutput*, const std::exception& e) {
    std::fprintf(stderr, "pipeline failed: %s\n", e.what());
    std::abort();
  };
  cd.SetStartTrack(1);
  cd.SetEndTrack(1);
  output.FileName = file;
  output.SetInput(&cd);
  const auto start = Clock::now();
  output.Run();
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return ended; });
  return Seconds(start);
}

double BareLame(const std::vector<uint8_t>& pcm) {
  const auto start = Clock::now();
  lame_t h = lame_init();
  lame_set_num_samples(h, (unsigned long)(pcm.size() / 4));
  lame_set_in_samplerate(h, 44100);
  lame_set_num_channels(h, 2);
  lame_set_brate(h, 128);
  lame_init_params(h);
  std::vector<uint8_t> out(17440);
  FileSink file(Data().dir / "bare.mp3");
  for (size_t pos = 0; pos < pcm.size(); pos += 16384) {
    const size_t n = std::min<size_t>(16384, pcm.size() - pos);
    const int r = lame_encode_buffer_interleaved(
        h, reinterpret_cast<short*>(const_cast<uint8_t*>(pcm.data() + pos)), int(n / 4), out.data(),
        int(out.size()));
    file.Write(out.data(), size_t(r));
  }
  const int r = lame_encode_flush(h, out.data(), int(out.size()));
  file.Write(out.data(), size_t(r));
  lame_close(h);
  return Seconds(start);
}

FLAC__StreamEncoderWriteStatus FlacWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                         size_t bytes, uint32_t, uint32_t, void* client) {
  static_cast<FileSink*>(client)->Write(buffer, bytes);
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

double BareFlac(const std::vector<uint8_t>& pcm) {
  const auto start = Clock::now();
  FileSink file(Data().dir / "bare.flac");
  FLAC__StreamEncoder* e = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(e, 2);
  FLAC__stream_encoder_set_bits_per_sample(e, 16);
  FLAC__stream_encoder_set_sample_rate(e, 44100);
  FLAC__stream_encoder_set_blocksize(e, 4608);
  FLAC__stream_encoder_set_max_lpc_order(e, 0);
  FLAC__stream_encoder_set_min_residual_partition_order(e, 0);
  FLAC__stream_encoder_set_max_residual_partition_order(e, 0);
  FLAC__stream_encoder_set_total_samples_estimate(e, pcm.size() / 4);
  FLAC__stream_encoder_init_stream(e, FlacWrite, nullptr, nullptr, nullptr, &file);
  std::vector<FLAC__int32> samples(4608 * 2);
  for (size_t pos = 0; pos < pcm.size(); pos += samples.size() * 2) {
    const size_t count = std::min(samples.size(), (pcm.size() - pos) / 2);
    for (size_t i = 0; i < count; ++i)
      samples[i] = int16_t(uint16_t(pcm[pos + 2 * i] | (pcm[pos + 2 * i + 1] << 8)));
    FLAC__stream_encoder_process_interleaved(e, samples.data(), uint32_t(count / 2));
  }
  FLAC__stream_encoder_finish(e);
  FLAC__stream_encoder_delete(e);
  return Seconds(start);
}

double BareVorbis(const std::vector<uint8_t>& pcm) {
  const auto start = Clock::now();
  FileSink file(Data().dir / "bare.ogg");
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
  ogg_page og;
  ogg_packet op, h1, h2, h3;
  vorbis_info_init(&vi);
  vorbis_encode_init_vbr(&vi, 2, 44100, 0.2f);
  vorbis_comment_init(&vc);
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_init(&os, 1);
  vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
  ogg_stream_packetin(&os, &h1);
  ogg_stream_packetin(&os, &h2);
  ogg_stream_packetin(&os, &h3);
  auto put = [&] {
    file.Write(og.header, size_t(og.header_len));
    file.Write(og.body, size_t(og.body_len));
  };
  while (ogg_stream_flush(&os, &og) != 0) put();
  bool eos = false;
  size_t pos = 0;
  while (!eos) {
    const size_t n = std::min<size_t>(65536, pcm.size() - pos);
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      const int frames = int(n / 4);
      float** b = vorbis_analysis_buffer(&vd, frames);
      for (int i = 0; i < frames; ++i) {
        const uint8_t* p = pcm.data() + pos + size_t(i) * 4;
        b[0][i] = float(int16_t(uint16_t(p[0] | (p[1] << 8)))) / 32768.0f;
        b[1][i] = float(int16_t(uint16_t(p[2] | (p[3] << 8)))) / 32768.0f;
      }
      vorbis_analysis_wrote(&vd, frames);
      pos += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &op) == 1) ogg_stream_packetin(&os, &op);
      while (!eos && ogg_stream_pageout(&os, &og) != 0) {
        put();
        eos = ogg_page_eos(&og) != 0;
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return Seconds(start);
}

template <class Output>
void Compare(benchmark::State& state, double (*bare)(const std::vector<uint8_t>&),
             const char* extension) {
  Fixture& data = Data();
  TCDIn cd;
  Output output;
  const std::string file = (data.dir / (std::string("track.") + extension)).string();
  bench::PairedRatios ratios;
  for (auto _ : state) {
    double pipeline = 0;
    ratios.Repeat([&] { pipeline = RunPipeline(output, cd, file); }, [&] { bare(data.pcm); });
    state.SetIterationTime(pipeline);
  }
  ratios.Report(state);
}

void BM_MP3_PipelineVsBare(benchmark::State& state) {
  Compare<TMP3Out>(state, BareLame, "mp3");
}
void BM_FLAC_PipelineVsBare(benchmark::State& state) {
  Compare<TFLACOut>(state, BareFlac, "flac");
}
void BM_Vorbis_PipelineVsBare(benchmark::State& state) {
  Compare<TVorbisOut>(state, BareVorbis, "ogg");
}

// Reading the track alone, to tell the disc input's share of the pipeline.
void BM_ReadTrack(benchmark::State& state) {
  Data();
  TCDIn cd;
  std::vector<uint8_t> buffer(65536);
  for (auto _ : state) {
    cd.SetStartTrack(1);
    cd.SetEndTrack(1);
    cd.Init();
    int64_t total = 0;
    while (const int n = cd.GetData(buffer.data(), int(buffer.size()))) total += n;
    cd.Flush();
    benchmark::DoNotOptimize(total);
  }
}

BENCHMARK(BM_ReadTrack)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_MP3_PipelineVsBare)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_FLAC_PipelineVsBare)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(21);
BENCHMARK(BM_Vorbis_PipelineVsBare)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  const auto targets = [](const char* benchmark, const std::string& what) {
    return std::vector<qv::bench::TargetReporter::Target>{
        {benchmark, "ratio", what + " pipeline / bare encoder, time", 1.01},
        {benchmark, "cpu_ratio", what + " pipeline / bare encoder, CPU", 0},
        {benchmark, "fastest_ratio", what + " pipeline / bare encoder, fastest", 0}};
  };
  std::vector<qv::bench::TargetReporter::Target> all;
  for (auto list : {targets("BM_MP3_PipelineVsBare/iterations:9/manual_time", "MP3"),
                    targets("BM_FLAC_PipelineVsBare/iterations:21/manual_time", "FLAC"),
                    targets("BM_Vorbis_PipelineVsBare/iterations:9/manual_time", "Ogg Vorbis")})
    all.insert(all.end(), list.begin(), list.end());
  qv::bench::TargetReporter reporter(all);
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
