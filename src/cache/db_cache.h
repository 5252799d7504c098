// The cache kept in an SQLite database file, one file per cache name, shared with every other
// process that opens the same name in the same directory. The table CacheData holds per key the
// time and the data in its text form; other processes may read and write it with plain SQLite.
#pragma once

#include <memory>
#include <string>

#include "cache/base_cache.h"
#include "cache/cpp_sqlite3.h"

namespace Vantor::KQCP {

class DBCache final : public BaseCache {
 public:
  static constexpr const char* kTableName = "CacheData";
  static constexpr const char* kCreateTable =
      "create table CacheData(key TEXT, time INTEGER, data BLOB);";
  // An index beside the table: lookups by key no longer scan every row. Readers and writers
  // that do not know it are unaffected.
  static constexpr const char* kCreateIndex =
      "create index if not exists CacheDataKey on CacheData(key);";
  static constexpr const char* kIndexName = "CacheDataKey";

  DBCache();
  ~DBCache() override;

  // directory + "\" + name, as a native UTF-8 path ("\" is a separator).
  static std::string FilePath(const std::u16string& directory, const std::u16string& name);
  // Whether the file of a cache of that name stays inside the cache directory: the name is
  // not absolute and has no ".." component ("/" and "\" both separate components).
  static bool NameStaysInDirectory(std::u16string_view name);

  // Opens the file of the cache (named beforehand) in the directory, creating file and table
  // when absent. Failures are not reported: each operation tries again until the file is
  // usable. A file whose schema holds anything besides the cache's table and index is refused.
  void Open(const std::u16string& directory);

  // E_FAIL for a null key or data pointer or a negative length, and for any database error.
  HRESULT SetValue(const char* key, std::int32_t time, const void* data,
                   std::int32_t length) override;
  // E_FAIL without a row, for a row that does not decode and for any database error;
  // E_OUTOFMEMORY when the buffer is shorter than the data. The data length is stored in
  // both the success and the E_OUTOFMEMORY case.
  HRESULT GetValue(const char* key, void* buffer, std::int32_t* length) override;
  // S_OK with the length stored, or S_FALSE with the length untouched when the key has no row.
  HRESULT GetValueSize(const char* key, std::int32_t* length) override;
  // 0 stored when the key has no row or its time is NULL; E_FAIL when the database fails.
  HRESULT ReadTime(const char* key, std::int32_t* time) override;

 private:
  struct Statements;

  // The file's path with the directory's symbolic links resolved.
  std::string OpenedPath();
  // Opens the connection and sets up the file; the connection stays closed on failure.
  void OpenFile();
  // Throws, with one log line per cache, when the schema holds an object of someone else.
  void CheckSchema();
  void ApplyConnectionSettings();
  void EnsureTable();
  // Table, index and kept statements; retried by each operation until it succeeds.
  void Prepare();
  Statements& Ready();
  // Update, and insert when no row changed, as one write transaction.
  void Write(const char* key, std::int32_t time, const char* text, std::size_t size);

  std::u16string directory_;
  bool refusalLogged_ = false;
  CppSQLite3DB db_;
  // Declared after the connection, so the statements are finalised before it closes.
  std::unique_ptr<Statements> statements_;
};

}  // namespace Vantor::KQCP
