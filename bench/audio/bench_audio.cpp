// Ripping a track from a disc image through the CD input and an output, against the bare
// encoder library. The pipeline reads the image on the CD input's reading thread, hands the
// audio to the output's thread, encodes it and writes its file. The bare side does what any
// encoding program must: reads the same PCM from the image file into memory, and the library
// encodes it from there into a file of its own.
//
// Each iteration runs both, in alternating order, with the whole process kept on two
// processors (the pipeline's reading and encoding threads may overlap, as on any machine with
// more than one) at the highest priority it may take (bench_util.h), both sides encoding on
// the same one of the two, after one pair that is not counted. The figures are medians of per-pair
// ratios:
// - "memory_ratio", the target: the pipeline's elapsed time / the bare encoder's, encoding the
//   same PCM from memory;
// - "ratio": elapsed, pipeline / (reading the PCM + bare encoder);
// - "cpu_ratio": processor time of every thread, pipeline / (reading + bare encoder): the
//   steadiest figure on a busy machine, and the one that shows the reading's cost;
// - "memory_cpu_ratio": processor time, pipeline / bare encoder from memory;
// - "encoder_cpu_ratio": the output's thread alone / bare encoder from memory: the copies,
//   conversions and hand-overs on the encoding side.
// QV_BENCH_EXTRA_WORK=<fraction> puts an input between the disc and the encoder that spends
// that fraction of the bare side's processor time on top, as a regression would: the figures
// must show it.
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

// Each side of a pair takes a tenth of a second or so, too short for the load of the machine
// to change much, and many pairs fit in a run: track 1 of ten seconds for MP3 and Ogg Vorbis,
// track 2 of thirty seconds for the faster FLAC (whose job costs about 0.3 ms more than the
// bare encoder's for opening the disc and starting the threads: 2 % of a ten-second track).
constexpr uint32_t kTrackSeconds[] = {10, 30};

// One disc image for the whole run, and where its tracks' PCM lies in the BIN file.
struct Fixture {
  std::filesystem::path dir;
  std::vector<size_t> offset, bytes;
  std::vector<uint8_t> pcm;  // the track the bare encoder works on

  Fixture() {
    dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    DiscSpec spec;
    for (uint32_t seconds : kTrackSeconds) spec.AudioTracks.push_back({seconds * 75, false, false});
    spec.Seed = 3;
    const CdToc toc = WriteDiscImage(spec, dir / "disc.cue");
    for (size_t t = 0; t < toc.Tracks.size(); ++t) {
      offset.push_back(size_t(toc.Tracks[t].StartLsn) * 2352);
      bytes.push_back(size_t(kTrackSeconds[t]) * 75 * 2352);
    }
    ::setenv("QUORVEL_CDROM", (dir / "disc.cue").c_str(), 1);
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

// What any encoding program does first: reads the PCM of `track` from the image into memory.
void ReadPcm(Fixture& data, int track) {
  data.pcm.resize(data.bytes[size_t(track) - 1]);
  const off_t start = off_t(data.offset[size_t(track) - 1]);
  const int fd = ::open((data.dir / "disc.bin").c_str(), O_RDONLY | O_CLOEXEC);
  for (size_t pos = 0; pos < data.pcm.size();) {
    const ssize_t n = ::pread(fd, data.pcm.data() + pos, data.pcm.size() - pos, start + off_t(pos));
    if (n <= 0) std::abort();
    pos += size_t(n);
  }
  ::close(fd);
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

// An input between the disc and the encoder that hands the data on unchanged and then spends
// processor time in proportion to it: `Extra` times what the bare encoder takes for as much.
class TBusyInput : public TAudioConverter {
 public:
  double Extra = 0;
  double BareSecondsPerByte = 0;

  TBusyInput() : TAudioConverter(nullptr) {}
  int GetBitsPerSample() override { return Input()->GetBitsPerSample(); }
  int GetChannels() override { return Input()->GetChannels(); }
  int GetSampleRate() override { return Input()->GetSampleRate(); }
  void Init() override {
    Input()->Init();
    Size = Input()->Size.load();
    Position = 0;
    Busy = true;
  }
  void Flush() override {
    Input()->Flush();
    Busy = false;
  }
  int GetData(void* Buffer, int BufferSize) override {
    int n;
    {
      std::lock_guard guard(InputLock);
      n = Input()->GetData(Buffer, BufferSize);
    }
    Position += n;
    // Spent in pieces of a tenth of a millisecond or more, what the clock shows beyond the
    // amount owed counted towards the next piece, so that the total is what was asked for.
    owed_ += Extra * BareSecondsPerByte * n;
    if (owed_ >= 1e-4 || n == 0) {
      const double start = bench::PairedRatios::ThreadSeconds();
      double now = start;
      while (now - start < owed_) now = bench::PairedRatios::ThreadSeconds();
      owed_ -= now - start;
    }
    return n;
  }

 private:
  double owed_ = 0;
};

// The processor both sides encode on: the machine's processors are not equally fast at every
// moment, and a side that encoded on another one than the other side would be measured with it.
// The pipeline's reading thread may run on either of the two.
int EncodeCpu = -1;

// Rips the track through `input` and `output`, waiting for the end; returns the processor
// time the output's thread spent on the job.
double RunPipeline(TAudioFileOut& output, TCDIn& cd, TAudioInput& input, int track,
                   const std::string& file) {
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  double encoderCpu = 0;
  output.OnDone = [&](TAudioOutput*) {
    // The output's thread waits for jobs without spending processor time, so its total
    // when a job ends, less that at the last job's end, is the job's.
    static thread_local double last = 0;
    static thread_local const bool pinned =
        EncodeCpu >= 0 && (bench::SetThreadCpus(bench::OneCpu(EncodeCpu)), true);
    (void)pinned;  // from the next job on, which is the first that counts
    const double now = bench::PairedRatios::ThreadSeconds();
    std::lock_guard lock(m);
    encoderCpu = now - last;
    last = now;
    ended = true;
    cv.notify_all();
  };
  output.OnThreadException = [&](TAudioOutput*, const std::exception& e) {
    std::fprintf(stderr, "pipeline failed: %s\n", e.what());
    std::abort();
  };
  cd.SetStartTrack(track);
  cd.SetEndTrack(track);
  output.FileName = file;
  output.SetInput(&input);
  output.Run();
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return ended; });
  return encoderCpu;
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
void Compare(benchmark::State& state, double (*bare)(const std::vector<uint8_t>&), int track,
             const char* extension) {
  Fixture& data = Data();
  TCDIn cd;
  Output output;
  TBusyInput busy;
  const char* extra = std::getenv("QV_BENCH_EXTRA_WORK");
  busy.Extra = extra != nullptr ? std::atof(extra) : 0;
  busy.SetInput(&cd);
  TAudioInput& input = busy.Extra > 0 ? static_cast<TAudioInput&>(busy) : cd;
  const std::string file = (data.dir / (std::string("track.") + extension)).string();
  // One pair first, not counted: the files exist, the libraries have run, the caches are warm.
  // The injected work follows the bare side of the last pair.
  RunPipeline(output, cd, input, track, file);
  ReadPcm(data, track);
  bare(data.pcm);
  const double warm = bench::PairedRatios::ThreadSeconds();
  ReadPcm(data, track);
  bare(data.pcm);
  busy.BareSecondsPerByte = (bench::PairedRatios::ThreadSeconds() - warm) / double(data.pcm.size());
  bench::PairedRatios ratios;
  // Where the pipeline's processor time goes, in ms per job: the starting thread (opening the
  // file and the disc, configuring the encoder), the output's thread, the rest (reading).
  double startingMs = 0, encoderMs = 0, readingMs = 0;
  for (auto _ : state) {
    // Both sides write new files, as a rip does: the old ones go before the timing, since
    // truncating a file makes the file system write it out on closing.
    state.PauseTiming();
    std::filesystem::remove(file);
    std::filesystem::remove(data.dir / (std::string("bare.") + extension));
    state.ResumeTiming();
    double pipeline = 0, starting = 0, encoderCpu = 0, encodeCpu = 0, encodeWall = 0;
    const auto [measured, baseline] = ratios.Repeat(
        [&] {
          const auto start = Clock::now();
          const double cpu = bench::PairedRatios::ThreadSeconds();
          encoderCpu = RunPipeline(output, cd, input, track, file);
          starting = bench::PairedRatios::ThreadSeconds() - cpu;
          pipeline = Seconds(start);
        },
        [&] {
          ReadPcm(data, track);
          const cpu_set_t all = bench::ThreadCpus();
          if (EncodeCpu >= 0) bench::SetThreadCpus(bench::OneCpu(EncodeCpu));
          const double cpu = bench::PairedRatios::ThreadSeconds();
          encodeWall = bare(data.pcm);
          encodeCpu = bench::PairedRatios::ThreadSeconds() - cpu;
          bench::SetThreadCpus(all);
        });
    busy.BareSecondsPerByte = baseline.cpu / double(data.pcm.size());
    ratios.Record("memory_ratio", pipeline / encodeWall);
    ratios.Record("memory_cpu_ratio", measured.cpu / encodeCpu);
    ratios.Record("encoder_cpu_ratio", encoderCpu / encodeCpu);
    startingMs += starting * 1e3;
    encoderMs += encoderCpu * 1e3;
    readingMs += (measured.cpu - starting - encoderCpu) * 1e3;
    state.SetIterationTime(pipeline);
  }
  ratios.Report(state);
  const double n = double(state.iterations());
  state.counters["starting_ms"] = startingMs / n;
  state.counters["encoder_ms"] = encoderMs / n;
  state.counters["reading_ms"] = readingMs / n;
}

void BM_MP3_PipelineVsBare(benchmark::State& state) {
  Compare<TMP3Out>(state, BareLame, 1, "mp3");
}
void BM_FLAC_PipelineVsBare(benchmark::State& state) {
  Compare<TFLACOut>(state, BareFlac, 2, "flac");
}
void BM_Vorbis_PipelineVsBare(benchmark::State& state) {
  Compare<TVorbisOut>(state, BareVorbis, 1, "ogg");
}

// Reading the thirty-second track alone, to tell the disc input's share of the pipeline:
// "cpu_ms" is the processor time of every thread per reading.
void BM_ReadTrack(benchmark::State& state) {
  Data();
  TCDIn cd;
  std::vector<uint8_t> buffer(65536);
  double cpu = 0;
  for (auto _ : state) {
    const double start = bench::PairedRatios::ProcessSeconds();
    cd.SetStartTrack(2);
    cd.SetEndTrack(2);
    cd.Init();
    int64_t total = 0;
    while (const int n = cd.GetData(buffer.data(), int(buffer.size()))) total += n;
    cd.Flush();
    benchmark::DoNotOptimize(total);
    cpu += bench::PairedRatios::ProcessSeconds() - start;
  }
  state.counters["cpu_ms"] = cpu * 1e3 / double(state.iterations());
}

constexpr int kMP3Pairs = 61, kFLACPairs = 101, kVorbisPairs = 61;

BENCHMARK(BM_ReadTrack)->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_MP3_PipelineVsBare)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kMP3Pairs);
BENCHMARK(BM_FLAC_PipelineVsBare)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFLACPairs);
BENCHMARK(BM_Vorbis_PipelineVsBare)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kVorbisPairs);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  const int cpu = qv::bench::PinToCpus(2);
  qv::EncodeCpu = cpu;
  const bool raised = qv::bench::RaisePriority();
  std::printf("processors from %d (two), %s priority, load average %s\n", cpu,
              raised ? "raised" : "usual", qv::bench::LoadAverage().c_str());
  const auto targets = [](const std::string& name, int pairs, const std::string& what) {
    const std::string benchmark = name + "/iterations:" + std::to_string(pairs) + "/manual_time";
    return std::vector<qv::bench::TargetReporter::Target>{
        {benchmark, "memory_ratio", what + " pipeline / bare encoder from memory, time", 1.01},
        {benchmark, "ratio", what + " pipeline / read + bare encoder, time", 0},
        {benchmark, "cpu_ratio", what + " pipeline / read + bare encoder, CPU", 0},
        {benchmark, "memory_cpu_ratio", what + " pipeline / bare encoder from memory, CPU", 0},
        {benchmark, "encoder_cpu_ratio", what + " encoder thread / bare encoder, CPU", 0}};
  };
  std::vector<qv::bench::TargetReporter::Target> all;
  for (auto list : {targets("BM_MP3_PipelineVsBare", qv::kMP3Pairs, "MP3"),
                    targets("BM_FLAC_PipelineVsBare", qv::kFLACPairs, "FLAC"),
                    targets("BM_Vorbis_PipelineVsBare", qv::kVorbisPairs, "Ogg Vorbis")})
    all.insert(all.end(), list.begin(), list.end());
  qv::bench::TargetReporter reporter(all);
  const int result = qv::bench::RunBenchmarks(argc, argv, reporter);
  std::printf("load average at the end %s\n", qv::bench::LoadAverage().c_str());
  return result;
}
