// The table of named-object descriptors and the fork handlers that keep it true in a child.
#include "os/object_descriptors.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace Vantor::KQCP::os {
namespace {

struct Table {
  std::mutex lock;
  // Each descriptor's slot, and what the child does before closing it.
  std::unordered_map<int*, ChildStep> slots;
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
// Nothing here allocates or frees: the child of a threaded process must not rely on the
// allocator's locks. Entries stay until their slots are closed.
void AfterForkInChild() {
  Table& table = TheTable();
  for (auto& [slot, step] : table.slots) {
    if (*slot < 0) continue;
    if (step.run) step.run(step.context);
    close(*slot);
    *slot = -1;
  }
  forkGeneration.fetch_add(1, std::memory_order_relaxed);
  table.lock.unlock();
}

// Registered once when the library is loaded; glibc removes the handlers again when a library
// that registered them is unloaded.
const bool forkHandlersRegistered =
    pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild) == 0;

}  // namespace

int OpenTracked(int* slot, const std::function<int()>& open, ChildStep inChild) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  *slot = open();
  if (*slot >= 0) table.slots[slot] = inChild;
  return *slot;
}

void CloseTracked(int* slot) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  table.slots.erase(slot);
  if (*slot < 0) return;
  close(*slot);
  *slot = -1;
}

std::uint32_t ForkGeneration() {
  (void)forkHandlersRegistered;
  return forkGeneration.load(std::memory_order_relaxed);
}

}  // namespace Vantor::KQCP::os
