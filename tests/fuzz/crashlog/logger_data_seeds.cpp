// Writes seed inputs for fuzz_logger_data: blocks of each kind the writer makes, and bare
// debug information.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/oldata/oldata_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace qv::oldata;
  std::vector<uint8_t> entries;
  const std::string name = "TForm1.Go", dotted = ".Click", at = "@Init";
  AppendLineEntry(entries, 4, 2, &name);
  AppendLineEntry(entries, 8, 1, nullptr);
  AppendLineEntry(entries, 100, 20, &dotted);
  AppendLineEntry(entries, 0, -3, &at);
  AppendLineEntry(entries, 1000, 5, nullptr);
  AppendLineEntry(entries, 4096, 2, nullptr);
  AppendLineEntry(entries, 70000, -40000, nullptr);
  const std::vector<UnitBlock> units = {{"Main", 10, 0x100, 0x20000, entries}};
  int n = 0;
  const auto write = [&](uint8_t mode, const std::vector<uint8_t>& bytes) {
    qv::fuzz::WriteFile(std::string(argv[1]) + "/seed-" + std::to_string(n++),
                        std::string(1, char(mode)) + std::string(qv::fuzz::Text(bytes)));
  };
  for (const int version : {404, 454}) {
    const auto debug = BuildDebugInfo({{"Main.Go", 0x100}}, units, version);
    write(version == 404 ? 1 : 0,
          BuildBlock(version == 404 ? std::vector<uint8_t>(10, 1) : DefaultOptionStream(), debug,
                     version));
    write(version == 404 ? 129 : 128, debug);
  }
  return 0;
}
