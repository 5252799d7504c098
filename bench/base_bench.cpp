// Semaphore hand-off between two threads: the library's futex semaphore against
// std::counting_semaphore.
#include <benchmark/benchmark.h>

#include <semaphore>
#include <thread>

#include "base/semaphore.h"

namespace {

void SemaphorePingPong_kqcp(benchmark::State& state) {
  VEXO::System::Thread::Semaphore ping, pong;
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    while (ping.Wait(Vantor::KQCP::os::kInfinite) && !stop) pong.Release(1);
  });
  for (auto _ : state) {
    ping.Release(1);
    pong.Wait(Vantor::KQCP::os::kInfinite);
  }
  stop = true;
  ping.Release(1);
  partner.join();
}
BENCHMARK(SemaphorePingPong_kqcp)->Name("semaphore_ping_pong/kqcp")->UseRealTime();

void SemaphorePingPong_baseline(benchmark::State& state) {
  std::counting_semaphore<2048> ping(0), pong(0);
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    for (;;) {
      ping.acquire();
      if (stop) break;
      pong.release();
    }
  });
  for (auto _ : state) {
    ping.release();
    pong.acquire();
  }
  stop = true;
  ping.release();
  partner.join();
}
BENCHMARK(SemaphorePingPong_baseline)->Name("semaphore_ping_pong/baseline")->UseRealTime();

}  // namespace
