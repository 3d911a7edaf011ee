// cddb_gendb <root> [count] [seed] [unix|win]: writes a local CD database of generated entries
// under <root> and rebuilds its indexes.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "cddb/localcddb.h"
#include "tools/cddb/cddb_gendb.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr, "usage: %s <root> [count=100000] [seed=1] [unix|win]\n", argv[0]);
    return 2;
  }
  qv::GenerateOptions options;
  options.Count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100000;
  options.Seed = argc > 3 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 1;
  options.Layout = argc > 4 && std::string(argv[4]) == "win" ? qv::lctWIN : qv::lctUNIX;
  options.Keep = 0;
  try {
    qv::GenerateDatabase(argv[1], options);
    qv::TLocalCDDB db;
    db.SetLayout(options.Layout);
    db.SetRoot(argv[1]);
    db.BuildIndex();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cddb_gendb: %s\n", e.what());
    return 1;
  }
  std::printf("%zu entries written under %s\n", options.Count, argv[1]);
  return 0;
}
