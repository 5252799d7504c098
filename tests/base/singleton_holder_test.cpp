// SingletonHolder: one construction under racing first callers, a throwing constructor leaves
// it unset and the lock free, allocation failure gives null and a later call retries.
#include "base/singleton_holder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace VEXO::Pattern {
namespace {

std::atomic<int> g_slowConstructions{0};
struct Slow {
  Slow() {
    ++g_slowConstructions;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  virtual ~Slow() = default;
};

TEST(SingletonHolder, RacingFirstCallersGetOneObjectFromOneConstruction) {
  std::vector<std::thread> threads;
  std::vector<Slow*> seen(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] { seen[i] = SingletonHolder<Slow>::Instance(); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(g_slowConstructions, 1);
  for (Slow* s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_NE(seen[0], nullptr);
}

std::atomic<bool> g_throwNext{true};
struct Flaky {
  Flaky() {
    if (g_throwNext.exchange(false)) throw std::runtime_error("first construction fails");
  }
  virtual ~Flaky() = default;
};

TEST(SingletonHolder, ThrowingConstructorLeavesItUnsetForAnotherThread) {
  EXPECT_THROW(SingletonHolder<Flaky>::Instance(), std::runtime_error);
  Flaky* created = nullptr;
  std::thread([&] { created = SingletonHolder<Flaky>::Instance(); }).join();
  EXPECT_NE(created, nullptr);
  EXPECT_EQ(SingletonHolder<Flaky>::Instance(), created);
}

std::atomic<bool> g_refuseMemory{true};
struct Starved {
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_refuseMemory.exchange(false)) return nullptr;
    return ::operator new(size, std::nothrow);
  }
  static void operator delete(void* p) noexcept { ::operator delete(p); }
  virtual ~Starved() = default;
};

TEST(SingletonHolder, AllocationFailureReturnsNullAndALaterCallRetries) {
  EXPECT_EQ(SingletonHolder<Starved>::Instance(), nullptr);
  Starved* second = SingletonHolder<Starved>::Instance();
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(SingletonHolder<Starved>::Instance(), second);
}

}  // namespace
}  // namespace VEXO::Pattern
