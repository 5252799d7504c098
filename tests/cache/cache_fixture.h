// Helpers for the cache tests: database caches opened on files of a temporary directory, and a
// plain SQLite connection to inspect and tamper with those files as another program would.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cache/db_cache.h"
#include "cache/mem_cache.h"
#include "com/com_ptr.h"

namespace kqcp_test {

using Bytes = std::vector<std::uint8_t>;

// A named database cache opened in the directory, as the manager opens it.
Vantor::KQCP::com::ComPtr<Vantor::KQCP::DBCache> OpenDbCache(const std::string& directory,
                                                             const std::string& name);
Vantor::KQCP::com::ComPtr<Vantor::KQCP::MemCache> NewMemCache(const std::string& name);

// The whole value stored under a key, read with GetValueSize then GetValue.
bool ReadValue(Vantor::KQCP::IKQCache* cache, const char* key, Bytes* value);

// Deterministic pseudo-random bytes.
Bytes PatternBytes(std::size_t size, std::uint32_t seed);

// A connection of the stock SQLite library, with the same busy timeout as the cache.
class RawDatabase {
 public:
  explicit RawDatabase(const std::string& path);
  ~RawDatabase();
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  bool Exec(const std::string& sql);
  // The first column of every row as text ("NULL" for NULL).
  std::vector<std::string> Column(const std::string& sql);
  // The first column of the first row as an integer; -1 without a row.
  std::int64_t Scalar(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace kqcp_test
