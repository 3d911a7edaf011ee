#include <cstdio>
#include <thread>

// Loaded by the crash program with dlopen: its constructor runs while the loader holds its
// lock, and starts a thread (through the runtime, whose thread start the logger wraps) that it
// waits for.
namespace {
struct StartsAThread {
  StartsAThread() {
    std::thread worker([] { std::puts("library thread ran"); });
    worker.join();
  }
} starts_a_thread;
}  // namespace
