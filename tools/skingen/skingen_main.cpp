// skingen: writes the program's skin folder and built-in bitmaps, or a contact sheet of them.
//   skingen OUTDIR              writes OUTDIR/Ferrane/... and OUTDIR/builtin/...
//   skingen --preview FILE.png  writes every picture with its name, and the sections' colours
#include <cstdio>
#include <exception>
#include <string>

#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/gfx/png_codec.h"
#include "tools/skingen/skin_art.h"

int main(int argc, char** argv) {
  using namespace qv;
  try {
    if (argc == 3 && std::string(argv[1]) == "--preview") {
      const skingen::Art art = skingen::MakeArt();
      WriteFileAtomically(argv[2], SavePng(skingen::ContactSheet(art)));
      return 0;
    }
    if (argc == 2 && argv[1][0] != '-') {
      const std::string root = IncludeTrailingPathDelimiter(argv[1]);
      for (const skingen::ArtFile& f : skingen::MakeArt().Files) {
        const std::string path = root + f.Path;
        if (!ForceDirectories(ExtractFilePath(path)))
          throw std::runtime_error("cannot create " + path);
        WriteFileAtomically(path, f.Bytes);
      }
      return 0;
    }
    std::fprintf(stderr, "usage: skingen OUTDIR | skingen --preview FILE.png\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skingen: %s\n", e.what());
    return 1;
  }
}
