// What the benchmark programs share: a reporter that prints chosen measurements as ratios
// to a baseline of the same run after the usual table, and the main that runs them.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
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

// Interleaved repetitions of a measurement and its baseline: each repetition times both, in
// alternating order so that the machine's changing speed falls on both alike. The result is
// the median of the repetitions' ratios, their range the spread; beside the elapsed time the
// processor time of the whole process (every thread) is compared the same way, which other
// programs on the machine disturb far less.
class PairedRatios {
 public:
  // `ProcessTime` false: the work runs in other processes, and only elapsed time tells.
  explicit PairedRatios(bool ProcessTime = true) : processTime_(ProcessTime) {}

  // Runs `measured` and `baseline` once each, in turn.
  template <class Measured, class Baseline>
  void Repeat(Measured&& measured, Baseline&& baseline) {
    Times m, b;
    if (wall_.size() % 2 == 0) {
      m = Time(measured);
      b = Time(baseline);
    } else {
      b = Time(baseline);
      m = Time(measured);
    }
    wall_.push_back(m.wall / b.wall);
    cpu_.push_back(m.cpu / b.cpu);
    fastestMeasured_ = std::min(fastestMeasured_, m.wall);
    fastestBaseline_ = std::min(fastestBaseline_, b.wall);
    measured_ += m.wall;
    baseline_ += b.wall;
  }
  // Counters "ratio" (the median of the elapsed times' ratios), "ratio_min", "ratio_max",
  // the same for "cpu_ratio", and the mean elapsed times.
  void Report(benchmark::State& state) const {
    if (wall_.empty()) return;
    Median(state, "ratio", wall_);
    if (processTime_) Median(state, "cpu_ratio", cpu_);
    // Other programs only ever slow a repetition down: the fastest of each side is the
    // least disturbed, and their ratio a second, steadier view on a busy machine.
    state.counters["fastest_ratio"] = fastestMeasured_ / fastestBaseline_;
    state.counters["measured_s"] = measured_ / double(wall_.size());
    state.counters["baseline_s"] = baseline_ / double(wall_.size());
  }

 private:
  struct Times {
    double wall = 0, cpu = 0;
  };
  template <class F>
  static Times Time(F&& f) {
    const double cpu = ProcessSeconds();
    const auto start = std::chrono::steady_clock::now();
    f();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            ProcessSeconds() - cpu};
  }
  static double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  static void Median(benchmark::State& state, const std::string& name, std::vector<double> r) {
    std::sort(r.begin(), r.end());
    const size_t n = r.size();
    state.counters[name] = n % 2 != 0 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
    state.counters[name + "_min"] = r.front();
    state.counters[name + "_max"] = r.back();
  }

  bool processTime_;
  std::vector<double> wall_, cpu_;
  double measured_ = 0, baseline_ = 0;
  double fastestMeasured_ = 1e300, fastestBaseline_ = 1e300;
};

// After the usual table, one line per target: a counter of a benchmark (or its time in
// milliseconds when `counter` is empty), with the spread when the counter has one, and
// whether the limit is met.
class TargetReporter : public benchmark::ConsoleReporter {
 public:
  struct Target {
    std::string benchmark;  // full benchmark name
    std::string counter;    // empty: the adjusted real time in ms
    std::string what;
    double limit;  // the value must not exceed it; 0: the value is only reported
    std::string unit = "x";
  };

  explicit TargetReporter(std::vector<Target> targets) : targets_(std::move(targets)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto& values = values_[run.benchmark_name()];
      values[""] = run.GetAdjustedRealTime() * Milliseconds(run.time_unit);
      for (const auto& [name, counter] : run.counters) values[name] = counter.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Target& t : targets_) {
      const auto b = values_.find(t.benchmark);
      if (b == values_.end() || b->second.count(t.counter) == 0) {
        std::printf("%-44s not measured\n", t.what.c_str());
        continue;
      }
      const auto& v = b->second;
      const double value = v.at(t.counter);
      std::string spread;
      if (!t.counter.empty() && v.count(t.counter + "_min") != 0 &&
          v.count(t.counter + "_max") != 0) {
        char text[64];
        std::snprintf(text, sizeof text, " (spread %.3f-%.3f)", v.at(t.counter + "_min"),
                      v.at(t.counter + "_max"));
        spread = text;
      }
      if (t.limit <= 0) {
        std::printf("%-44s %8.3f%s%s\n", t.what.c_str(), value, t.unit.c_str(), spread.c_str());
        continue;
      }
      std::printf("%-44s %8.3f%s%s  target <= %g%s: %s\n", t.what.c_str(), value, t.unit.c_str(),
                  spread.c_str(), t.limit, t.unit.c_str(), value <= t.limit ? "met" : "MISSED");
    }
  }

 private:
  static double Milliseconds(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-6;
      case benchmark::kMicrosecond:
        return 1e-3;
      case benchmark::kMillisecond:
        return 1;
      default:
        return 1e3;
    }
  }

  std::vector<Target> targets_;
  std::map<std::string, std::map<std::string, double>> values_;
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
