// The database cache: connection set-up, schema, and the four operations over kept statements.
#include "cache/db_cache.h"

#include <stdlib.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "cache/binary_text.h"
#include "os/library.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

struct DBCache::Statements {
  CppSQLite3Statement begin;
  CppSQLite3Statement commit;
  CppSQLite3Statement rollback;
  CppSQLite3Statement update;
  CppSQLite3Statement insert;
  CppSQLite3Statement selectData;
  CppSQLite3Statement selectTime;
};

namespace {

// The encoded text of a key's first row, as the data query holds it, and its decoded length
// (−1 when it does not decode, or does not fit a 32-bit length).
struct StoredText {
  const unsigned char* text = nullptr;
  std::size_t bytes = 0;
  std::int64_t size = -1;
};

// Runs the data query for key; false without a row. The text stays valid while the query
// is in use.
bool SelectStored(CppSQLite3Statement& query, const char* key, StoredText& stored) {
  query.Bind(1, key, std::strlen(key));
  if (!query.Step()) return false;
  stored.text = query.ColumnText(0);
  stored.bytes = static_cast<std::size_t>(query.ColumnBytes(0));
  stored.size = DecodedLength(stored.text, stored.bytes);
  if (stored.size > INT32_MAX) stored.size = -1;
  return true;
}

// The schema text of the table and index the cache creates, as SQLite keeps it.
constexpr std::string_view kTableSchema =
    "CREATE TABLE CacheData(key TEXT, time INTEGER, data BLOB)";
constexpr std::string_view kIndexSchema = "CREATE INDEX CacheDataKey on CacheData(key)";

// Equal but for case and white space.
bool SameSchema(const char* sql, std::string_view expected) {
  std::string_view text(sql ? sql : "");
  auto next = [](std::string_view& rest) {
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) {
      rest.remove_prefix(1);
    }
    if (rest.empty()) return -1;
    const int c = std::tolower(static_cast<unsigned char>(rest.front()));
    rest.remove_prefix(1);
    return c;
  };
  for (;;) {
    const int a = next(text);
    const int b = next(expected);
    if (a != b) return false;
    if (a < 0) return true;
  }
}

// A name from the file as it may stand in a log line: printable ASCII only, and not too long.
std::string Printable(std::string_view text) {
  constexpr std::size_t kLongest = 64;
  std::string out;
  for (const char c : text.substr(0, kLongest)) out += c >= 0x20 && c < 0x7f ? c : '?';
  if (text.size() > kLongest) out += "...";
  return out;
}

}  // namespace

DBCache::DBCache() = default;
DBCache::~DBCache() = default;

std::string DBCache::FilePath(const std::u16string& directory, const std::u16string& name) {
  return os::ToNativePath(directory + u"\\" + name);
}

bool DBCache::NameStaysInDirectory(std::u16string_view name) {
  if (name.empty() || name.front() == u'/' || name.front() == u'\\') return false;
  while (!name.empty()) {
    const std::size_t end = name.find_first_of(u"/\\");
    if (name.substr(0, end) == u"..") return false;
    if (end == std::u16string_view::npos) break;
    name.remove_prefix(end + 1);
  }
  return true;
}

void DBCache::Open(const std::u16string& directory) {
  ScopedLock guard(lock_);
  try {
    directory_ = directory;
    OpenFile();
  } catch (...) {
    // Not reported: the operations try again and report the failure.
  }
}

std::string DBCache::OpenedPath() {
  // The host's directory may lie behind symbolic links; only what lies below it, the cache's
  // own name, may not (the connection follows none).
  std::string directory = os::ToNativePath(directory_);
  if (char* real = realpath(directory.c_str(), nullptr)) {
    directory = real;
    std::free(real);
  }
  return directory + "/" + os::ToNativePath(Name());
}

void DBCache::OpenFile() {
  statements_.reset();
  db_.Open(OpenedPath());
  try {
    CheckSchema();
    ApplyConnectionSettings();
    Prepare();
  } catch (...) {
    statements_.reset();
    db_.Close();
    throw;
  }
}

void DBCache::CheckSchema() {
  CppSQLite3Query rows = db_.ExecQuery("select type, name, sql from sqlite_master;");
  for (; !rows.Eof(); rows.NextRow()) {
    const std::string_view type = rows.FieldValue(0);
    const std::string_view name = rows.FieldValue(1);
    const char* sql = rows.FieldValue(2);
    if (type == "table" && name == kTableName && SameSchema(sql, kTableSchema)) continue;
    if (type == "index" && name == kIndexName && SameSchema(sql, kIndexSchema)) continue;
    if (!refusalLogged_) {
      refusalLogged_ = true;
      std::fprintf(stderr,
                   "KQCP: cache file %s not used: its schema holds %s \"%s\", which the cache "
                   "does not create\n",
                   OpenedPath().c_str(), Printable(type).c_str(), Printable(name).c_str());
    }
    ThrowLayerError(sqlite_layer_error::kForeignSchema);
  }
}

void DBCache::ApplyConnectionSettings() {
  // A write-ahead log with normal sync: a commit is one append to the log, readers never wait
  // for writers, and a committed value survives the end of its process. Both are optional:
  // without them the cache works as before, only slower.
  try {
    db_.ExecDML("pragma journal_mode=WAL;");
  } catch (const CppSQLite3Exception&) {
  }
  try {
    db_.ExecDML("pragma synchronous=NORMAL;");
  } catch (const CppSQLite3Exception&) {
  }
}

void DBCache::EnsureTable() {
  char check[128];
  std::snprintf(check, sizeof check,
                "select count(*) from sqlite_master where type='table' and name='%s'", kTableName);
  if (db_.ExecScalar(check) > 0) return;
  // Checked again inside a write transaction, so two processes creating the same cache at once
  // do not both run the create statement.
  db_.ExecDML("begin immediate;");
  try {
    if (db_.ExecScalar(check) <= 0) db_.ExecDML(kCreateTable);
    db_.ExecDML("commit;");
  } catch (...) {
    if (db_.InTransaction()) {
      try {
        db_.ExecDML("rollback;");
      } catch (...) {
      }
    }
    throw;
  }
}

void DBCache::Prepare() {
  EnsureTable();
  // Only for speed: a file that cannot take the index (read-only, full) is still used.
  try {
    if (db_.ExecScalar("select count(*) from sqlite_master where type='index' and "
                       "name='CacheDataKey'") <= 0) {
      db_.ExecDML(kCreateIndex);
    }
  } catch (const CppSQLite3Exception&) {
  }
  auto statements = std::make_unique<Statements>();
  statements->begin = db_.Compile("begin immediate;");
  statements->commit = db_.Compile("commit;");
  statements->rollback = db_.Compile("rollback;");
  statements->update = db_.Compile("update CacheData set time = ?1, data = ?2 where key = ?3;");
  statements->insert = db_.Compile("insert into CacheData values (?1, ?2, ?3);");
  statements->selectData = db_.Compile("select data from CacheData where key = ?1;");
  statements->selectTime = db_.Compile("select time from CacheData where key = ?1;");
  statements_ = std::move(statements);
}

DBCache::Statements& DBCache::Ready() {
  // A file that could not be opened (its directory missing, say) may be usable by now.
  if (!db_.IsOpen()) OpenFile();
  if (!statements_) Prepare();
  return *statements_;
}

void DBCache::Write(const char* key, std::int32_t time, const char* text, std::size_t size) {
  Statements& s = Ready();
  const std::size_t keySize = std::strlen(key);
  {
    StatementUse use(s.begin);
    s.begin.ExecDML();
  }
  try {
    int changed = 0;
    {
      StatementUse use(s.update);
      s.update.Bind(1, time);
      s.update.Bind(2, text, size);
      s.update.Bind(3, key, keySize);
      changed = s.update.ExecDML();
    }
    if (changed == 0) {
      StatementUse use(s.insert);
      s.insert.Bind(1, key, keySize);
      s.insert.Bind(2, time);
      s.insert.Bind(3, text, size);
      s.insert.ExecDML();
    }
    StatementUse use(s.commit);
    s.commit.ExecDML();
  } catch (...) {
    if (db_.InTransaction()) {
      StatementUse use(s.rollback);
      try {
        s.rollback.ExecDML();
      } catch (...) {
      }
    }
    throw;
  }
}

HRESULT DBCache::SetValue(const char* key, std::int32_t time, const void* data,
                          std::int32_t length) {
  if (!key || !data || length < 0) return E_FAIL;
  ScopedLock guard(lock_);
  try {
    Ready();
    // Its text form is longer than the data; refused before a buffer that large is made.
    if (length >= db_.MaxValueLength()) return E_FAIL;
    auto text = std::make_unique_for_overwrite<std::uint8_t[]>(EncodedCapacity(length));
    const std::size_t size =
        EncodeBinary(static_cast<const std::uint8_t*>(data), length, text.get());
    Write(key, time, reinterpret_cast<const char*>(text.get()), size);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT DBCache::GetValue(const char* key, void* buffer, std::int32_t* length) {
  if (!key || !buffer || !length) return E_FAIL;
  ScopedLock guard(lock_);
  try {
    Statements& s = Ready();
    StatementUse use(s.selectData);
    StoredText stored;
    if (!SelectStored(s.selectData, key, stored) || stored.size < 0) return E_FAIL;
    HRESULT result = S_OK;
    if (*length >= stored.size) {
      DecodeBinary(stored.text, stored.bytes, static_cast<std::uint8_t*>(buffer));
    } else {
      result = E_OUTOFMEMORY;
    }
    *length = static_cast<std::int32_t>(stored.size);
    return result;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT DBCache::GetValueSize(const char* key, std::int32_t* length) {
  if (!key || !length) return E_FAIL;
  ScopedLock guard(lock_);
  try {
    Statements& s = Ready();
    StatementUse use(s.selectData);
    StoredText stored;
    if (!SelectStored(s.selectData, key, stored)) return S_FALSE;  // no row: length untouched
    if (stored.size < 0) return E_FAIL;
    *length = static_cast<std::int32_t>(stored.size);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT DBCache::ReadTime(const char* key, std::int32_t* time) {
  if (!key || !time) return E_FAIL;
  ScopedLock guard(lock_);
  try {
    Statements& s = Ready();
    StatementUse use(s.selectTime);
    s.selectTime.Bind(1, key, std::strlen(key));
    *time = !s.selectTime.Step() || s.selectTime.ColumnIsNull(0) ? 0 : s.selectTime.ColumnInt(0);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace Vantor::KQCP
