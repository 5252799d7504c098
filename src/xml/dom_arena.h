// A bump allocator for the nodes and strings of one parsed tree. Memory is handed back only
// when the arena itself goes, so a parse costs a few large allocations instead of one per node.
#pragma once

#include <cstddef>

namespace VEXO::XML {

class DOMArena {
 public:
  DOMArena() = default;
  ~DOMArena();
  DOMArena(const DOMArena&) = delete;
  DOMArena& operator=(const DOMArena&) = delete;

  // Null when memory is exhausted. align must be a power of two no larger than 16.
  void* Allocate(std::size_t bytes, std::size_t align) {
    auto at = (reinterpret_cast<std::size_t>(cursor_) + align - 1) & ~(align - 1);
    if (cursor_ && at + bytes <= reinterpret_cast<std::size_t>(end_)) {
      cursor_ = reinterpret_cast<char*>(at + bytes);
      return reinterpret_cast<void*>(at);
    }
    return AllocateSlow(bytes, align);
  }

  // Grows the most recent allocation in place when the current block has room.
  bool Extend(void* last, std::size_t oldBytes, std::size_t newBytes) {
    char* at = static_cast<char*>(last);
    if (at + oldBytes != cursor_ || newBytes > static_cast<std::size_t>(end_ - at)) return false;
    cursor_ = at + newBytes;
    return true;
  }

  // Bytes taken from the system, including the unused tail of the current block.
  std::size_t BytesReserved() const { return reserved_; }

 private:
  struct Block;
  void* AllocateSlow(std::size_t bytes, std::size_t align);

  Block* blocks_ = nullptr;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
  std::size_t nextBlockSize_ = 1024;
  std::size_t reserved_ = 0;
};

}  // namespace VEXO::XML
