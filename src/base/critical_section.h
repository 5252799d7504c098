// The in-process lock of the VEXO base library: recursive for its owner, held through
// ScopedLock so that it is left when an exception passes.
#pragma once

#include <pthread.h>

namespace VEXO::System::Thread {

class CriticalSection {
 public:
  // Constant-initialised, so a static lock exists before any code of the library runs and stays
  // usable until the process ends, whatever the order of static construction and destruction.
  constexpr CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { pthread_mutex_lock(&mutex_); }
  void Leave() { pthread_mutex_unlock(&mutex_); }
  bool TryEnter() { return pthread_mutex_trylock(&mutex_) == 0; }

 private:
  pthread_mutex_t mutex_ = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection* lock) : lock_(lock) { lock_->Enter(); }
  explicit ScopedLock(CriticalSection& lock) : ScopedLock(&lock) {}
  ~ScopedLock() { lock_->Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection* lock_;
};

}  // namespace VEXO::System::Thread
