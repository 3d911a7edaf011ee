// The program as a user meets it, each figure against a baseline of the same run, with
// interleaved repetitions (bench_util.h):
// - start-up to a painted main window on the headless back end, against an empty process
//   start. Both are this program started again: once to create the main window as `quorvel`
//   does and wait until its first picture is presented, once to end at once; each says so
//   through a pipe, and the time to that is measured.
// - an unattended rip ("quorvel -auto", MP3) of a generated three-track image end to end,
//   against the bare encoder library encoding the same PCM from memory;
// - a start and end of the program itself, headless (stopped by SIGTERM before it runs, which
//   closes its window as soon as it exists), against an empty process start and end: elapsed
//   time and the processor time of every thread of the child;
// - the peak resident memory of an unattended rip (FLAC) of a generated 74-minute image, from
//   the finished child's resource usage, against 64 MB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lame/lame.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/unit1.h"
#include "bench/bench_util.h"
#include "platform/classlib/dialogs.h"
#include "platform/classlib/forms.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The CD database server is reached through a proxy on a closed port, so that a lookup never
// leaves the machine.
constexpr const char* kIni = "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=1\n";
constexpr double kSectorsPerSecond = 75;

fs::path ExeDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

// A folder with a disc image, the program's settings and a local database entry for the disc.
struct Disc {
  fs::path dir;
  std::vector<std::vector<uint8_t>> tracks;  // the PCM of each track

  Disc(const fs::path& Dir, const std::vector<uint32_t>& Seconds, bool KeepPcm) : dir(Dir) {
    fs::create_directories(dir);
    DiscSpec spec;
    for (uint32_t s : Seconds) spec.AudioTracks.push_back({uint32_t(s * kSectorsPerSecond)});
    spec.Seed = 7;
    WriteDiscImage(spec, dir / "disc.cue");
    std::ofstream(dir / "Quorvel.ini") << kIni;
    if (!KeepPcm) return;
    std::ifstream in(dir / "disc.bin", std::ios::binary);
    for (uint32_t s : Seconds) {
      std::vector<uint8_t> pcm(size_t(s * kSectorsPerSecond) * 2352);
      in.read(reinterpret_cast<char*>(pcm.data()), std::streamsize(pcm.size()));
      tracks.push_back(std::move(pcm));
    }
  }
};

struct Child {
  double seconds = 0;     // until it ended, or said it was ready
  double cpuSeconds = 0;  // user and system time of all its threads
  double maxRssMb = 0;    // peak resident memory
  int status = -1;
};

// Runs `argv` in `dir` with the program's environment for `disc`. With `ReadyPipe` the time
// runs until the child writes to the pipe it gets as descriptor 3; else until it ends.
// With `OwnMemory` the peak resident memory is the program's own: it runs below
// /usr/bin/time, since a child forked from this process starts with this process's pages
// resident, and its peak would count them.
// With `Stop` the child gets SIGTERM before it runs: held blocked until the program watches
// for it.
Child Run(const fs::path& Dir, std::vector<std::string> Argv, bool ReadyPipe,
          bool OwnMemory = false, bool Stop = false) {
  const fs::path rssFile = Dir / "max_rss_kb";
  if (OwnMemory) Argv.insert(Argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", rssFile.string()});
  int fds[2] = {-1, -1};
  if (ReadyPipe && ::pipe2(fds, O_CLOEXEC) != 0) std::abort();
  const auto start = Clock::now();
  sigset_t term, before;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  if (Stop) ::sigprocmask(SIG_BLOCK, &term, &before);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(Dir.c_str()) != 0) ::_exit(127);
    ::setenv("QUORVEL_CDROM", (Dir / "disc.cue").c_str(), 1);
    ::setenv("QUORVEL_INI", (Dir / "Quorvel.ini").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", Dir.c_str(), 1);
    ::setenv("QUORVEL_DISPLAY", "headless", 1);
    if (ReadyPipe) ::dup2(fds[1], 3);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> args;
    for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (Stop) {
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    ::kill(pid, SIGTERM);
  }
  Child child;
  if (ReadyPipe) {
    ::close(fds[1]);
    char byte;
    if (::read(fds[0], &byte, 1) == 1)
      child.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fds[0]);
  }
  struct rusage usage {};
  int status = 0;
  ::wait4(pid, &status, 0, &usage);
  if (!ReadyPipe) child.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  child.maxRssMb = double(usage.ru_maxrss) / 1024.0;
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  child.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  if (OwnMemory) {
    double kb = -1024;  // unreadable: reported as -1 MB
    std::ifstream(rssFile) >> kb;
    child.maxRssMb = kb / 1024.0;
  }
  child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return child;
}

struct Fixture {
  fs::path root;
  Disc small, large;
  Fixture()
      : root(fs::temp_directory_path() / ("qvbench-app-" + std::to_string(::getpid()))),
        small(root / "small", {4, 3, 5}, true),
        large(root / "large", std::vector<uint32_t>(18, 247), false) {
    for (const Disc* d : {&small, &large}) {
      const Child entry = Run(d->dir,
                              {(ExeDir() / "qv-demo-entry").string(), "CDDB", "misc",
                               "Quorvel Demo", "Generated Disc", "2026", "First", "Second"},
                              false);
      if (entry.status != 0) throw std::runtime_error("qv-demo-entry failed");
    }
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

double BareLame(const std::vector<std::vector<uint8_t>>& Tracks, const fs::path& Dir) {
  const auto start = Clock::now();
  std::vector<uint8_t> out(17440);
  for (size_t t = 0; t < Tracks.size(); ++t) {
    const std::vector<uint8_t>& pcm = Tracks[t];
    const int fd = ::open((Dir / ("bare" + std::to_string(t) + ".mp3")).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const auto put = [fd](const uint8_t* p, int n) {
      if (n > 0 && ::write(fd, p, size_t(n)) != n) std::abort();
    };
    lame_t h = lame_init();
    lame_set_num_samples(h, (unsigned long)(pcm.size() / 4));
    lame_set_in_samplerate(h, 44100);
    lame_set_num_channels(h, 2);
    lame_set_brate(h, 128);
    lame_init_params(h);
    for (size_t pos = 0; pos < pcm.size(); pos += 16384) {
      const size_t n = std::min<size_t>(16384, pcm.size() - pos);
      put(out.data(), lame_encode_buffer_interleaved(
                          h, reinterpret_cast<short*>(const_cast<uint8_t*>(pcm.data() + pos)),
                          int(n / 4), out.data(), int(out.size())));
    }
    put(out.data(), lame_encode_flush(h, out.data(), int(out.size())));
    lame_close(h);
    ::close(fd);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_StartupVsEmptyProcess(benchmark::State& state) {
  const fs::path& dir = Data().small.dir;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  bench::PairedRatios ratios(false);
  for (auto _ : state) {
    Child startup;
    ratios.Repeat(
        [&] {
          startup = Run(dir, {self, "--startup-child"}, true);
        },
        [&] {
          Run(dir, {self, "--empty-child"}, true);
        });
    if (startup.seconds <= 0) {
      state.SkipWithError("the main window was not painted");
      return;
    }
    state.SetIterationTime(startup.seconds);
  }
  ratios.Report(state);
}

void BM_StartAndEndVsEmptyProcess(benchmark::State& state) {
  const fs::path& dir = Data().small.dir;
  const std::string quorvel = (ExeDir() / "quorvel").string();
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  bench::PairedRatios ratios(false);
  double cpu = 0;
  for (auto _ : state) {
    Child program, empty;
    ratios.Repeat([&] { program = Run(dir, {quorvel}, false, false, true); },
                  [&] {
                    empty = Run(dir, {self, "--empty-process"}, false, false, true);
                  });
    if (program.status != 0) {
      state.SkipWithError("the program did not end by its window");
      return;
    }
    ratios.Record("cpu_ratio", program.cpuSeconds / std::max(empty.cpuSeconds, 1e-4));
    cpu += program.cpuSeconds;
    state.SetIterationTime(program.seconds);
  }
  ratios.Report(state);
  state.counters["program_cpu_ms"] = 1000 * cpu / double(state.iterations());
}

void BM_AutoRipVsBareEncoder(benchmark::State& state) {
  Disc& disc = Data().small;
  const std::string quorvel = (ExeDir() / "quorvel").string();
  bench::PairedRatios ratios(false);
  double rss = 0;
  for (auto _ : state) {
    Child rip;
    ratios.Repeat(
        [&] {
          rip = Run(disc.dir,
                    {quorvel, "-auto", "-format=MP3", "-pathtoenc=" + (disc.dir / "out/").string()},
                    false);
        },
        [&] { BareLame(disc.tracks, disc.dir); });
    if (rip.status != 0) {
      state.SkipWithError("the unattended rip failed");
      return;
    }
    rss = std::max(rss, rip.maxRssMb);
    state.SetIterationTime(rip.seconds);
  }
  ratios.Report(state);
  state.counters["max_rss_mb"] = rss;
}

void BM_AutoRip74MinutesMemory(benchmark::State& state) {
  Disc& disc = Data().large;
  const std::string quorvel = (ExeDir() / "quorvel").string();
  for (auto _ : state) {
    const Child rip = Run(
        disc.dir, {quorvel, "-auto", "-format=FLAC", "-pathtoenc=" + (disc.dir / "out/").string()},
        false, true);
    if (rip.status != 0) {
      state.SkipWithError("the unattended rip failed");
      return;
    }
    state.SetIterationTime(rip.seconds);
    state.counters["max_rss_mb"] = rip.maxRssMb;
  }
}

BENCHMARK(BM_StartupVsEmptyProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(41);
BENCHMARK(BM_StartAndEndVsEmptyProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(21);
BENCHMARK(BM_AutoRipVsBareEncoder)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_AutoRip74MinutesMemory)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The child that creates the main window as the program does and says when its first picture
// is on the (headless) screen.
int StartupChild() {
  auto backend = HeadlessBackend::FromEnvironment();
  HeadlessBackend* screen = backend.get();
  StartWindowSystem(std::move(backend));
  SetMessageBoxesUnattended(true);
  TForm1::CommandLine = {};
  TForm1::ChoiceUnattendedDefault = true;
  Application()->SetTitle("Quorvel");
  TForm1* form = nullptr;
  Application()->CreateForm(form);
  form->Show();
  while (screen->PresentCount(form->Handle()) == 0 && Application()->HandleMessage()) {
  }
  const bool painted = screen->PresentCount(form->Handle()) > 0;
  if (painted && ::write(3, "1", 1) != 1) return 1;
  DestroyApplication();
  StopWindowSystem();
  return painted ? 0 : 1;
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--empty-child") return ::write(3, "1", 1) == 1 ? 0 : 1;
  if (argc == 2 && std::string(argv[1]) == "--startup-child") return qv::StartupChild();
  if (argc == 2 && std::string(argv[1]) == "--empty-process") return 0;
  qv::bench::TargetReporter reporter({
      {"BM_StartupVsEmptyProcess/iterations:41/manual_time", "ratio",
       "start-up to painted window / empty process", 0},
      {"BM_StartAndEndVsEmptyProcess/iterations:21/manual_time", "ratio",
       "start and end of the program / empty process", 0},
      {"BM_StartAndEndVsEmptyProcess/iterations:21/manual_time", "cpu_ratio",
       "same, processor time", 0},
      {"BM_StartAndEndVsEmptyProcess/iterations:21/manual_time", "program_cpu_ms",
       "same, the program's processor time", 0, " ms"},
      {"BM_AutoRipVsBareEncoder/iterations:5/manual_time", "ratio",
       "unattended 3-track rip / bare encoder", 0},
      {"BM_AutoRip74MinutesMemory/iterations:1/manual_time", "max_rss_mb",
       "74-minute unattended rip, peak resident", 64, " MB"},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
