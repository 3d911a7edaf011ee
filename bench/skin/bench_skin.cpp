// Loading a skin folder of 60 sections, each with a 64 x 64 bitmap and a gradient, plus
// inheritance through "ParentClassName": "Options.dat" read, images decoded and every
// section's values resolved, against reading the same files' bytes in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/gfx/bmp_codec.h"
#include "skin/sgradient.h"
#include "skin/spaintutils.h"
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

// The main window's background: a 790 x 560 section painted with a tiled 64 x 64 image at
// 40 % under a two-band gradient at 60 %, and a 90 x 60 borders mask around it, into the
// form's cached bitmap; against copying the same 790 x 560 x 3 bytes with memcpy.
constexpr int kFormWidth = 790, kFormHeight = 560;

void InstallFormSection() {
  SkinData.SkinFile.reset();
  SkinData.Active = true;
  SkinSections.clear();
  SkinMasks.clear();
  SkinPatterns.clear();
  TsGeneralData form;
  form.ClassName = "FORM";
  form.PaintingColor = 0xE0D8D0;
  form.ImagePercent = 40;
  form.GradientPercent = 60;
  form.GradientData = "16777215;8421504;50;0;0;8421504;4210752;50;0;0";
  PrepareGradArray(form.GradientData, form.GradientArray);
  SkinSections.push_back(form);
  const auto mask = [](const char* key, int w, int h) {
    TsMaskData m;
    m.Bmp = std::make_unique<TBitmap>(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        m.Bmp->Image().SetPixel(x, y, y >= h / 2 ? RGB(x * 4, x * 4, x * 4) : RGB(x, y, x ^ y));
    m.Bmp->Image().SetPixel(0, 0, 0xFF00FF);
    m.ClassName = "FORM";
    m.PropertyName = key;
    SkinMasks.push_back(std::move(m));
  };
  mask("IMAGEFILE", 64, 64);
  mask("BORDERSMASK", 90, 60);
}

void BM_PaintFormBackground(benchmark::State& state) {
  InstallFormSection();
  Bitmap target(kFormWidth, kFormHeight);
  TBitmap parent(kFormWidth, kFormHeight);
  const TsBGInfo bg{&parent, 0, 0, true};
  for (auto _ : state) {
    PaintItem(0, "FORM", bg, target, {0, 0}, target.BoundsRect(), 0, false);
    benchmark::DoNotOptimize(target.Bits());
  }
}
BENCHMARK(BM_PaintFormBackground)->Unit(benchmark::kMicrosecond);

void BM_CopyFormPixels(benchmark::State& state) {
  Bitmap source(kFormWidth, kFormHeight), target(kFormWidth, kFormHeight);
  const std::size_t bytes = std::size_t(source.Stride()) * kFormHeight;
  for (auto _ : state) {
    std::memcpy(target.Bits(), source.Bits(), bytes);
    benchmark::DoNotOptimize(target.Bits());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyFormPixels)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter({
      {"BM_LoadSkin", "BM_ReadBytes", "skin of 60 sections and 60 bitmaps loaded",
       "reading the same files' bytes"},
      {"BM_PaintFormBackground", "BM_CopyFormPixels",
       "790 x 560 form background (image, gradient, border)", "memcpy of the same pixels"},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
