// Creation, lookup and removal of caches by name.
#include "cache/cache_manager.h"

#include <new>

#include "cache/db_cache.h"
#include "cache/mem_cache.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

HRESULT CacheManager_::Init(const char16_t* directory) {
  if (!directory) return E_POINTER;
  ScopedLock guard(lock_);
  if (initialised_) return E_FAIL;
  try {
    directory_ = directory;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  initialised_ = true;
  return S_OK;
}

HRESULT CacheManager_::CreateCache(const char16_t* name, std::int32_t kind) {
  ScopedLock guard(lock_);
  if (!initialised_ || !name || !*name) return E_FAIL;
  if (kind != kCacheKindMemory && kind != kCacheKindDatabase) return E_FAIL;
  // A database cache's name becomes part of a path; it must not lead out of the directory.
  if (kind == kCacheKindDatabase && !DBCache::NameStaysInDirectory(name)) return E_INVALIDARG;
  CacheMap& map = kind == kCacheKindMemory ? memoryCaches_ : databaseCaches_;
  try {
    const std::u16string key(name);
    // A name already taken keeps its cache; a second object (and a second connection to the
    // same file) would only be discarded.
    if (map.contains(key)) return S_OK;
    com::ComPtr<IKQCache> cache;
    if (kind == kCacheKindMemory) {
      MemCache* memory = com::MakeObject<MemCache>();
      if (!memory) return E_OUTOFMEMORY;
      cache = com::ComPtr<IKQCache>::Adopt(memory);
      memory->SetName(key);
    } else {
      DBCache* database = com::MakeObject<DBCache>();
      if (!database) return E_OUTOFMEMORY;
      cache = com::ComPtr<IKQCache>::Adopt(database);
      database->SetName(key);
      database->Open(directory_);
    }
    map.emplace(key, std::move(cache));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CacheManager_::RemoveCache(const char16_t* name) {
  ScopedLock guard(lock_);
  if (!initialised_) return E_FAIL;
  if (!name) return S_FALSE;
  try {
    const std::u16string key(name);
    // Erasing drops the manager's reference; callers' references keep a cache alive.
    const bool removedMemory = memoryCaches_.erase(key) > 0;
    const bool removedDatabase = databaseCaches_.erase(key) > 0;
    return removedMemory || removedDatabase ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CacheManager_::GetCache(const char16_t* name, IKQCache** cache) {
  ScopedLock guard(lock_);
  if (!initialised_) return E_FAIL;
  if (!cache) return E_POINTER;
  if (!name) return S_FALSE;
  try {
    const std::u16string key(name);
    // The database cache wins when both maps hold the name; the caller gets one reference.
    for (CacheMap* map : {&databaseCaches_, &memoryCaches_}) {
      const auto it = map->find(key);
      if (it != map->end())
        return it->second->QueryInterface(IID_IKQCache, reinterpret_cast<void**>(cache));
    }
    return S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace Vantor::KQCP
