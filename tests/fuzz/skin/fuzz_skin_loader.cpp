// libFuzzer target over a skin folder: the input is an "Options.dat" text and the bytes of
// two images, which the loader reads as it would a user's skin; every section's gradients
// are then painted and its images looked up. A crash, a hang, undefined behaviour or an
// escaping exception is a finding.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "skin/sgradient.h"
#include "skin/sskindata.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void Paint(const qv::TsGradArray& gradient) {
  qv::Bitmap bmp(8, 6);
  for (const qv::Rect& r : {qv::Rect{0, 0, 8, 6}, qv::Rect{-3, 2, 5, 40}, qv::Rect{6, 1, 2, 4}})
    qv::PaintGrad(bmp, gradient, r);
}

}  // namespace

// The input: a two-byte little-endian length, that many bytes of "Options.dat", then the
// bitmap's bytes and the picture's bytes, split in the middle.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qv::fuzz::WriteFile;
  const std::string_view input = qv::fuzz::Text(data, size);
  if (input.size() < 2) return 0;
  const std::size_t textLength =
      std::min<std::size_t>(std::uint8_t(input[0]) | std::uint8_t(input[1]) << 8, size - 2);
  const std::string_view text = input.substr(2, textLength);
  const std::string_view images = input.substr(2 + textLength);
  const std::string& folder = qv::fuzz::ScratchDir();
  // The fixed section names both images, so that they are read whatever the text says.
  WriteFile(folder + "Options.dat",
            std::string(text) + "\n[FUZZ]\nBORDERSMASK=a.bmp\nIMAGEFILE=Sub\\B.JPG\n");
  WriteFile(folder + "a.bmp", images.substr(0, images.size() / 2));
  ::mkdir((folder + "sub").c_str(), 0700);
  WriteFile(folder + "sub/b.jpg", images.substr(images.size() / 2));

  qv::TsGradArray gradient;
  qv::PrepareGradArray(text, gradient);
  Paint(gradient);

  qv::SkinData.SkinFile = std::make_unique<qv::TMemIniFile>(folder + "Options.dat");
  qv::SkinData.SkinPath = folder;
  qv::SkinData.Active = true;
  qv::LoadAllMasks();
  qv::LoadAllPatterns();
  qv::LoadAllGeneralData();
  for (std::size_t i = 0; i < qv::SkinSections.size(); ++i) {
    const qv::TsGeneralData& section = qv::SkinSections[i];
    Paint(section.GradientArray);
    Paint(section.HotGradientArray);
    const int mask = qv::GetMaskIndex(int(i), section.ClassName, "BORDERSMASK");
    if (mask >= 0 && !qv::IsValidImgIndex(mask)) ::abort();
    const int pattern = qv::GetPatternIndex(int(i), section.ClassName, "IMAGEFILE");
    if (pattern >= int(qv::SkinPatterns.size())) ::abort();
  }
  return 0;
}
