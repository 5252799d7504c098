/// @file
/// Named string-keyed caches: the cache manager and the cache interface.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IKQCacheManager.
inline constexpr GUID IID_IKQCacheManager = {
    0x56FFCCF4, 0x6734, 0x487A, {0x91, 0x4E, 0x83, 0x1E, 0xA3, 0xA0, 0x27, 0x15}};
/// Interface id of IKQCache.
inline constexpr GUID IID_IKQCache = {
    0x2726AF38, 0x505C, 0x4C46, {0xBA, 0x66, 0xE7, 0x74, 0x45, 0x12, 0x60, 0x9E}};

/// Kinds given to IKQCacheManager::CreateCache.
enum CacheKind : std::int32_t {
  kCacheKindMemory = 0,    ///< kept in this process, lost with it
  kCacheKindDatabase = 1,  ///< an SQLite file, shared with every process that opens it
};

/// A named key-value store: per key, a byte buffer and a time. Keys are NUL-terminated byte
/// strings compared exactly; times are the caller's own unit, the cache reads no clock.
/// The two kinds report failures differently: a memory cache returns 1 (S_FALSE) for a missing
/// key, a short buffer or a refused argument; a database cache returns E_FAIL (E_OUTOFMEMORY for
/// a short buffer). Any thread; each call holds the cache's lock for its whole length, and
/// processes sharing a database file are ordered by SQLite's locking (60 s busy timeout); a
/// statement that runs longer than 2 s is stopped and fails.
struct IKQCache : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCache;  ///< its interface id
  /// Stores a copy of length bytes and the time under key, replacing what was there; a database
  /// cache writes both in one transaction. S_OK; 1 (memory) or E_FAIL (database) for a null key,
  /// a negative length or null data (memory: null data is allowed with length 0), and on any
  /// database error; E_OUTOFMEMORY when a memory cache cannot allocate the copy.
  virtual HRESULT SetValue(const char* key, std::int32_t time, const void* data,
                           std::int32_t length) = 0;
  /// Copies the data stored under key into buffer, whose size is *length.
  /// Memory cache: a null buffer stores the data's length in *length and returns S_OK; otherwise
  /// S_OK after the copy, *length unchanged; 1 for a missing key or a buffer too short, and then
  /// nothing is copied. Database cache: a null buffer is E_FAIL; S_OK after the copy and
  /// E_OUTOFMEMORY (nothing copied) for a buffer too short, both storing the data's length in
  /// *length; E_FAIL for a missing key or a database error.
  virtual HRESULT GetValue(const char* key, void* buffer, std::int32_t* length) = 0;
  /// Stores the length of the data under key in *length; S_OK. 1 (S_FALSE) for a missing key,
  /// *length left alone. E_FAIL (memory: 1) for a null key or out pointer; E_FAIL on a database
  /// error.
  virtual HRESULT GetValueSize(const char* key, std::int32_t* length) = 0;
  /// expired = 1 when stored time + maxAge < now (signed 32-bit arithmetic), else 0. A missing
  /// key reads as time 0. S_OK; E_FAIL for a null out pointer or when the time cannot be read.
  virtual HRESULT IsExpired(const char* key, std::int32_t now, std::int32_t maxAge,
                            std::int32_t* expired) = 0;
};

/// The process's one cache manager (a singleton: AddRef and Release return 1). Memory and
/// database caches have separate names, so one of each may share a name. Caches still held at
/// the end live until the process ends. Any thread; each call holds the manager's lock.
struct IKQCacheManager : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCacheManager;  ///< its interface id
  /// Directory of the database cache files; only the first call counts. S_OK; E_FAIL when it
  /// ran before, E_POINTER for null.
  virtual HRESULT Init(const char16_t* directory) = 0;
  /// Makes a cache of a CacheKind named name; a database cache opens (or creates) the file of
  /// that name in the directory, and a file that cannot be opened yet is tried again on each
  /// operation; a file it creates is readable and writable by the user alone (mode 0600, and so
  /// are SQLite's -wal, -shm and -journal files beside it) whatever the umask, while an existing
  /// file keeps its mode; a file whose schema holds anything the cache did not create is not used
  /// (its operations fail, with a line on standard error). S_OK, also when the name is taken
  /// already (the existing cache stays). E_FAIL before Init, for a null or empty name or an unknown
  /// kind; E_INVALIDARG for a database name that is absolute or has a ".." component;
  /// E_OUTOFMEMORY.
  virtual HRESULT CreateCache(const char16_t* name, std::int32_t kind) = 0;
  /// Drops the manager's reference on the caches of that name, of both kinds; callers' own
  /// references keep a cache alive. S_OK when one went, S_FALSE when none has the name; E_FAIL
  /// before Init.
  virtual HRESULT RemoveCache(const char16_t* name) = 0;
  /// Stores the cache of that name with a reference for the caller; the database cache when
  /// both kinds have it. S_OK; S_FALSE when none has the name (cache untouched); E_FAIL before
  /// Init; E_POINTER for a null cache.
  virtual HRESULT GetCache(const char16_t* name, IKQCache** cache) = 0;
};

}  // namespace Vantor::KQCP
