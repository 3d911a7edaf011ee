// Any bytes as the INI file whose LANGUAGE section the main window reads for its captions and
// messages (`LoadLanguage`): every caption ends as its text or its key, never empty, and the
// window paints with them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  const std::string path = qv::fuzz::ScratchDir() + "language.ini";
  qv::fuzz::WriteFile(path, qv::fuzz::Text(data, size));
  form->LoadLanguage(path);
  for (const qv::TControl* c :
       {static_cast<qv::TControl*>(form->cddbbtn), static_cast<qv::TControl*>(form->ripbtn),
        static_cast<qv::TControl*>(form->exitbtn), static_cast<qv::TControl*>(form->slideBtn)}) {
    if (c->Caption().empty()) {
      std::fprintf(stderr, "a button without a caption\n");
      std::abort();
    }
  }
  form->Invalidate();
  qv::ProcessMessages();
  return 0;
}
