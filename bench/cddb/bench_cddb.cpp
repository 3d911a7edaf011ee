// Local CD database over 100,000 generated entries (lctUNIX): rebuilding the indexes, then an
// exact query and the read of the entry found, as the main window does for each look-up,
// against 30 ms; the query and read alone against 1 ms. For comparison, run in the same
// process, a plain sequential scan of every category folder for the disc's file. The entries go to
// QV_CDDB_BENCH_DIR, else /dev/shm, else the temporary folder.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "bench/bench_util.h"
#include "cddb/localcddb.h"
#include "tools/cddb/cddb_gendb.h"

namespace {

constexpr std::size_t kEntries = 100000;

struct Database {
  std::string root;
  std::vector<qv::GeneratedDisc> discs;

  Database() {
    std::string base;
    if (const char* dir = std::getenv("QV_CDDB_BENCH_DIR"))
      base = dir;
    else if (std::filesystem::is_directory("/dev/shm"))
      base = "/dev/shm";
    else
      base = std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/qv-cddb-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern + "/";
    qv::GenerateOptions options;
    options.Count = kEntries;
    options.Seed = 42;
    options.Keep = 1000;
    discs = qv::GenerateDatabase(root, options);
  }
  ~Database() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

Database& Db() {
  static Database db;
  return db;
}

qv::TCDInfo DiscInfo(const qv::GeneratedDisc& disc) {
  qv::TCDInfo info;
  info.TOC = disc.TOC;
  info.DiscID = qv::CddbDiscId(disc.TOC);
  return info;
}

// One look-up through the database: rebuild, query, read the first match.
void BM_RebuildQueryRead(benchmark::State& state) {
  Database& db = Db();
  std::size_t k = 0;
  for (auto _ : state) {
    qv::TLocalCDDB local;
    local.SetRoot(db.root);
    local.BuildIndex();
    qv::TCDInfo info = DiscInfo(db.discs[k++ % db.discs.size()]);
    qv::TLocalMatchArray matches;
    const int found = local.Query(info, matches);
    info.Category = matches[0].Category;
    info.DiscID = matches[0].DiscID;
    if ((found != 0 && found != 1) || local.ReadEntry(info) != 0) {
      state.SkipWithError("the generated disc was not found");
      break;
    }
    benchmark::DoNotOptimize(info.Artist);
  }
}
BENCHMARK(BM_RebuildQueryRead)->Unit(benchmark::kMillisecond);

void BM_IndexRebuild(benchmark::State& state) {
  Database& db = Db();
  for (auto _ : state) {
    qv::TLocalCDDB local;
    local.SetRoot(db.root);
    local.BuildIndex();
  }
}
BENCHMARK(BM_IndexRebuild)->Unit(benchmark::kMillisecond);

void BM_QueryRead(benchmark::State& state) {
  Database& db = Db();
  {
    qv::TLocalCDDB local;
    local.SetRoot(db.root);
    local.BuildIndex();
  }
  std::size_t k = 0;
  for (auto _ : state) {
    qv::TLocalCDDB local;
    local.SetRoot(db.root);
    qv::TCDInfo info = DiscInfo(db.discs[k++ % db.discs.size()]);
    qv::TLocalMatchArray matches;
    if (local.Query(info, matches) < 0) {
      state.SkipWithError("the generated disc was not found");
      break;
    }
    info.Category = matches[0].Category;
    info.DiscID = matches[0].DiscID;
    benchmark::DoNotOptimize(local.ReadEntry(info));
  }
}
BENCHMARK(BM_QueryRead)->Unit(benchmark::kMillisecond);

// Baseline: list every category folder looking for the disc's file, then read it.
void BM_DirectoryScan(benchmark::State& state) {
  Database& db = Db();
  std::size_t k = 0;
  for (auto _ : state) {
    const std::string id = qv::CddbDiscId(db.discs[k++ % db.discs.size()].TOC);
    std::string found;
    for (const auto& category : std::filesystem::directory_iterator(db.root)) {
      if (!category.is_directory()) continue;
      DIR* d = ::opendir(category.path().c_str());
      while (const dirent* e = d ? ::readdir(d) : nullptr) {
        if (found.empty() && id == e->d_name) found = category.path().string() + "/" + id;
      }
      if (d) ::closedir(d);
    }
    std::ifstream in(found);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) {
      state.SkipWithError("the generated disc was not found");
      break;
    }
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_DirectoryScan)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("Generating %zu entries...\n", kEntries);
  std::fflush(stdout);
  Db();
  qv::bench::TargetReporter reporter({
      {"BM_RebuildQueryRead", "", "rebuild + query + read, 100,000 entries", 30, " ms"},
      {"BM_IndexRebuild", "", "index rebuild alone", 0, " ms"},
      {"BM_QueryRead", "", "query + read of one entry", 1, " ms"},
      {"BM_DirectoryScan", "", "baseline: one listing of every folder", 0, " ms"},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
