// What the benchmark programs share: a reporter that prints chosen measurements as ratios
// to a baseline of the same run after the usual table, and the main that runs them.
#pragma once

#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

  struct Times {
    double wall = 0, cpu = 0;  // seconds; cpu of the whole process
  };

  // Runs `measured` and `baseline` once each, in turn; returns their times.
  template <class Measured, class Baseline>
  std::pair<Times, Times> Repeat(Measured&& measured, Baseline&& baseline) {
    Times m, b;
    if (pairs_ % 2 == 0) {
      m = Time(measured);
      b = Time(baseline);
    } else {
      b = Time(baseline);
      m = Time(measured);
    }
    ++pairs_;
    Record("ratio", m.wall / b.wall);
    if (processTime_) Record("cpu_ratio", m.cpu / b.cpu);
    fastestMeasured_ = std::min(fastestMeasured_, m.wall);
    fastestBaseline_ = std::min(fastestBaseline_, b.wall);
    measured_ += m.wall;
    baseline_ += b.wall;
    measuredCpu_ += m.cpu;
    baselineCpu_ += b.cpu;
    return {m, b};
  }
  // Adds a ratio of the last repetition that the caller measured itself.
  void Record(const std::string& name, double ratio) { ratios_[name].push_back(ratio); }

  // Per recorded ratio `r` (the elapsed times' "ratio", the processor times' "cpu_ratio" and
  // the caller's): the median `r`, the spread `r_min` and `r_max`, and `r_lo` and `r_hi`, the
  // ranks between which the median of such repetitions falls 19 times in 20 (a distribution-
  // free interval: a change of the median by more than its width is a real one). Beside them
  // "fastest_ratio" and the mean times per side in seconds.
  void Report(benchmark::State& state) const {
    if (pairs_ == 0) return;
    for (const auto& [name, values] : ratios_) Median(state, name, values);
    // Other programs only ever slow a repetition down: the fastest of each side is the
    // least disturbed, and their ratio a second, steadier view on a busy machine.
    state.counters["fastest_ratio"] = fastestMeasured_ / fastestBaseline_;
    state.counters["measured_s"] = measured_ / double(pairs_);
    state.counters["baseline_s"] = baseline_ / double(pairs_);
    if (processTime_) {
      state.counters["measured_cpu_s"] = measuredCpu_ / double(pairs_);
      state.counters["baseline_cpu_s"] = baselineCpu_ / double(pairs_);
    }
  }

  // The processor time of all threads of the process so far.
  static double ProcessSeconds() { return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }
  // The processor time of the calling thread so far.
  static double ThreadSeconds() { return ClockSeconds(CLOCK_THREAD_CPUTIME_ID); }

 private:
  template <class F>
  static Times Time(F&& f) {
    const double cpu = ProcessSeconds();
    const auto start = std::chrono::steady_clock::now();
    f();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            ProcessSeconds() - cpu};
  }
  static double ClockSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  static void Median(benchmark::State& state, const std::string& name, std::vector<double> r) {
    std::sort(r.begin(), r.end());
    const size_t n = r.size();
    state.counters[name] = n % 2 != 0 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
    state.counters[name + "_min"] = r.front();
    state.counters[name + "_max"] = r.back();
    // The ranks from the normal approximation of the binomial distribution around the median.
    const double half = 0.98 * std::sqrt(double(n));
    const auto at = [&](double index) { return r[size_t(std::clamp(index, 0.0, double(n - 1)))]; };
    state.counters[name + "_lo"] = at(std::round(double(n) / 2 - half) - 1);
    state.counters[name + "_hi"] = at(std::round(double(n) / 2 + half));
  }

  bool processTime_;
  size_t pairs_ = 0;
  std::map<std::string, std::vector<double>> ratios_;
  double measured_ = 0, baseline_ = 0, measuredCpu_ = 0, baselineCpu_ = 0;
  double fastestMeasured_ = 1e300, fastestBaseline_ = 1e300;
};

// Keeps the process, and every thread it starts, on `count` processors: from $QV_BENCH_CPU,
// else from the one it runs on, onwards among those it may use. Returns the first, or -1
// when it could not.
inline int PinToCpus(int count) {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
  const char* chosen = std::getenv("QV_BENCH_CPU");
  const int first = chosen != nullptr && *chosen != '\0' ? std::atoi(chosen) : sched_getcpu();
  if (first < 0 || first >= CPU_SETSIZE || !CPU_ISSET(first, &allowed)) return -1;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = first, taken = 0; taken < count && cpu < first + CPU_SETSIZE; ++cpu) {
    const int c = cpu % CPU_SETSIZE;
    if (CPU_ISSET(c, &allowed)) {
      CPU_SET(c, &set);
      ++taken;
    }
  }
  return sched_setaffinity(0, sizeof set, &set) == 0 ? first : -1;
}

// The processors the calling thread may run on, and a way to keep it on one of them.
inline cpu_set_t ThreadCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return set;
}
inline void SetThreadCpus(const cpu_set_t& set) {
  sched_setaffinity(0, sizeof set, &set);
}
inline cpu_set_t OneCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return set;
}

// Gives the process, and every thread it starts from now on, the highest scheduling priority
// of its class, so that other programs on its processor take little of it; false when it may
// not.
inline bool RaisePriority() {
  return setpriority(PRIO_PROCESS, 0, -20) == 0;
}

// The load averages of the last 1, 5 and 15 minutes, as the kernel reports them.
inline std::string LoadAverage() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  if (f == nullptr) return "unknown";
  double a = 0, b = 0, c = 0;
  const int n = std::fscanf(f, "%lf %lf %lf", &a, &b, &c);
  std::fclose(f);
  if (n != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
  return text;
}

// After the usual table, one line per target: a counter of a benchmark (or its time in
// milliseconds when `counter` is empty), with the spread and the median's 95 % interval when
// the counter has them, and whether the limit is met.
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
        char text[96];
        std::snprintf(text, sizeof text, " (spread %.3f-%.3f)", v.at(t.counter + "_min"),
                      v.at(t.counter + "_max"));
        spread = text;
        if (v.count(t.counter + "_lo") != 0 && v.count(t.counter + "_hi") != 0) {
          std::snprintf(text, sizeof text, " median in %.3f-%.3f", v.at(t.counter + "_lo"),
                        v.at(t.counter + "_hi"));
          spread += text;
        }
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
