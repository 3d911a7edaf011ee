// Editing a tag in place: load, change three text frames and save, on a 4 MB MP3 whose tag
// has padding, against a plain read of the same file. Prints the ratio of the two.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tags/id3v2.h"

namespace {

std::string g_path;

void MakeFile() {
  char dir[] = "/tmp/qv-bench-id3v2-XXXXXX";
  if (mkdtemp(dir) == nullptr) std::abort();
  g_path = std::string(dir) + "/album-track.mp3";
  std::vector<char> audio;
  constexpr int kFrames = 10000;  // about 4 MB, four minutes at 128 kbit/s
  audio.reserve(kFrames * 417);
  for (int f = 0; f < kFrames; ++f) {
    const char header[4] = {'\xFF', '\xFB', '\x90', '\x04'};
    audio.insert(audio.end(), header, header + 4);
    for (int i = 4; i < 417; ++i) audio.push_back(static_cast<char>(i * 37 + f));
  }
  std::ofstream(g_path, std::ios::binary)
      .write(audio.data(), static_cast<std::streamsize>(audio.size()));
  qv::Tid3v2tag tag;
  tag.LoadFromFile(g_path);
  for (const char* id : {"TIT2", "TPE1", "TALB", "TYER", "TRCK", "TCON"}) {
    tag.SetTextFrame(id, std::string(id) + " of the first rip");
  }
  if (tag.SaveToFile() != 0) std::abort();
}

void BM_PlainRead(benchmark::State& state) {
  std::vector<char> buf(1 << 16);
  for (auto _ : state) {
    FILE* f = std::fopen(g_path.c_str(), "rb");
    size_t total = 0;
    size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) total += n;
    std::fclose(f);
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMicrosecond);

void BM_EditInPlace(benchmark::State& state) {
  struct stat before {};
  ::stat(g_path.c_str(), &before);
  qv::Tid3v2tag tag;
  int round = 0;
  for (auto _ : state) {
    const std::string n = std::to_string(++round % 10);
    tag.LoadFromFile(g_path);
    tag.SetTextFrame("TIT2", "Title, take " + n);
    tag.SetTextFrame("TPE1", "Artist, take " + n);
    tag.SetTextFrame("TALB", "Album, take " + n);
    if (tag.SaveToFile() != 0) state.SkipWithError("save failed");
  }
  struct stat after {};
  ::stat(g_path.c_str(), &after);
  if (after.st_ino != before.st_ino || after.st_size != before.st_size) {
    state.SkipWithError("the file was rebuilt instead of edited in place");
  }
}
BENCHMARK(BM_EditInPlace)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MakeFile();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto read = reporter.times.find("BM_PlainRead");
  const auto edit = reporter.times.find("BM_EditInPlace");
  if (read != reporter.times.end() && edit != reporter.times.end() && read->second > 0) {
    std::printf("id3v2 edit in place / plain read of the file: %.3f\n",
                edit->second / read->second);
  }
  std::filesystem::remove_all(std::filesystem::path(g_path).parent_path());
  benchmark::Shutdown();
  return 0;
}
