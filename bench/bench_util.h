// What the benchmark programs share: a reporter that prints chosen measurements as ratios
// to a baseline of the same run after the usual table, and the main that runs them.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qv::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // One line "<what> <measured/baseline>x <against>", `what` padded to `width`.
  struct Ratio {
    std::string measured, baseline, what, against;
    int width = 40;
  };

  explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Ratio& r : ratios_) {
      const auto m = times_.find(r.measured);
      const auto b = times_.find(r.baseline);
      if (m == times_.end() || b == times_.end() || b->second <= 0) continue;
      std::printf("%-*s %6.2fx %s\n", r.width, r.what.c_str(), m->second / b->second,
                  r.against.c_str());
    }
  }

 private:
  std::vector<Ratio> ratios_;
  std::map<std::string, double> times_;  // adjusted real time by full benchmark name
};

// The usual benchmark main, reporting through `reporter`.
inline int RunBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace qv::bench
