// Cross-process wake-up through named semaphores against a bare futex ping-pong between two
// processes, and the cost of delivering one record by name (open, lock, push, unlock, close)
// against pushing into a queue that is already open.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "os/named_semaphore.h"
#include "share/share_package_data_queue.h"

namespace {

using Vantor::KQCP::os::kInfinite;

std::string BenchName(const char* what) {
  return std::string("kqcp_bench_") + what + "_" + std::to_string(getpid());
}

void CrossProcessWake_kqcp(benchmark::State& state) {
  const std::string ping = BenchName("ping"), pong = BenchName("pong");
  Vantor::KQCP::os::NamedResult result{};
  auto pingSem = Vantor::KQCP::os::CreateNamedSemaphore(ping, 0, 2048, &result);
  auto pongSem = Vantor::KQCP::os::CreateNamedSemaphore(pong, 0, 2048, &result);
  pid_t child = fork();
  if (child == 0) {
    auto in = Vantor::KQCP::os::OpenNamedSemaphore(ping, &result);
    auto out = Vantor::KQCP::os::OpenNamedSemaphore(pong, &result);
    for (;;) {
      in->Wait(kInfinite);
      out->Release(1);
    }
  }
  for (auto _ : state) {
    pingSem->Release(1);
    pongSem->Wait(kInfinite);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}
BENCHMARK(CrossProcessWake_kqcp)->Name("cross_process_wake/kqcp")->UseRealTime();

// Two futex words in an anonymous shared mapping, flipped between 0 and 1.
void CrossProcessWake_baseline(benchmark::State& state) {
  auto* words = static_cast<std::atomic<std::uint32_t>*>(
      mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  auto wait = [](std::atomic<std::uint32_t>* w) {
    for (int spin = 0; spin < 200; ++spin) {
      std::uint32_t one = 1;
      if (w->compare_exchange_strong(one, 0)) return;
      __builtin_ia32_pause();
    }
    for (;;) {
      std::uint32_t one = 1;
      if (w->compare_exchange_strong(one, 0)) return;
      syscall(SYS_futex, w, FUTEX_WAIT, 0, nullptr, nullptr, 0);
    }
  };
  auto post = [](std::atomic<std::uint32_t>* w) {
    w->store(1);
    syscall(SYS_futex, w, FUTEX_WAKE, 1, nullptr, nullptr, 0);
  };
  pid_t child = fork();
  if (child == 0) {
    for (;;) {
      wait(&words[0]);
      post(&words[1]);
    }
  }
  for (auto _ : state) {
    post(&words[0]);
    wait(&words[1]);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  munmap(words, 4096);
}
BENCHMARK(CrossProcessWake_baseline)->Name("cross_process_wake/baseline")->UseRealTime();

Vantor::KQCP::PackageRecord MessageRecord(const std::uint8_t* payload) {
  Vantor::KQCP::PackageRecord record;
  record.target = "client";
  record.session = "session";
  record.label = "Message.";
  record.payloadLength = 12;
  record.payload = payload;
  return record;
}

void DrainOne(Vantor::KQCP::SharePackageDataQueue& owner) {
  owner.GetSignal()->Wait(0);
  owner.Lock();
  Vantor::KQCP::PackageRecord popped;
  owner.Pop(popped);
  owner.Unlock();
}

void DeliveryByName_kqcp(benchmark::State& state) {
  const std::string name = BenchName("delivery");
  Vantor::KQCP::SharePackageDataQueue owner;
  owner.Create(name);
  const std::uint8_t payload[12] = {};
  const auto record = MessageRecord(payload);
  for (auto _ : state) {
    Vantor::KQCP::SharePackageDataQueue writer;
    writer.Open(name);
    writer.Lock();
    writer.Push(record);
    writer.Unlock();
    writer.Close();
    DrainOne(owner);
  }
}
BENCHMARK(DeliveryByName_kqcp)->Name("queue_delivery_by_name/kqcp")->Unit(benchmark::kMicrosecond);

void DeliveryByName_baseline(benchmark::State& state) {
  const std::string name = BenchName("delivery_open");
  Vantor::KQCP::SharePackageDataQueue owner, writer;
  owner.Create(name);
  writer.Open(name);
  const std::uint8_t payload[12] = {};
  const auto record = MessageRecord(payload);
  for (auto _ : state) {
    writer.Lock();
    writer.Push(record);
    writer.Unlock();
    DrainOne(owner);
  }
}
BENCHMARK(DeliveryByName_baseline)
    ->Name("queue_delivery_by_name/baseline")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
