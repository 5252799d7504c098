// Naming and the shared expiry test of the caches.
#include "cache/base_cache.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

HRESULT BaseCache::IsExpired(const char* key, std::int32_t now, std::int32_t maxAge,
                             std::int32_t* expired) {
  ScopedLock guard(lock_);
  if (!named_ || !expired) return E_FAIL;
  std::int32_t stored = 0;
  if (ReadTime(key, &stored) != S_OK) return E_FAIL;
  *expired = ExpiredAt(stored, now, maxAge) ? 1 : 0;
  return S_OK;
}

std::int32_t BaseCache::GetTime(const char* key) {
  std::int32_t time = 0;
  return ReadTime(key, &time) == S_OK ? time : 0;
}

void BaseCache::SetName(const std::u16string& name) {
  ScopedLock guard(lock_);
  name_ = name;
  named_ = true;
}

std::u16string BaseCache::Name() {
  ScopedLock guard(lock_);
  return name_;
}

}  // namespace Vantor::KQCP
