// Writes arbitrary bytes into a package queue's shared mapping, then pops and pushes: the
// queue must neither crash nor hand out anything outside its mapping.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/process.h"
#include "share/share_map_memory.h"
#include "share/share_package_data_queue.h"

using Vantor::KQCP::PackageRecord;
using Vantor::KQCP::ShareMapMemory;
using Vantor::KQCP::SharePackageDataQueue;

namespace {

struct Target {
  SharePackageDataQueue queue;
  ShareMapMemory raw;
  Target() {
    const std::string name =
        "kqcp_fuzz_queue_" + std::to_string(Vantor::KQCP::os::CurrentProcessId());
    if (!queue.Create(name) || !raw.Open(name + "_DQ_MAPMEMORY")) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Target target;
  std::uint8_t* base = target.raw.GetData();
  const std::uint32_t capacity = target.raw.GetCapacity();
  // Header and the start of the record area come from the input; the rest of what earlier
  // inputs wrote stays, as it would in a long-lived queue.
  std::memcpy(base, data, std::min<std::size_t>(size, capacity));
  // The queue maps the file at its own address.
  const std::uint8_t* areaBegin = target.queue.Area();
  const std::uint8_t* areaEnd = areaBegin + target.queue.AreaSize();

  target.queue.Lock();
  for (int i = 0; i < 64; ++i) {
    PackageRecord record;
    if (!target.queue.Pop(record)) break;
    if (record.payloadLength < 0 ||
        (record.payloadLength > 0 &&
         (record.payload < areaBegin || record.payload + record.payloadLength > areaEnd))) {
      std::abort();
    }
  }
  PackageRecord record;
  record.label = "Operation.fuzz";
  const std::uint8_t payload[64] = {};
  record.payload = payload;
  record.payloadLength = static_cast<std::int32_t>(size % sizeof payload);
  target.queue.Push(record);
  PackageRecord back;
  target.queue.Pop(back);
  target.queue.Unlock();
  return 0;
}
