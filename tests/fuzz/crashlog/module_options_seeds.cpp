// Writes seed inputs for fuzz_module_options into the folder given: the default option
// set and one with filters and changed texts, each behind every version selector.
#include <string>

#include "crashlog/module_options.h"
#include "platform/base/streams.h"
#include "tests/fuzz/crashlog/seed_options.h"
#include "tests/fuzz/fuzz_support.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qv::TOstrelModuleOptions sets[2];
  qv::fuzz::SeedOptionSets(sets);
  for (int s = 0; s < 2; ++s) {
    qv::TMemoryStream stream;
    sets[s].SaveToStream(stream);
    for (int version = 0; version < 7; ++version) {
      qv::fuzz::WriteFile(
          std::string(argv[1]) + "/seed-" + std::to_string(s) + "-" + std::to_string(version),
          std::string(1, char(version)) + std::string(qv::fuzz::Text(stream.Bytes())));
    }
  }
  return 0;
}
