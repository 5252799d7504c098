// A first-in first-out queue of variable-length records in one named mapping, shared by any
// number of writer processes and one reader. Layout of the mapping (little-endian 32-bit):
//   0 capacity, 4 used (the mapping header), 8 count, 12 read offset R, 16 write offset W,
//   20 end mark E, 24.. record area of C = capacity - 16 bytes.
// A record: 16-bit type 10; target, sender, session and label each as a 32-bit length and its
// bytes; a 32-bit payload length and the payload. No record is split across the end of the
// area; when the writer wraps to offset 0 it sets E to the old W and the reader follows.
// Every header word is checked at every use: any process of the user may have scribbled on it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/semaphore.h"
#include "os/futex.h"
#include "share/kernel_objects.h"
#include "share/package_record.h"
#include "share/share_map_memory.h"
#include "share/wire/layout.h"
#include "share/wire/queue_header.h"

namespace Vantor::KQCP {

class SharePackageDataQueue {
 public:
  static constexpr std::uint32_t kCapacity = wire::queue::kCapacity;
  static constexpr std::uint32_t kQueueHeaderSize = wire::queue::kHeaderSize;
  static constexpr std::uint32_t kMaxPending = wire::queue::kMaxPending;

  SharePackageDataQueue() = default;
  virtual ~SharePackageDataQueue();
  SharePackageDataQueue(const SharePackageDataQueue&) = delete;
  SharePackageDataQueue& operator=(const SharePackageDataQueue&) = delete;

  // How long Lock, Close and, unless told otherwise, Create and Open wait for what another
  // process holds (the queue's mutex, or a name it is creating or closing).
  static constexpr std::uint32_t kLockBoundMs = 5000;
  // Makes the queue's mutex, semaphore and mapping under name; fails if any exists, or when
  // another process keeps what Create needs past boundMs.
  bool Create(const std::string& name, std::uint32_t boundMs = kLockBoundMs);
  // Opens the three objects of a queue another process created. A sender that keeps a queue
  // open between deliveries passes holdName false, so that it never keeps the owner's names
  // alive, and checks IsAlive before each delivery.
  // The creator may still be making the queue: Open waits for it up to boundMs, and as long
  // for a name that another process is opening or closing. result (may be null) tells a queue
  // nobody holds (kNotFound) from one that stayed busy (kBusy).
  bool Open(const std::string& name, bool holdName = true, std::uint32_t boundMs = kLockBoundMs,
            os::NamedResult* result = nullptr);
  // True while the queue's owner (or another holder) still holds this very queue.
  bool IsAlive() const { return open_ && map_.IsAlive(); }
  // As IsAlive, but a check that found the queue alive less than kAliveTrust ago stands: an
  // owner that died within that time is no different from one that dies just after a delivery,
  // and no process can make the name afresh so soon, while a stream of deliveries saves a
  // system call each.
  static constexpr std::chrono::microseconds kAliveTrust{50};
  bool IsAliveRecently() const;

  // Owner only, between Lock and Unlock. A header whose words make no sense, or a head record
  // that cannot be read, would stop every later record: Reset rewrites the header from what
  // this view knows (the capacity it was made with; no records), and counts what was lost.
  bool IsDamaged() const;
  void Reset();
  // Brings the signal's count in line with the records the queue holds, so that a scribbled
  // count cannot make the owner wake for nothing again and again.
  void SettleSignal();
  // Resets so far, and the records they threw away (as far as the count word told).
  std::uint32_t Resets() const { return resets_; }
  std::uint32_t RecordsLost() const { return recordsLost_; }

  // Unmaps the queue; the mutex and semaphore handles go with the object.
  bool Close();
  // Closes everything, handles too, so that the queue's names go now.
  void Discard();
  // Waits for the queue mutex up to kLockBoundMs; 0, 1 when it stayed held that long, or -1
  // when not open. A mutex whose holder died is acquired, and the records are counted again.
  int Lock() { return LockFor(kLockBoundMs); }
  // As Lock, with a bound of the caller's.
  int LockFor(std::uint32_t milliseconds);
  int Unlock();

  // Push, Pop and GetCount are called between Lock and Unlock; the owner is signalled for the
  // records pushed when Unlock has let the mutex go.
  // The count word; 0 also when the header is damaged.
  std::uint32_t GetCount() const;
  // Bytes written, 0 when nothing was (not open, full, a damaged header, or a record that
  // cannot be stored). A damaged header is left untouched.
  std::uint32_t Push(const PackageRecord& record);
  // As Push, for a record that Encode has already laid out.
  std::uint32_t PushEncoded(const std::uint8_t* bytes, std::uint32_t length);
  // Lays the record out as the queue stores it; false when it cannot be stored.
  static bool Encode(const RecordParts& record, std::vector<std::uint8_t>* out);
  // As PushEncoded, but stops after the first stores header words: what a writer killed at
  // that instant leaves behind. For the tests of that guarantee.
  std::uint32_t PushEncodedPartly(const std::uint8_t* bytes, std::uint32_t length, int stores);
  // False when empty, when the header is damaged or when the record at the head cannot be
  // read; the queue then stays as it was.
  bool Pop(PackageRecord& record);
  // As Pop, but appends the record's raw bytes to bytes instead of parsing it into strings:
  // the mutex is then held only for a copy. Parse reads them later.
  bool PopRaw(std::vector<std::uint8_t>& bytes);
  // Parses length bytes that hold one whole record; the payload points into them.
  static bool Parse(const std::uint8_t* bytes, std::uint32_t length, PackageRecord* record);
  // The sender of the record at the head, without taking it; false when there is none that
  // can be read.
  bool PeekSender(std::string* sender) const;
  // Signalled once per pushed record, for the owner's wait.
  os::CountingSemaphore* GetSignal() const { return semaphore_.Handle(); }

  bool IsOpen() const { return open_; }
  bool IsCreator() const { return creator_; }
  // The record area in this object's view; what Pop hands out lies inside it.
  std::uint8_t* Area() const;
  // Size of the record area, as the queue was made (0 when not open).
  std::uint32_t AreaSize() const { return open_ ? capacity_ - kQueueHeaderSize : 0; }

 private:
  using Offsets = wire::QueueHeader;
  using Word = wire::queue::Word;
  struct WordStore {
    Word word;
    std::uint32_t value;
  };
  // The header stores that add a record, in the order that keeps the queue readable should the
  // writer die after any of them; a full list: at most 6.
  struct StorePlan {
    std::uint32_t place = 0;
    int count = 0;
    WordStore stores[6];
    void Add(Word word, std::uint32_t value) { stores[count++] = {word, value}; }
  };
  enum class Role { kCreator, kOpener };
  bool Establish(const std::string& name, Role role, bool holdName, std::uint32_t boundMs,
                 os::NamedResult* result);
  // The semaphore and the mapping, made or opened with the queue's mutex held (or, for an
  // opener, given up on); the header of a made queue is set.
  bool EstablishObjects(const std::string& name, bool create, bool holdName,
                        const os::Deadline& deadline, os::NamedResult* result);
  // Where a record of length bytes goes and how it is committed; false when it does not fit.
  bool PlanStore(const Offsets& at, std::uint32_t length, StorePlan* plan) const;
  // Writes a record of length bytes through write(at), which lays it out at a place in the
  // area, and commits it with the first stores of its plan (all of them, normally).
  template <class Write>
  std::uint32_t Store(std::uint32_t length, const Write& write, int stores = 6);
  void CloseHandles();
  // The header words, or false when they make no sense for this queue.
  bool ReadOffsets(Offsets* offsets) const;
  void Recount();
  void StoreWord(Word word, std::uint32_t value);

  VEXO::System::Thread::Semaphore semaphore_{0, kMaxPending, false};
  NamedMutex mutex_;
  ShareMapMemory map_;
  bool open_ = false;
  bool creator_ = false;
  std::string name_;
  // The capacity word as it was when this view was established; it never changes.
  std::uint32_t capacity_ = 0;
  std::uint32_t resets_ = 0;
  std::uint32_t recordsLost_ = 0;
  // When a check last found the queue alive (os::MonotonicNowNs).
  mutable std::atomic<std::int64_t> aliveAtNs_{0};
  // Records pushed under the current hold of the mutex, signalled by Unlock.
  std::uint32_t unsignalled_ = 0;
};

}  // namespace Vantor::KQCP
