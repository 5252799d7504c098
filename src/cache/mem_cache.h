// The in-process cache: per key, a copy of the data bytes and the time, kept until the cache
// is destroyed. Results are 0 for success and 1 for failure.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cache/base_cache.h"

namespace Vantor::KQCP {

class MemCache final : public BaseCache {
 public:
  static constexpr HRESULT kFailed = 1;

  // Refuses (1) a null key, a negative length and a null data pointer with a non-zero length.
  HRESULT SetValue(const char* key, std::int32_t time, const void* data,
                   std::int32_t length) override;
  HRESULT GetValue(const char* key, void* buffer, std::int32_t* length) override;
  HRESULT GetValueSize(const char* key, std::int32_t* length) override;
  // E_FAIL only for a null key or out pointer.
  HRESULT ReadTime(const char* key, std::int32_t* time) override;

 private:
  struct Entry {
    std::vector<unsigned char> data;
    // Exactly representable for every 32-bit time.
    double time = 0;
  };
  // Lets lookups use the caller's key without copying it into a string. Not noexcept on
  // purpose: libstdc++ then keeps each node's hash, and a lookup does not rehash the keys of
  // its bucket's neighbours.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>{}(key);
    }
  };

  const Entry* Find(const char* key) const;

  std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>> entries_;
};

}  // namespace Vantor::KQCP
