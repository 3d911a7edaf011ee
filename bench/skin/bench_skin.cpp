// Loading a skin folder of 60 sections, each with a 64 x 64 bitmap and a gradient, plus
// inheritance through "ParentClassName": "Options.dat" read, images decoded and every
// section's values resolved, against reading the same files' bytes in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/gfx/bmp_codec.h"
#include "skin/sskindata.h"

namespace qv {
namespace {

constexpr int kSections = 60;

struct SkinFolder {
  std::string path;
  std::vector<std::string> files;

  SkinFolder() {
    std::string t = (std::filesystem::temp_directory_path() / "qv_bench_skin.XXXXXX").string();
    if (::mkdtemp(t.data()) == nullptr) std::abort();
    path = t + "/";
    std::string options;
    for (int i = 0; i < kSections; ++i) {
      const std::string name = "Section" + std::to_string(i);
      options += "[" + name + "]\n";
      if (i % 4 != 0) options += "ParentClassName=Section" + std::to_string(i - 1) + "\n";
      if (i % 4 == 0) options += "PaintingColor=" + std::to_string(i * 1000) + "\nShowFocus=True\n";
      options += "GradientData=16777215;0;50;0;0;0;16777215;50;0;0\n";
      options += "BORDERSMASK=" + name + ".bmp\n";
      Bitmap bmp(64, 64);
      bmp.Fill(COLORREF(i * 4000));
      const auto bytes = SaveBmp(bmp);
      Write(name + ".bmp", std::string(bytes.begin(), bytes.end()));
    }
    Write("Options.dat", options);
  }
  ~SkinFolder() { std::filesystem::remove_all(path); }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(path + name, std::ios::binary) << bytes;
    files.push_back(path + name);
  }
};

SkinFolder& Folder() {
  static SkinFolder folder;
  return folder;
}

void BM_LoadSkin(benchmark::State& state) {
  SkinFolder& folder = Folder();
  for (auto _ : state) {
    SkinData.SkinFile = std::make_unique<TMemIniFile>(folder.path + "Options.dat");
    SkinData.SkinPath = folder.path;
    LoadAllMasks();
    LoadAllPatterns();
    LoadAllGeneralData();
    SkinData.Active = true;
    if (SkinMasks.size() != kSections || SkinSections.size() != kSections)
      state.SkipWithError("skin not loaded");
    benchmark::DoNotOptimize(SkinSections.data());
  }
}
BENCHMARK(BM_LoadSkin)->Unit(benchmark::kMillisecond);

void BM_ReadBytes(benchmark::State& state) {
  SkinFolder& folder = Folder();
  for (auto _ : state) {
    std::size_t total = 0;
    for (const std::string& file : folder.files) {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      total += bytes.size();
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadBytes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter({
      {"BM_LoadSkin", "BM_ReadBytes", "skin of 60 sections and 60 bitmaps loaded",
       "reading the same files' bytes"},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
