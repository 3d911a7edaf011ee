// Message-loop throughput and latency, each against a plain std::mutex + condition
// variable hand-off doing the same work in the same run; the ratios are printed last.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <latch>
#include <mutex>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace {

using namespace qv;

constexpr int kBatch = 20000;

// One thread posts a batch to a window of the benchmark's thread, which pumps it.
void BM_PostMessage(benchmark::State& state) {
  int received = 0;
  const HWND hwnd = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++received;
    return 0;
  });
  for (auto _ : state) {
    received = 0;
    std::thread producer([hwnd] {
      for (int i = 0; i < kBatch; ++i) PostMessage(hwnd, WM_USER, WPARAM(i), 0);
    });
    PumpUntil([&] { return received == kBatch; });
    producer.join();
  }
  DeallocateHWnd(hwnd);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PostMessage)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same hand-off through a locked deque and a condition variable.
void BM_PostBaseline(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<MSG> queue;
  for (auto _ : state) {
    std::thread producer([&] {
      for (int i = 0; i < kBatch; ++i) {
        {
          const std::lock_guard lock(mutex);
          queue.push_back(MSG{1, WM_USER, WPARAM(i), 0});
        }
        ready.notify_one();
      }
    });
    int received = 0;
    while (received < kBatch) {
      std::unique_lock lock(mutex);
      ready.wait(lock, [&] { return !queue.empty(); });
      const MSG msg = queue.front();
      queue.pop_front();
      lock.unlock();
      benchmark::DoNotOptimize(msg);
      ++received;
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PostBaseline)->UseRealTime()->Unit(benchmark::kMillisecond);

// Round trip of one SendMessage to a window whose thread sits in GetMessage.
void BM_SendMessageCrossThread(benchmark::State& state) {
  std::latch created(1);
  HWND hwnd = 0;
  std::thread::id serverId;
  std::thread server([&] {
    hwnd = AllocateHWnd([](HWND, UINT, WPARAM w, LPARAM) -> LRESULT { return LRESULT(w) + 1; });
    serverId = std::this_thread::get_id();
    created.count_down();
    MSG msg;
    while (GetMessage(msg)) DispatchMessage(msg);
  });
  created.wait();
  WPARAM i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(SendMessage(hwnd, WM_USER, i++, 0));
  PostThreadMessage(serverId, WM_QUIT, 0, 0);
  server.join();
}
BENCHMARK(BM_SendMessageCrossThread)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same round trip as a request and an answer under one mutex and two conditions.
void BM_SendBaseline(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable asked;
  std::condition_variable answered;
  bool haveRequest = false;
  bool haveAnswer = false;
  bool stop = false;
  WPARAM request = 0;
  LRESULT answer = 0;
  std::thread server([&] {
    std::unique_lock lock(mutex);
    for (;;) {
      asked.wait(lock, [&] { return haveRequest || stop; });
      if (stop) return;
      haveRequest = false;
      answer = LRESULT(request) + 1;
      haveAnswer = true;
      answered.notify_one();
    }
  });
  WPARAM i = 0;
  for (auto _ : state) {
    std::unique_lock lock(mutex);
    request = i++;
    haveRequest = true;
    asked.notify_one();
    answered.wait(lock, [&] { return haveAnswer; });
    haveAnswer = false;
    benchmark::DoNotOptimize(answer);
  }
  {
    const std::lock_guard lock(mutex);
    stop = true;
  }
  asked.notify_one();
  server.join();
}
BENCHMARK(BM_SendBaseline)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter({
      {"BM_PostMessage/real_time", "BM_PostBaseline/real_time", "posted messages, time per batch",
       "the mutex+condvar baseline"},
      {"BM_SendMessageCrossThread/real_time", "BM_SendBaseline/real_time",
       "cross-thread SendMessage latency", "the mutex+condvar baseline"},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}
