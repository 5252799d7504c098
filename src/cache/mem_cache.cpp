// The memory cache's store and its result rules.
#include "cache/mem_cache.h"

#include <cstring>
#include <new>

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

const MemCache::Entry* MemCache::Find(const char* key) const {
  const auto it = entries_.find(std::string_view(key));
  return it == entries_.end() ? nullptr : &it->second;
}

HRESULT MemCache::SetValue(const char* key, std::int32_t time, const void* data,
                           std::int32_t length) {
  if (!key || length < 0 || (!data && length != 0)) return kFailed;
  ScopedLock guard(lock_);
  try {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto size = static_cast<std::size_t>(length);
    auto it = entries_.find(std::string_view(key));
    if (it == entries_.end()) {
      entries_.emplace(
          key, Entry{std::vector<unsigned char>(bytes, bytes + size), static_cast<double>(time)});
      return S_OK;
    }
    // Copied before anything changes, so a failed allocation leaves the old value whole.
    std::vector<unsigned char>& stored = it->second.data;
    if (stored.capacity() >= size && stored.capacity() <= 2 * size + 64) {
      stored.assign(bytes, bytes + size);
    } else {
      std::vector<unsigned char>(bytes, bytes + size).swap(stored);
    }
    it->second.time = static_cast<double>(time);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MemCache::GetValue(const char* key, void* buffer, std::int32_t* length) {
  if (!key || !length) return kFailed;
  ScopedLock guard(lock_);
  const Entry* entry = Find(key);
  if (!entry) return kFailed;
  const auto size = static_cast<std::int32_t>(entry->data.size());
  if (!buffer) {
    *length = size;
    return S_OK;
  }
  if (*length < size) return kFailed;
  if (size > 0) std::memcpy(buffer, entry->data.data(), static_cast<std::size_t>(size));
  return S_OK;
}

HRESULT MemCache::GetValueSize(const char* key, std::int32_t* length) {
  if (!key || !length) return kFailed;
  ScopedLock guard(lock_);
  const Entry* entry = Find(key);
  if (!entry) return kFailed;
  *length = static_cast<std::int32_t>(entry->data.size());
  return S_OK;
}

HRESULT MemCache::ReadTime(const char* key, std::int32_t* time) {
  if (!key || !time) return E_FAIL;
  ScopedLock guard(lock_);
  const Entry* entry = Find(key);
  *time = entry ? static_cast<std::int32_t>(entry->time) : 0;
  return S_OK;
}

}  // namespace Vantor::KQCP
