// Any bytes as the suite's theme file ("Zentha.cfg"), loaded by the main window as the
// program does at start: the XML parser, the theme's paths and every number and colour
// attribute.
#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/fuzz/app/main_window.h"

namespace {

qv::TForm1* form = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  form = qv::fuzz::MakeMainWindow();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = qv::fuzz::ScratchDir() + "suite";
  static const bool made = std::filesystem::create_directory(folder) || true;
  (void)made;
  qv::fuzz::WriteFile(folder + "/Zentha.cfg",
                      std::string_view(reinterpret_cast<const char*>(data), size));
  form->LoadTheme(folder);
  return 0;
}
