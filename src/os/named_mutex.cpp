// Named mutex: a process-shared, robust, recursive pthread mutex in the object's shared state.
#include "os/named_mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace Vantor::KQCP::os {
namespace {

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
    __builtin_ia32_pause();
    rc = pthread_mutex_trylock(mutex);
  }
  return rc;
}

}  // namespace

std::unique_ptr<NamedMutexHandle> NamedMutexHandle::Create(const std::string& name,
                                                           NamedResult* result) {
  auto object =
      NamedObject::Create(NamedKind::kMutex, name, sizeof(pthread_mutex_t), InitMutex, result);
  if (!object) return nullptr;
  return std::unique_ptr<NamedMutexHandle>(new NamedMutexHandle(std::move(object)));
}

std::unique_ptr<NamedMutexHandle> NamedMutexHandle::Open(const std::string& name,
                                                         NamedResult* result, bool holdName) {
  auto object = NamedObject::Open(NamedKind::kMutex, name, result, holdName);
  if (!object) return nullptr;
  if (object->Size() < sizeof(pthread_mutex_t)) {
    *result = NamedResult::kFailed;
    return nullptr;
  }
  return std::unique_ptr<NamedMutexHandle>(new NamedMutexHandle(std::move(object)));
}

LockResult NamedMutexHandle::Lock() {
  const int rc = SpinTryLock(MutexOf(*object_));
  return Outcome(rc == EBUSY ? pthread_mutex_lock(MutexOf(*object_)) : rc);
}

LockResult NamedMutexHandle::LockFor(std::uint32_t milliseconds) {
  if (const int rc = SpinTryLock(MutexOf(*object_)); rc != EBUSY) return Outcome(rc);
  if (milliseconds == 0) return LockResult::kTimedOut;
  // The wall clock, as pthread_mutex_timedlock wants (which the thread sanitizer knows, unlike
  // the monotonic clocklock); a clock step can only stretch or shorten one short wait.
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return Outcome(pthread_mutex_timedlock(MutexOf(*object_), &deadline));
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
