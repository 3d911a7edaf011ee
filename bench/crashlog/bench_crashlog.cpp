// Resolving 10,000 code addresses of this program to file, line and function: through the
// logger's line table (the ".oldata" block qv-oldata wrote from the DWARF), against
// addr2line resolving the same addresses in one process.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "crashlog/debug_info.h"
#include "platform/base/paths.h"

namespace {

constexpr int AddressCount = 10000;

struct Fixture {
  std::vector<uint8_t> debug;
  int version = 0;
  std::shared_ptr<const qv::TOstrelLineIndex> index;
  std::vector<uintptr_t> addresses;
  std::string address_file;

  Fixture() {
    const std::string self = qv::ExeName();
    std::vector<uint8_t> block;
    bool old_form = false;
    qv::TOstrelLoggerData data;
    qv::TOstrelModuleOptions options;
    if (!qv::ReadLoggerBlock(self, block, old_form) ||
        !qv::ParseLoggerData(block.data(), block.size(), data, options)) {
      std::fprintf(stderr, "no logger data in %s\n", self.c_str());
      std::exit(1);
    }
    debug = std::move(data.debug);
    version = data.data_version;
    index = qv::BuildLineIndex(debug, version);
    // Addresses spread over the program's functions.
    std::vector<std::pair<uintptr_t, uintptr_t>> functions;
    if (FILE* nm = ::popen(("nm -S --defined-only " + self).c_str(), "r")) {
      char line[4096];
      while (std::fgets(line, sizeof line, nm) != nullptr) {
        unsigned long start = 0, size = 0;
        char type = 0;
        if (std::sscanf(line, "%lx %lx %c", &start, &size, &type) == 3 && size > 0 &&
            (type == 't' || type == 'T'))
          functions.emplace_back(start, size);
      }
      ::pclose(nm);
    }
    std::mt19937_64 random(5);
    address_file = "/tmp/qv-bench-crashlog-" + std::to_string(::getpid());
    std::ofstream out(address_file);
    for (int i = 0; i < AddressCount && !functions.empty(); ++i) {
      const auto& [start, size] = functions[random() % functions.size()];
      addresses.push_back(start + random() % size);
      out << std::hex << addresses.back() << '\n';
    }
  }
  ~Fixture() { ::unlink(address_file.c_str()); }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_LineTable(benchmark::State& state) {
  Fixture& f = Shared();
  int found = 0;
  for (auto _ : state) {
    found = 0;
    for (const uintptr_t address : f.addresses) {
      qv::TOstrelStackEntry entry;
      found += qv::FindSourceLocation(f.debug, f.version, 0, address, entry, f.index.get()) ? 1 : 0;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = found;
}
BENCHMARK(BM_LineTable)->Unit(benchmark::kMillisecond);

// The same with the block read from the file, unpacked and indexed first, as addr2line
// reads the DWARF first.
void BM_LoadAndLineTable(benchmark::State& state) {
  Fixture& f = Shared();
  int found = 0;
  for (auto _ : state) {
    std::vector<uint8_t> block;
    bool old_form = false;
    qv::TOstrelLoggerData data;
    qv::TOstrelModuleOptions options;
    if (!qv::ReadLoggerBlock(qv::ExeName(), block, old_form) ||
        !qv::ParseLoggerData(block.data(), block.size(), data, options))
      state.SkipWithError("no block");
    const auto index = qv::BuildLineIndex(data.debug, data.data_version);
    found = 0;
    for (const uintptr_t address : f.addresses) {
      qv::TOstrelStackEntry entry;
      found += qv::FindSourceLocation(data.debug, data.data_version, 0, address, entry, index.get())
                   ? 1
                   : 0;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = found;
}
BENCHMARK(BM_LoadAndLineTable)->Unit(benchmark::kMillisecond);

void BM_Addr2line(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string command =
      "addr2line -f -C -e " + qv::ExeName() + " < " + f.address_file + " > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("addr2line failed");
  }
}
BENCHMARK(BM_Addr2line)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter(
      {{"BM_LineTable", "BM_Addr2line", "resolve 10,000 addresses", "addr2line"},
       {"BM_LoadAndLineTable", "BM_Addr2line", "load the block, resolve 10,000 addresses",
        "addr2line"}});
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
