// Named mutex: a process-shared, robust, recursive pthread mutex in the object's shared state.
#include "os/named_mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "os/cpu_pause.h"

#if defined(__SANITIZE_THREAD__)
#define KQCP_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KQCP_THREAD_SANITIZER 1
#endif
#endif
#ifndef KQCP_THREAD_SANITIZER
#define KQCP_THREAD_SANITIZER 0
#endif

namespace Vantor::KQCP::os {
namespace {

constexpr clockid_t kLockClock = KQCP_THREAD_SANITIZER ? CLOCK_REALTIME : CLOCK_MONOTONIC;

pthread_mutex_t* MutexOf(const NamedObject& object) {
  return static_cast<pthread_mutex_t*>(object.Data());
}

bool InitMutex(void* data, std::size_t size) {
  if (size < sizeof(pthread_mutex_t)) return false;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(static_cast<pthread_mutex_t*>(data), &attributes);
  pthread_mutexattr_destroy(&attributes);
  return rc == 0;
}

// Named mutexes guard short copies. A few tries while the holder finishes usually take the
// mutex without a system call on either side: a waiter that sleeps costs the holder a wake-up
// too, as the unlock then has to wake it.
int SpinTryLock(pthread_mutex_t* mutex) {
  constexpr int kTries = 32;
  int rc = pthread_mutex_trylock(mutex);
  for (int i = 1; rc == EBUSY && i < kTries; ++i) {
    CpuPause();
    rc = pthread_mutex_trylock(mutex);
  }
  return rc;
}

}  // namespace

std::unique_ptr<NamedMutexHandle> NamedMutexHandle::Create(const std::string& name,
                                                           NamedResult* result,
                                                           std::uint32_t boundMs) {
  auto object = NamedObject::Create(NamedKind::kMutex, name, sizeof(pthread_mutex_t), InitMutex,
                                    result, boundMs);
  if (!object) return nullptr;
  return std::unique_ptr<NamedMutexHandle>(new NamedMutexHandle(std::move(object)));
}

std::unique_ptr<NamedMutexHandle> NamedMutexHandle::Open(const std::string& name,
                                                         NamedResult* result, bool holdName,
                                                         std::uint32_t boundMs) {
  auto object = NamedObject::Open(NamedKind::kMutex, name, result, holdName, boundMs);
  if (!object) return nullptr;
  if (object->Size() < sizeof(pthread_mutex_t)) {
    *result = NamedResult::kFailed;
    return nullptr;
  }
  return std::unique_ptr<NamedMutexHandle>(new NamedMutexHandle(std::move(object)));
}

LockResult NamedMutexHandle::LockFor(std::uint32_t milliseconds) {
  if (const int rc = SpinTryLock(MutexOf(*object_)); rc != EBUSY) return Outcome(rc);
  if (milliseconds == 0) return LockResult::kTimedOut;
  // The monotonic clock, so that a step of the wall clock cannot stretch the bound. The thread
  // sanitizer knows only the wall-clock call.
  timespec deadline{};
  clock_gettime(kLockClock, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
#if KQCP_THREAD_SANITIZER
  return Outcome(pthread_mutex_timedlock(MutexOf(*object_), &deadline));
#else
  return Outcome(pthread_mutex_clocklock(MutexOf(*object_), kLockClock, &deadline));
#endif
}

LockResult NamedMutexHandle::Outcome(int rc) {
  if (rc == 0) return LockResult::kAcquired;
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(MutexOf(*object_));
    return LockResult::kAbandoned;
  }
  return rc == ETIMEDOUT ? LockResult::kTimedOut : LockResult::kFailed;
}

bool NamedMutexHandle::Unlock() { return pthread_mutex_unlock(MutexOf(*object_)) == 0; }

}  // namespace Vantor::KQCP::os
