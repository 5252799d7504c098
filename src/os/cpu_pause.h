// A hint to the processor that the caller spins on a word another thread will change: it saves
// power and lets a sibling hardware thread run. Where no such instruction is known, a compiler
// barrier keeps the loop from being folded away.
#pragma once

#include <atomic>

namespace Vantor::KQCP::os {

inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
  asm volatile("yield" ::: "memory");
#else
  std::atomic_signal_fence(std::memory_order_seq_cst);
#endif
}

}  // namespace Vantor::KQCP::os
