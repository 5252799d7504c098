// The process's cache manager: told once where database caches live, it creates caches by name
// and kind, finds them and removes them. Memory and database caches have separate name maps.
#pragma once

#include <string>
#include <unordered_map>

#include "base/critical_section.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/cache.h"

namespace Vantor::KQCP {

class CacheManager_ : public com::SingletonObject<IKQCacheManager> {
 public:
  HRESULT Init(const char16_t* directory) override;
  HRESULT CreateCache(const char16_t* name, std::int32_t kind) override;
  HRESULT RemoveCache(const char16_t* name) override;
  HRESULT GetCache(const char16_t* name, IKQCache** cache) override;

 protected:
  CacheManager_() = default;

 private:
  using CacheMap = std::unordered_map<std::u16string, com::ComPtr<IKQCache>>;

  // Taken before any cache's own lock, never after.
  VEXO::System::Thread::CriticalSection lock_;
  std::u16string directory_;
  bool initialised_ = false;
  CacheMap memoryCaches_;
  CacheMap databaseCaches_;
};

using CacheManagerHolder = VEXO::Pattern::SingletonHolder<CacheManager_>;

}  // namespace Vantor::KQCP
