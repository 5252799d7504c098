// Block management of the tree arena. Small trees (most packages) take small heap blocks; a
// large document moves on to 2 MiB-aligned mapped blocks. Freed large blocks are kept (up to
// kCachedBytes) for the next tree, so a process that parses large documents one after another
// does not fault in fresh pages each time. Huge pages are not requested: with the usual
// "madvise" defrag setting every fault in such a region may compact memory synchronously,
// which made building several times slower on a machine with fragmented memory.
#include "xml/dom_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace VEXO::XML {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargestBlock = std::size_t{4} << 20;
constexpr std::size_t kHeader = 16;
constexpr std::size_t kCachedBytes = std::size_t{64} << 20;

// Freed mapped blocks of kLargestBlock bytes, ready for the next tree.
struct BlockCache {
  std::mutex mutex;
  std::vector<void*> blocks;
};

BlockCache& Cache() {
  static auto* cache = new BlockCache();  // never destroyed: trees may outlive static teardown
  return *cache;
}

void* TakeCachedBlock(std::size_t size) {
  if (size != kLargestBlock) return nullptr;
  BlockCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  if (cache.blocks.empty()) return nullptr;
  void* block = cache.blocks.back();
  cache.blocks.pop_back();
  return block;
}

bool KeepBlock(void* block, std::size_t size) {
  if (size != kLargestBlock) return false;
  BlockCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  if ((cache.blocks.size() + 1) * kLargestBlock > kCachedBytes) return false;
  cache.blocks.push_back(block);
  return true;
}

// A mapped block of size bytes (a multiple of kHugePage) aligned to kHugePage, or null.
void* MapBlock(std::size_t size) {
  if (void* cached = TakeCachedBlock(size)) return cached;
  const std::size_t span = size + kHugePage;
  void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const std::uintptr_t end = start + span;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

struct DOMArena::Block {
  Block* next;
  std::size_t size;
};

DOMArena::~DOMArena() {
  while (blocks_) {
    Block* next = blocks_->next;
    if (blocks_->size >= kHugePage) {
      if (!KeepBlock(blocks_, blocks_->size)) munmap(blocks_, blocks_->size);
    } else {
      std::free(blocks_);
    }
    blocks_ = next;
  }
}

void* DOMArena::AllocateSlow(std::size_t bytes, std::size_t align) {
  const std::size_t needed = bytes + align + kHeader;
  if (needed < bytes || needed > (std::size_t{1} << 40)) return nullptr;
  std::size_t size = std::max(nextBlockSize_, needed);
  void* memory = nullptr;
  if (size >= kHugePage) {
    size = (size + kHugePage - 1) & ~(kHugePage - 1);
    memory = MapBlock(size);
  } else {
    memory = std::malloc(size);
  }
  if (!memory) return nullptr;
  auto* block = static_cast<Block*>(memory);
  block->next = blocks_;
  block->size = size;
  blocks_ = block;
  reserved_ += size;
  if (nextBlockSize_ < kLargestBlock) nextBlockSize_ *= 2;
  cursor_ = static_cast<char*>(memory) + kHeader;
  end_ = static_cast<char*>(memory) + size;
  return Allocate(bytes, align);
}

}  // namespace VEXO::XML
