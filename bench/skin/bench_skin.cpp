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
#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/stdctrls.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "skin/sbuttons.h"
#include "skin/sgradient.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
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

// The main window's layout, 790 x 560: four panels (one with three labels, one with the
// status label), four buttons with their own gradient faces; every control's picture made
// again and the whole window repainted and presented. Against the same layout of the class
// library's plain panels, labels and buttons.
template <class Panel, class Label, class Button>
void RepaintMainWindow(benchmark::State& state, bool skinned) {
  StartWindowSystem(std::make_unique<HeadlessBackend>());
  auto* form = Create<TForm>(Application());
  form->SetBorderStyle(TFormBorderStyle::bsNone);
  form->SetBounds(0, 0, kFormWidth, kFormHeight);
  std::vector<TControl*> controls;
  const auto add = [&]<class T>(T* c, TWinControl* parent, Rect r) {
    c->SetParent(parent);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    controls.push_back(c);
    return c;
  };
  auto* info = add(Create<Panel>(form), form, {8, 8, 390, 108});
  for (int i = 0; i < 3; ++i)
    add(Create<Label>(form), info, {8, 12 + 30 * i, 90, 32 + 30 * i})->SetCaption("Artist :");
  add(Create<Panel>(form), form, {400, 8, 782, 370});
  auto* status = add(Create<Panel>(form), form, {0, 459, 790, 519});
  add(Create<Label>(form), status, {0, 0, 790, 60})->SetCaption("Not Connected");
  add(Create<Panel>(form), form, {0, 519, 790, 560});
  const char* captions[] = {"Slide", "CDDB", "RIP", "EXIT"};
  for (int i = 0; i < 4; ++i) {
    auto* b = add(Create<Button>(form), form, {400 + 96 * i, 420, 490 + 96 * i, 450});
    b->SetCaption(captions[i]);
    if constexpr (std::is_same_v<Button, TsButton>) {
      b->sStyle()->Background.Gradient().SetData("8421504;16777215;99;0;0;16777215;16777215;0;0;0");
      b->sStyle()->Painting.SetTransparency(50);
    }
  }
  form->AfterConstruction();
  form->Show();
  ProcessMessages();
  for (auto _ : state) {
    if (skinned)
      for (TControl* c : controls)
        if (TsGenStyle* style = GenStyleOf(c)) style->BGChanged = true;
    RedrawWindow(form->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    PaintPendingWindows();
  }
  DestroyApplication();
  StopWindowSystem();
}

void BM_RepaintSkinnedWindow(benchmark::State& state) {
  RepaintMainWindow<TsPanel, TsLabel, TsButton>(state, true);
}
BENCHMARK(BM_RepaintSkinnedWindow)->Unit(benchmark::kMicrosecond);

void BM_RepaintPlainWindow(benchmark::State& state) {
  RepaintMainWindow<TPanel, TLabel, TButton>(state, false);
}
BENCHMARK(BM_RepaintPlainWindow)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter({
      {"BM_LoadSkin", "BM_ReadBytes", "skin of 60 sections and 60 bitmaps loaded",
       "reading the same files' bytes"},
      {"BM_PaintFormBackground", "BM_CopyFormPixels",
       "790 x 560 form background (image, gradient, border)", "memcpy of the same pixels"},
      {"BM_RepaintSkinnedWindow", "BM_RepaintPlainWindow",
       "790 x 560 main window repainted with skinned controls", "the same with plain controls"},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
