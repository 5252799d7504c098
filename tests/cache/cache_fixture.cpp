// Cache test helpers.
#include "cache_fixture.h"

#include <random>

#include "os/utf.h"

namespace kqcp_test {

using namespace Vantor::KQCP;

com::ComPtr<DBCache> OpenDbCache(const std::string& directory, const std::string& name) {
  auto cache = com::ComPtr<DBCache>::Adopt(com::MakeObject<DBCache>());
  cache->SetName(os::Utf8ToUtf16(name));
  cache->Open(os::Utf8ToUtf16(directory));
  return cache;
}

com::ComPtr<MemCache> NewMemCache(const std::string& name) {
  auto cache = com::ComPtr<MemCache>::Adopt(com::MakeObject<MemCache>());
  cache->SetName(os::Utf8ToUtf16(name));
  return cache;
}

bool ReadValue(IKQCache* cache, const char* key, Bytes* value) {
  std::int32_t size = -1;
  if (cache->GetValueSize(key, &size) != S_OK || size < 0) return false;
  value->assign(static_cast<std::size_t>(size) + 1, 0);
  std::int32_t length = size + 1;
  if (cache->GetValue(key, value->data(), &length) != S_OK) return false;
  value->resize(static_cast<std::size_t>(size));
  return true;
}

Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

RawDatabase::RawDatabase(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_busy_timeout(db_, 60000);
}

RawDatabase::~RawDatabase() { sqlite3_close(db_); }

bool RawDatabase::Exec(const std::string& sql) {
  return db_ && sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::vector<std::string> RawDatabase::Column(const std::string& sql) {
  std::vector<std::string> values;
  sqlite3_stmt* statement = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    return {"<error>"};
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    if (sqlite3_column_type(statement, 0) == SQLITE_NULL) {
      values.emplace_back("NULL");
    } else {
      const auto* text = sqlite3_column_text(statement, 0);
      values.emplace_back(reinterpret_cast<const char*>(text),
                          static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
    }
  }
  sqlite3_finalize(statement);
  return values;
}

std::int64_t RawDatabase::Scalar(const std::string& sql) {
  std::int64_t value = -1;
  sqlite3_stmt* statement = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    return -1;
  }
  if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  return value;
}

}  // namespace kqcp_test
