// What every cache shares: its name, its lock and the expiry test over the stored time.
#pragma once

#include <string>

#include "base/critical_section.h"
#include "com/object.h"
#include "kqcp/cache.h"

namespace Vantor::KQCP {

class BaseCache : public com::RefCounted<com::ComponentObject, IKQCache> {
 public:
  // expired = 1 when stored time + maxAge < now in wrapping signed 32-bit arithmetic.
  // E_FAIL before the manager has named the cache, without an out pointer, or when the time
  // cannot be read.
  HRESULT IsExpired(const char* key, std::int32_t now, std::int32_t maxAge,
                    std::int32_t* expired) override;

  // The time stored under the key, 0 when there is none or it cannot be read.
  virtual std::int32_t GetTime(const char* key);
  // The time stored under the key (0 for a missing key); E_FAIL when it cannot be read.
  virtual HRESULT ReadTime(const char* key, std::int32_t* time) = 0;

  // Given by the manager when it creates the cache.
  void SetName(const std::u16string& name);
  std::u16string Name();

 protected:
  BaseCache() = default;

  // Guards the name and the derived class's store; recursive, as IsExpired calls ReadTime
  // while holding it.
  VEXO::System::Thread::CriticalSection lock_;

 private:
  std::u16string name_;
  bool named_ = false;
};

// t + maxAge < now, the sum wrapping as a 32-bit two's complement value.
constexpr bool ExpiredAt(std::int32_t storedTime, std::int32_t now, std::int32_t maxAge) {
  const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(storedTime) +
                                             static_cast<std::uint32_t>(maxAge));
  return sum < now;
}

}  // namespace Vantor::KQCP
