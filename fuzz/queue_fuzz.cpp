// Writes arbitrary bytes over a package queue's whole shared mapping, header words included,
// then acts as the owner and as a writer: the queue must neither crash nor hand out anything
// outside its mapping, a damaged header must be left untouched by writers, and the owner's
// reset must always leave a queue that works.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os/process.h"
#include "share/share_map_memory.h"
#include "share/share_package_data_queue.h"
#include "share/wire/object_names.h"

using Vantor::KQCP::PackageRecord;
using Vantor::KQCP::ShareMapMemory;
using Vantor::KQCP::SharePackageDataQueue;
namespace wire = Vantor::KQCP::wire;

namespace {

struct Target {
  SharePackageDataQueue queue;
  ShareMapMemory raw;
  Target() {
    const std::string name =
        "kqcp_fuzz_queue_" + std::to_string(Vantor::KQCP::os::CurrentProcessId());
    if (!queue.Create(name) || !raw.Open(wire::QueueMapName(name))) std::abort();
  }
  std::uint8_t* View() const { return raw.GetData() - ShareMapMemory::kHeaderSize; }
  std::size_t ViewSize() const { return raw.MappedCapacity() + ShareMapMemory::kHeaderSize; }
};

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Target target;
  // The header words and the start of the record area come from the input; the rest of what
  // earlier inputs wrote stays, as it would in a long-lived queue.
  std::memcpy(target.View(), data, std::min(size, target.ViewSize()));
  // The queue maps the file at its own address.
  const std::uint8_t* areaBegin = target.queue.Area();
  const std::uint8_t* areaEnd = areaBegin + target.queue.AreaSize();

  PackageRecord record;
  record.label = "Operation.fuzz";
  const std::uint8_t payload[64] = {};
  record.payload = payload;
  record.payloadLength = static_cast<std::int32_t>(size % sizeof payload);

  target.queue.Lock();
  if (target.queue.IsDamaged()) {
    // A writer leaves a damaged queue exactly as it found it.
    const std::vector<std::uint8_t> before(target.View(), target.View() + target.ViewSize());
    Require(target.queue.Push(record) == 0);
    Require(std::memcmp(before.data(), target.View(), before.size()) == 0);
    target.queue.Reset();
    Require(!target.queue.IsDamaged());
  }
  std::vector<std::uint8_t> raw;
  for (int i = 0; i < 64; ++i) {
    PackageRecord popped;
    // The owner's two ways of taking a record: parsed in place, or copied out and parsed later.
    const bool copied = (size + i) % 2 == 1;
    const std::size_t before = raw.size();
    if (!(copied ? target.queue.PopRaw(raw) : target.queue.Pop(popped))) {
      Require(raw.size() == before);
      if (target.queue.GetCount() != 0) target.queue.Reset();
      break;
    }
    if (copied) {
      Require(raw.size() > before);
      Require(SharePackageDataQueue::Parse(
          raw.data() + before, static_cast<std::uint32_t>(raw.size() - before), &popped));
      continue;
    }
    Require(popped.payloadLength >= 0);
    Require(popped.payloadLength == 0 ||
            (popped.payload >= areaBegin && popped.payload + popped.payloadLength <= areaEnd));
  }
  Require(!target.queue.IsDamaged());
  if (target.queue.GetCount() == 0) {
    // An empty, sound queue takes the record and gives it back.
    target.queue.Reset();
    Require(target.queue.Push(record) != 0);
    PackageRecord back;
    Require(target.queue.Pop(back) && back.label == record.label &&
            back.payloadLength == record.payloadLength);
  }
  target.queue.SettleSignal();
  target.queue.Unlock();
  return 0;
}
