// Any bytes as the genre file (CONF genre_file), read as the program starts and added to the
// main window's category box: every genre is one line of the file, and the box takes them,
// shows each and drops down with them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/rip_config.h"
#include "tests/fuzz/app/main_window.h"

namespace {

qv::TForm1* form = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  form = qv::fuzz::MakeMainWindow();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = qv::fuzz::ScratchDir() + "genres.txt";
  const std::string_view text = qv::fuzz::Text(data, size);
  qv::fuzz::WriteFile(path, text);
  std::string problem;
  const std::vector<std::string> genres =
      qv::LoadGenreFile(path, [&problem](const std::string& t) { problem = t; });
  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n' || c == '\r';
  if (genres.size() > lines || (!problem.empty() && !genres.empty())) {
    std::fprintf(stderr, "%zu genres from %zu lines (%s)\n", genres.size(), lines, problem.c_str());
    std::abort();
  }
  for (const std::string& g : genres) {
    if (g.find('\n') != std::string::npos) {
      std::fprintf(stderr, "a genre of more than one line\n");
      std::abort();
    }
  }

  qv::TmyComboBox* box = form->category;
  const int before = box->Items().Count();
  for (const std::string& g : genres) box->Items().Add(g);
  if (box->Items().Count() != before + int(genres.size())) std::abort();
  if (!genres.empty()) {
    box->SetItemIndex(box->Items().Count() - 1);
    box->SetDroppedDown(true);
    qv::ProcessMessages();
    box->SetDroppedDown(false);
  }
  while (box->Items().Count() > before) box->Items().Delete(box->Items().Count() - 1);
  qv::ProcessMessages();
  return 0;
}
