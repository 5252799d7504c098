/// @file
/// Named string-keyed caches: the cache manager and the cache interface.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

inline constexpr GUID IID_IKQCacheManager = {
    0x56FFCCF4, 0x6734, 0x487A, {0x91, 0x4E, 0x83, 0x1E, 0xA3, 0xA0, 0x27, 0x15}};
inline constexpr GUID IID_IKQCache = {
    0x2726AF38, 0x505C, 0x4C46, {0xBA, 0x66, 0xE7, 0x74, 0x45, 0x12, 0x60, 0x9E}};

enum CacheKind : std::int32_t {
  kCacheKindMemory = 0,
  kCacheKindDatabase = 1,
};

/// Keys are NUL-terminated byte strings; times are the caller's own unit.
struct IKQCache : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCache;
  virtual HRESULT SetValue(const char* key, std::int32_t time, const void* data,
                           std::int32_t length) = 0;
  virtual HRESULT GetValue(const char* key, void* buffer, std::int32_t* length) = 0;
  virtual HRESULT GetValueSize(const char* key, std::int32_t* length) = 0;
  /// expired = 1 when stored time + maxAge < now (signed 32-bit arithmetic), else 0.
  virtual HRESULT IsExpired(const char* key, std::int32_t now, std::int32_t maxAge,
                            std::int32_t* expired) = 0;
};

struct IKQCacheManager : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCacheManager;
  /// Directory of the database cache files; only the first call counts.
  virtual HRESULT Init(const char16_t* directory) = 0;
  virtual HRESULT CreateCache(const char16_t* name, std::int32_t kind) = 0;
  virtual HRESULT RemoveCache(const char16_t* name) = 0;
  virtual HRESULT GetCache(const char16_t* name, IKQCache** cache) = 0;
};

}  // namespace Vantor::KQCP
