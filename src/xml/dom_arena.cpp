// Block management of the tree arena.
#include "xml/dom_arena.h"

#include <algorithm>
#include <cstdlib>

namespace VEXO::XML {

namespace {
// Blocks double from 1 KiB, so a small package costs little and a large document few blocks.
constexpr std::size_t kLargestBlock = std::size_t{1} << 20;
constexpr std::size_t kHeader = 16;
}  // namespace

DOMArena::~DOMArena() {
  while (blocks_) {
    Block* next = blocks_->next;
    std::free(blocks_);
    blocks_ = next;
  }
}

void* DOMArena::AllocateSlow(std::size_t bytes, std::size_t align) {
  const std::size_t needed = bytes + align + kHeader;
  if (needed < bytes) return nullptr;
  const std::size_t size = std::max(nextBlockSize_, needed);
  auto* block = static_cast<Block*>(std::malloc(size));
  if (!block) return nullptr;
  block->next = blocks_;
  blocks_ = block;
  reserved_ += size;
  if (nextBlockSize_ < kLargestBlock) nextBlockSize_ *= 2;
  cursor_ = reinterpret_cast<char*>(block) + kHeader;
  end_ = reinterpret_cast<char*>(block) + size;
  return Allocate(bytes, align);
}

}  // namespace VEXO::XML
