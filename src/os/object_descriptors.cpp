// The table of named-object descriptors and the fork handlers that keep it true in a child.
#include "os/object_descriptors.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <unordered_set>

namespace Vantor::KQCP::os {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_set<int*> slots;
};

// Never destroyed: descriptors may be closed by static destructors after this file's ran.
Table& TheTable() {
  static auto* table = new Table();
  return *table;
}

std::atomic<std::uint32_t> forkGeneration{0};

// The table is locked across fork(), so that the child sees no descriptor half-registered.
void BeforeFork() { TheTable().lock.lock(); }
void AfterForkInParent() { TheTable().lock.unlock(); }
void AfterForkInChild() {
  Table& table = TheTable();
  for (int* slot : table.slots) {
    close(*slot);
    *slot = -1;
  }
  table.slots.clear();
  forkGeneration.fetch_add(1, std::memory_order_relaxed);
  table.lock.unlock();
}

// Registered once when the library is loaded; glibc removes the handlers again when a library
// that registered them is unloaded.
const bool forkHandlersRegistered =
    pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild) == 0;

}  // namespace

int OpenTracked(int* slot, const std::function<int()>& open) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  *slot = open();
  if (*slot >= 0) table.slots.insert(slot);
  return *slot;
}

void CloseTracked(int* slot) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  if (*slot < 0) return;
  table.slots.erase(slot);
  close(*slot);
  *slot = -1;
}

std::uint32_t ForkGeneration() {
  (void)forkHandlersRegistered;
  return forkGeneration.load(std::memory_order_relaxed);
}

}  // namespace Vantor::KQCP::os
