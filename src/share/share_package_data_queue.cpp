// The shared record queue. Every offset and length read from the mapping is checked against
// the mapping's real size before use: another process may have written anything there.
#include "share/share_package_data_queue.h"

#include <cstring>
#include <utility>

#include "os/futex.h"
#include "os/named_object.h"
#include "share/wire/bytes.h"
#include "share/wire/object_names.h"
#include "share/wire/queue_header.h"

namespace Vantor::KQCP {
namespace {

using wire::Load32;
using wire::Store32;
using enum wire::queue::Word;

// Serialises a record at out (which has room for its StoredLength bytes).
void WriteRecord(std::uint8_t* out, const RecordParts& record) {
  const std::uint16_t type = PackageRecord::kType;
  std::memcpy(out, &type, 2);
  out += 2;
  auto put = [&out](std::string_view text) {
    if (text.empty()) return;  // an empty view may hold no pointer at all
    std::memcpy(out, text.data(), text.size());
    out += text.size();
  };
  for (std::string_view text : {record.target, record.sender, record.session}) {
    Store32(out, static_cast<std::uint32_t>(text.size()));
    out += 4;
    put(text);
  }
  Store32(out, static_cast<std::uint32_t>(record.label.size() + record.labelTail.size()));
  out += 4;
  put(record.label);
  put(record.labelTail);
  Store32(out, static_cast<std::uint32_t>(record.payloadLength));
  out += 4;
  if (record.payloadLength > 0) std::memcpy(out, record.payload, record.payloadLength);
}

// Parses the record at in, which may use at most bound bytes, into record (or, with null,
// only checks it). Returns its length, or 0 when it does not parse within the bound.
std::uint32_t ReadRecord(const std::uint8_t* in, std::uint32_t bound, PackageRecord* record) {
  std::uint32_t at = 0;
  auto take = [&](std::uint32_t n) {
    if (bound - at < n) return false;
    at += n;
    return true;
  };
  if (!take(2)) return 0;
  if (record) std::memcpy(&record->type, in, 2);
  std::string* texts[] = {nullptr, nullptr, nullptr, nullptr};
  if (record)
    texts[0] = &record->target, texts[1] = &record->sender, texts[2] = &record->session,
    texts[3] = &record->label;
  for (std::string* text : texts) {
    if (!take(4)) return 0;
    auto length = static_cast<std::int32_t>(Load32(in + at - 4));
    if (length < 0 || static_cast<std::uint32_t>(length) > PackageRecord::kMaxStringLength ||
        !take(static_cast<std::uint32_t>(length))) {
      return 0;
    }
    if (text) text->assign(reinterpret_cast<const char*>(in + at - length), length);
  }
  if (!take(4)) return 0;
  auto payloadLength = static_cast<std::int32_t>(Load32(in + at - 4));
  if (payloadLength < 0 || !take(static_cast<std::uint32_t>(payloadLength))) return 0;
  if (record) {
    record->payloadLength = payloadLength;
    record->payload = in + at - payloadLength;
  }
  return at;
}

}  // namespace

std::uint32_t RecordParts::StoredLength() const {
  std::uint64_t total = PackageRecord::kFixedBytes;
  for (std::size_t length :
       {target.size(), sender.size(), session.size(), label.size() + labelTail.size()}) {
    if (length > PackageRecord::kMaxStringLength) return 0;
    total += length;
  }
  if (payloadLength < 0 || (payloadLength > 0 && !payload)) return 0;
  total += static_cast<std::uint32_t>(payloadLength);
  return total > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(total);
}

SharePackageDataQueue::~SharePackageDataQueue() { CloseHandles(); }

void SharePackageDataQueue::CloseHandles() {
  map_.Close();
  semaphore_.Close();
  mutex_.Close();
  open_ = false;
}

bool SharePackageDataQueue::Establish(const std::string& name, Role role, bool holdName,
                                      std::uint32_t boundMs, os::NamedResult* result) {
  const bool create = role == Role::kCreator;
  os::NamedResult ignored{};
  if (!result) result = &ignored;
  *result = os::NamedResult::kFailed;
  if (open_) return false;
  open_ = true;
  name_ = name;
  const os::Deadline deadline = os::Deadline::After(boundMs);
  const int mutexResult =
      create ? CreateNamedMutex(mutex_, wire::QueueMutexName(name), deadline.LeftMs())
             : OpenNamedMutex(mutex_, wire::QueueMutexName(name), holdName, deadline.LeftMs());
  if (mutexResult != kKernelObjectOk) {
    // Open: a missing mutex is a missing queue.
    *result = mutexResult == kKernelObjectBusy ? os::NamedResult::kBusy
              : create                         ? os::NamedResult::kFailed
                                               : os::NamedResult::kNotFound;
    CloseHandles();
    return false;
  }
  // Waits for the creator to finish making the queue; only so long, as a mutex that some
  // process keeps held must not stall anyone. An opener then takes the objects as they are; a
  // creator gives up, as others may already be waiting on its half-made queue.
  bool held = false;
  bool ok = false;
  {
    const NamedLock lock(mutex_, deadline.LeftMs());
    held = lock.Held();
    ok = (held || !create) && EstablishObjects(name, create, holdName, deadline, result);
    // A writer that died holding the mutex may have left the count behind.
    if (ok && lock.Abandoned()) Recount();
  }
  if (!ok) {
    if (*result == os::NamedResult::kOk) *result = os::NamedResult::kFailed;
    if (!held && create) *result = os::NamedResult::kBusy;
    // Leave nothing half-made behind: the names go with our handles.
    CloseHandles();
    return false;
  }
  *result = os::NamedResult::kOk;
  creator_ = create;
  return true;
}

bool SharePackageDataQueue::EstablishObjects(const std::string& name, bool create, bool holdName,
                                             const os::Deadline& deadline,
                                             os::NamedResult* result) {
  const std::string semaphoreName = wire::QueueSemaphoreName(name);
  const int semaphore =
      create ? CreateNamedSemaphore(semaphore_, semaphoreName, 0, kMaxPending, deadline.LeftMs())
             : OpenNamedSemaphore(semaphore_, semaphoreName, holdName, deadline.LeftMs());
  if (semaphore != kKernelObjectOk) return false;
  const std::string mapName = wire::QueueMapName(name);
  if (!(create ? map_.Create(mapName, kCapacity, deadline.LeftMs(), result)
               : map_.Open(mapName, holdName, deadline.LeftMs(), result))) {
    return false;
  }
  // What the mapping really holds, not what its header says: the header may be scribbled.
  capacity_ = map_.MappedCapacity();
  if (capacity_ < kQueueHeaderSize + PackageRecord::kFixedBytes) return false;
  if (create) {
    for (Word word : {kCountWord, kReadWord, kWriteWord}) StoreWord(word, 0);
    StoreWord(kEndWord, AreaSize() - 1);
  }
  return true;
}

bool SharePackageDataQueue::IsAliveRecently() const {
  const std::int64_t now = os::MonotonicNowNs();
  if (now - aliveAtNs_.load(std::memory_order_relaxed) <
      std::chrono::nanoseconds(kAliveTrust).count()) {
    return open_;
  }
  if (!IsAlive()) return false;
  aliveAtNs_.store(now, std::memory_order_relaxed);
  return true;
}

bool SharePackageDataQueue::Create(const std::string& name, std::uint32_t boundMs) {
  return Establish(name, Role::kCreator, true, boundMs, nullptr);
}

bool SharePackageDataQueue::Open(const std::string& name, bool holdName, std::uint32_t boundMs,
                                 os::NamedResult* result) {
  return Establish(name, Role::kOpener, holdName, boundMs, result);
}

bool SharePackageDataQueue::IsDamaged() const {
  Offsets unused{};
  return open_ && !ReadOffsets(&unused);
}

void SharePackageDataQueue::Reset() {
  if (!open_) return;
  const std::uint32_t count = Load32(map_.GetData());
  // A count larger than the area could hold tells nothing about what was there.
  if (count <= AreaSize() / PackageRecord::kFixedBytes) recordsLost_ += count;
  ++resets_;
  std::uint8_t* view = map_.GetData() - ShareMapMemory::kHeaderSize;
  Store32(view, capacity_);
  Store32(view + 4, 0);
  for (Word word : {kCountWord, kReadWord, kWriteWord}) StoreWord(word, 0);
  StoreWord(kEndWord, AreaSize() - 1);
  SettleSignal();
}

void SharePackageDataQueue::SettleSignal() {
  if (auto* signal = semaphore_.Handle()) signal->Reset(GetCount(), kMaxPending);
}

bool SharePackageDataQueue::Close() {
  if (!open_) return false;
  // Only this view goes: what other processes see is unchanged, so there is nothing to wait
  // for.
  map_.Close();
  open_ = false;
  return true;
}

int SharePackageDataQueue::LockFor(std::uint32_t milliseconds) {
  if (!open_) return -1;
  switch (mutex_.LockFor(milliseconds)) {
    case os::LockResult::kAcquired:
      return 0;
    case os::LockResult::kAbandoned:
      Recount();
      return 0;
    case os::LockResult::kTimedOut:
      return 1;
    case os::LockResult::kFailed:
      break;
  }
  return -1;
}

void SharePackageDataQueue::Recount() {
  // The last holder died inside Push: the records from R to W are exactly those committed
  // (see PlanStore), but the count may lag behind. Walk them and count them again.
  Offsets at{};
  if (!ReadOffsets(&at)) return;  // the owner resets a damaged header
  const std::uint32_t area = AreaSize();
  std::uint32_t read = at.read, records = 0;
  while (read != at.write) {
    if (read > at.write && read >= at.end) {
      read = 0;
      continue;
    }
    const std::uint32_t bound = read <= at.write ? at.write - read : at.end - read;
    const std::uint32_t length = ReadRecord(Area() + read, bound, nullptr);
    if (length == 0 || ++records > area / PackageRecord::kFixedBytes) {
      Reset();
      return;
    }
    std::uint32_t next = read + length;
    if (read > at.write && next >= at.end) next = 0;
    read = next;
  }
  StoreWord(kCountWord, records);
}

void SharePackageDataQueue::Discard() { CloseHandles(); }

int SharePackageDataQueue::Unlock() {
  if (!open_) return -1;
  const std::uint32_t signals = std::exchange(unsignalled_, 0);
  mutex_.Unlock();
  // The owner is woken once the mutex is free: woken earlier, it would only wait for it. At
  // the maximum the records stay stored without a wake-up of their own; the owner has as many
  // waiting already.
  if (signals > 0 && !semaphore_.Release(signals)) semaphore_.Release(1);
  return 0;
}

std::uint8_t* SharePackageDataQueue::Area() const { return map_.GetData() + kQueueHeaderSize; }

bool SharePackageDataQueue::ReadOffsets(Offsets* at) const {
  if (!open_ || !map_.IsOpen()) return false;
  const std::uint8_t* header = map_.GetData();
  // The capacity word is written once by the creator; a changed one is a scribble.
  if (Load32(header - ShareMapMemory::kHeaderSize) != capacity_) return false;
  *at = wire::QueueHeader::Read(header);
  return at->Check(AreaSize()) == wire::QueueHeader::Problem::kNone;
}

void SharePackageDataQueue::StoreWord(Word word, std::uint32_t value) {
  Store32(map_.GetData() + sizeof(std::uint32_t) * word, value);
}

std::uint32_t SharePackageDataQueue::GetCount() const {
  Offsets at{};
  return ReadOffsets(&at) ? at.count : 0;
}

std::uint32_t SharePackageDataQueue::Push(const PackageRecord& record) {
  const RecordParts parts = record.Parts();
  return Store(parts.StoredLength(), [&](std::uint8_t* out) { WriteRecord(out, parts); });
}

std::uint32_t SharePackageDataQueue::PushEncoded(const std::uint8_t* bytes, std::uint32_t length) {
  return Store(length, [&](std::uint8_t* out) { std::memcpy(out, bytes, length); });
}

bool SharePackageDataQueue::Encode(const RecordParts& record, std::vector<std::uint8_t>* out) {
  const std::uint32_t length = record.StoredLength();
  if (length == 0) return false;
  out->resize(length);
  WriteRecord(out->data(), record);
  return true;
}

std::uint32_t SharePackageDataQueue::PushEncodedPartly(const std::uint8_t* bytes,
                                                       std::uint32_t length, int stores) {
  return Store(
      length, [&](std::uint8_t* out) { std::memcpy(out, bytes, length); }, stores);
}

// The next locker after a writer's death walks the records from R to W (wrapped: from R to E,
// then from 0 to W), so each store below keeps that walk over committed records only; storing
// W commits the record, and the count follows (a recount sets it should the writer die first).
bool SharePackageDataQueue::PlanStore(const Offsets& at, std::uint32_t length,
                                      StorePlan* plan) const {
  const std::uint32_t area = AreaSize();
  if (length == 0 || length > area) return false;
  if (at.count == 0) {
    // Empty: start again at the beginning, so that a record as large as the area fits. R and W
    // move to 0 through a wrapped empty state (R = E, W = 0), which reads nothing, rather than
    // through one where R lies below an old W and the walk would take old records again.
    if (at.read != 0 || at.write != 0) {
      plan->Add(kEndWord, at.read);
      plan->Add(kWriteWord, 0);
      plan->Add(kReadWord, 0);
    }
    if (at.end != area - 1) plan->Add(kEndWord, area - 1);
    plan->place = 0;
    plan->Add(kWriteWord, length);
    plan->Add(kCountWord, 1);
    return true;
  }
  if (at.read > at.write) {
    // Wrapped: the writer must stay strictly behind the reader.
    if (length >= at.read - at.write) return false;
    plan->place = at.write;
  } else if (area - at.write >= length) {
    // E means nothing while R <= W; it is set back for the next wrap.
    if (at.end != area - 1) plan->Add(kEndWord, area - 1);
    plan->place = at.write;
  } else if (length < at.read) {
    // The upper region ends at the old W: E is set while it still means nothing.
    plan->Add(kEndWord, at.write);
    plan->place = 0;
  } else {
    return false;
  }
  plan->Add(kWriteWord, plan->place + length);
  plan->Add(kCountWord, at.count + 1);
  return true;
}

template <class Write>
std::uint32_t SharePackageDataQueue::Store(std::uint32_t length, const Write& write, int stores) {
  Offsets at{};
  StorePlan plan;
  if (!ReadOffsets(&at) || !PlanStore(at, length, &plan)) return 0;
  // The record's place holds nothing the walk reaches until W moves over it.
  write(Area() + plan.place);
  for (int i = 0; i < plan.count && i < stores; ++i) {
    StoreWord(plan.stores[i].word, plan.stores[i].value);
  }
  ++unsignalled_;
  return length;
}

bool SharePackageDataQueue::Parse(const std::uint8_t* bytes, std::uint32_t length,
                                  PackageRecord* record) {
  return ReadRecord(bytes, length, record) == length;
}

bool SharePackageDataQueue::PopRaw(std::vector<std::uint8_t>& bytes) {
  Offsets at{};
  if (!ReadOffsets(&at) || at.count == 0) return false;
  std::uint32_t read = at.read;
  if (read > at.write && read >= at.end) read = 0;  // follow the writer's wrap
  const std::uint32_t bound = read <= at.write ? at.write - read : at.end - read;
  const std::uint32_t length = ReadRecord(Area() + read, bound, nullptr);
  if (length == 0) return false;
  bytes.insert(bytes.end(), Area() + read, Area() + read + length);
  std::uint32_t next = read + length;
  if (read > at.write && next >= at.end) next = 0;
  StoreWord(kReadWord, next);
  StoreWord(kCountWord, at.count - 1);
  return true;
}

bool SharePackageDataQueue::PeekSender(std::string* sender) const {
  Offsets at{};
  if (!ReadOffsets(&at) || at.count == 0) return false;
  std::uint32_t read = at.read;
  if (read > at.write && read >= at.end) read = 0;
  const std::uint32_t bound = read <= at.write ? at.write - read : at.end - read;
  PackageRecord parsed;
  if (ReadRecord(Area() + read, bound, &parsed) == 0) return false;
  *sender = std::move(parsed.sender);
  return true;
}

bool SharePackageDataQueue::Pop(PackageRecord& record) {
  Offsets at{};
  if (!ReadOffsets(&at) || at.count == 0) return false;
  std::uint32_t read = at.read;
  if (read > at.write && read >= at.end) read = 0;  // follow the writer's wrap
  // Valid data ends at W while the reader is below the writer, and at E in the upper region
  // after a wrap. Bounding by W (rather than the stored E = C - 1) lets a record that ends
  // exactly at the end of the area be read whole.
  const std::uint32_t bound = read <= at.write ? at.write - read : at.end - read;
  PackageRecord parsed;
  const std::uint32_t length = ReadRecord(Area() + read, bound, &parsed);
  if (length == 0) return false;
  std::uint32_t next = read + length;
  if (read > at.write && next >= at.end) next = 0;
  StoreWord(kReadWord, next);
  StoreWord(kCountWord, at.count - 1);
  record = std::move(parsed);
  return true;
}

}  // namespace Vantor::KQCP
