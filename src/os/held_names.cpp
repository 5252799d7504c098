// The table of held names and the hook that releases them at exit and at unload.
#include "os/held_names.h"

#include <unistd.h>

#include <mutex>
#include <unordered_map>

#include "os/named_object.h"

namespace Vantor::KQCP::os {
namespace {

struct HeldNames {
  std::mutex lock;
  // The process that made each entry: a forked child inherits the table but not the names.
  std::unordered_map<NamedObject*, pid_t> objects;
};

// Never destroyed: objects may be released by other static destructors after the hook ran.
HeldNames& Table() {
  static auto* table = new HeldNames();
  return *table;
}

__attribute__((destructor)) void ReleaseHeldNamesAtExit() {
  HeldNames& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  const pid_t self = getpid();
  for (auto& [object, owner] : table.objects) {
    if (owner == self) object->ReleaseName();
  }
}

}  // namespace

void AddHeldName(NamedObject* object) {
  HeldNames& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.objects[object] = getpid();
}

void RemoveHeldName(NamedObject* object) {
  HeldNames& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.objects.erase(object);
}

}  // namespace Vantor::KQCP::os
