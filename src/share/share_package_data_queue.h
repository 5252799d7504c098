// A first-in first-out queue of variable-length records in one named mapping, shared by any
// number of writer processes and one reader. Layout of the mapping (little-endian 32-bit):
//   0 capacity, 4 used (the mapping header), 8 count, 12 read offset R, 16 write offset W,
//   20 end mark E, 24.. record area of C = capacity - 16 bytes.
// A record: 16-bit type 10; target, sender, session and label each as a 32-bit length and its
// bytes; a 32-bit payload length and the payload. No record is split across the end of the
// area; when the writer wraps to offset 0 it sets E to the old W and the reader follows.
#pragma once

#include <cstdint>
#include <string>

#include "base/semaphore.h"
#include "share/kernel_objects.h"
#include "share/package_record.h"
#include "share/share_map_memory.h"

namespace Vantor::KQCP {

class SharePackageDataQueue {
 public:
  static constexpr std::uint32_t kCapacity = 0x40000;
  static constexpr std::uint32_t kQueueHeaderSize = 16;
  static constexpr std::uint32_t kMaxPending = 2048;

  SharePackageDataQueue() = default;
  virtual ~SharePackageDataQueue();
  SharePackageDataQueue(const SharePackageDataQueue&) = delete;
  SharePackageDataQueue& operator=(const SharePackageDataQueue&) = delete;

  // Makes the queue's mutex, semaphore and mapping under name; fails if any exists.
  bool Create(const std::string& name);
  // Opens the three objects of a queue another process created. A sender that keeps a queue
  // open between deliveries passes holdName false, so that it never keeps the owner's names
  // alive, and checks IsAlive before each delivery.
  bool Open(const std::string& name, bool holdName = true);
  // True while the queue's owner (or another holder) still holds this very queue.
  bool IsAlive() const { return open_ && map_.IsAlive(); }
  // Empties a queue whose head record cannot be read, so that later records can flow again.
  void Clear();
  // Unmaps the queue; the mutex and semaphore handles go with the object.
  bool Close();
  // Waits for the queue mutex without a time limit; 0, or -1 when not open.
  int Lock();
  int Unlock();

  // Push, Pop and GetCount are called between Lock and Unlock.
  std::uint32_t GetCount() const;
  // Bytes written, 0 when nothing was (not open, full, or a record that cannot be stored).
  std::uint32_t Push(const PackageRecord& record);
  // False when empty or when the record at the head cannot be read; the queue then stays as
  // it was.
  bool Pop(PackageRecord& record);
  // Signalled once per pushed record, for the owner's wait.
  os::CountingSemaphore* GetSignal() const { return semaphore_.Handle(); }

  bool IsOpen() const { return open_; }
  bool IsCreator() const { return creator_; }
  // The record area in this object's view; what Pop hands out lies inside it.
  std::uint8_t* Area() const;
  // Size of the record area, bounded by the real mapping.
  std::uint32_t AreaSize() const;

 private:
  struct Offsets {
    std::uint32_t count, read, write, end;
  };
  bool Establish(const std::string& name, bool create, bool holdName);
  void CloseHandles();
  Offsets ReadOffsets() const;
  void WriteOffsets(const Offsets& offsets);

  VEXO::System::Thread::Semaphore semaphore_{0, kMaxPending, false};
  NamedMutex mutex_;
  ShareMapMemory map_;
  bool open_ = false;
  bool creator_ = false;
  std::string name_;
};

}  // namespace Vantor::KQCP
