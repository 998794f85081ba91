// The first-come first-served Lock against std::mutex: the uncontended path
// (one compare-and-swap each way) and hand-off between two busy threads.
#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/lock.h"

namespace {

sm::Lock g_lock;
std::mutex g_mutex;
long g_counter;

// glibc skips the atomic operations of a mutex while a process has a single
// thread; the launcher always has more, so keep one idle thread around.
const bool g_second_thread = [] {
  std::thread([] {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }).detach();
  return true;
}();

void BM_LockUncontended(benchmark::State& state) {
  sm::Lock local{};
  for (auto _ : state) {
    sm::lock(&local);
    benchmark::ClobberMemory();
    sm::unlock(&local);
  }
}
BENCHMARK(BM_LockUncontended);

void BM_StdMutexUncontended(benchmark::State& state) {
  std::mutex local;
  for (auto _ : state) {
    local.lock();
    benchmark::ClobberMemory();
    local.unlock();
  }
}
BENCHMARK(BM_StdMutexUncontended);

// Two threads take turns on one lock; with a first-come first-served lock
// every release under contention hands ownership to the waiting thread.
void BM_LockContended(benchmark::State& state) {
  for (auto _ : state) {
    sm::lock(&g_lock);
    ++g_counter;
    sm::unlock(&g_lock);
  }
}
BENCHMARK(BM_LockContended)->Threads(2)->UseRealTime();

void BM_StdMutexContended(benchmark::State& state) {
  for (auto _ : state) {
    g_mutex.lock();
    ++g_counter;
    g_mutex.unlock();
  }
}
BENCHMARK(BM_StdMutexContended)->Threads(2)->UseRealTime();

}  // namespace
