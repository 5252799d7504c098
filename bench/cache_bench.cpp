// Caches beside their baselines: the database cache against bare prepared SQLite statements
// on the same kind of file (WAL, normal sync, index on key), writes and reads at 10,000 keys;
// the memory cache against std::unordered_map behind a mutex; the binary text form against
// memcpy.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/binary_text.h"
#include "cache/db_cache.h"
#include "cache/mem_cache.h"
#include "com/com_ptr.h"
#include "os/utf.h"

namespace {

using namespace Vantor::KQCP;

constexpr int kKeys = 10000;
constexpr int kValueSize = 100;

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (int i = 0; i < kKeys; ++i) k.push_back("key" + std::to_string(i));
    return k;
  }();
  return keys;
}

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
  std::mt19937 random(42);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// A fresh directory for one benchmark's file, removed afterwards.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kqcp-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

com::ComPtr<DBCache> FilledDbCache(const BenchDir& dir) {
  auto cache = com::ComPtr<DBCache>::Adopt(com::MakeObject<DBCache>());
  cache->SetName(u"bench");
  cache->Open(os::Utf8ToUtf16(dir.path()));
  const auto value = RandomBytes(kValueSize);
  for (const std::string& key : Keys()) cache->SetValue(key.c_str(), 1, value.data(), kValueSize);
  return cache;
}

// The baseline: the same table, index and connection settings, and the same update-then-insert
// transaction, with raw bytes bound as a blob.
class BareDatabase {
 public:
  explicit BareDatabase(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_busy_timeout(db_, 60000);
    sqlite3_exec(db_,
                 "pragma journal_mode=WAL; pragma synchronous=NORMAL;"
                 "create table CacheData(key TEXT, time INTEGER, data BLOB);"
                 "create index CacheDataKey on CacheData(key);",
                 nullptr, nullptr, nullptr);
    begin_ = Prepare("begin immediate;");
    commit_ = Prepare("commit;");
    update_ = Prepare("update CacheData set time = ?1, data = ?2 where key = ?3;");
    insert_ = Prepare("insert into CacheData values (?1, ?2, ?3);");
    select_ = Prepare("select data from CacheData where key = ?1;");
  }
  ~BareDatabase() {
    for (sqlite3_stmt* s : {begin_, commit_, update_, insert_, select_}) sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  void Write(const std::string& key, int time, const void* data, int size) {
    Run(begin_);
    sqlite3_bind_int(update_, 1, time);
    sqlite3_bind_blob(update_, 2, data, size, SQLITE_STATIC);
    sqlite3_bind_text(update_, 3, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    Run(update_);
    if (sqlite3_changes(db_) == 0) {
      sqlite3_bind_text(insert_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
      sqlite3_bind_int(insert_, 2, time);
      sqlite3_bind_blob(insert_, 3, data, size, SQLITE_STATIC);
      Run(insert_);
    }
    Run(commit_);
  }

  int Read(const std::string& key, void* buffer, int size) {
    sqlite3_bind_text(select_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    int length = -1;
    if (sqlite3_step(select_) == SQLITE_ROW) {
      const void* blob = sqlite3_column_blob(select_, 0);
      length = sqlite3_column_bytes(select_, 0);
      if (length <= size) std::memcpy(buffer, blob, static_cast<std::size_t>(length));
    }
    sqlite3_reset(select_);
    return length;
  }

 private:
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    return statement;
  }
  static void Run(sqlite3_stmt* statement) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_reset(statement);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

void FillBare(BareDatabase& db) {
  const auto value = RandomBytes(kValueSize);
  for (const std::string& key : Keys()) db.Write(key, 1, value.data(), kValueSize);
}

void DbCacheWrite_kqcp(benchmark::State& state) {
  BenchDir dir;
  auto cache = FilledDbCache(dir);
  const auto value = RandomBytes(kValueSize);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& key = Keys()[i++ % kKeys];
    if (cache->SetValue(key.c_str(), 2, value.data(), kValueSize) != S_OK) {
      state.SkipWithError("SetValue failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DbCacheWrite_kqcp)->Name("db_cache_write/kqcp")->UseRealTime();

void DbCacheWrite_baseline(benchmark::State& state) {
  BenchDir dir;
  BareDatabase db(dir.path() + "/bench");
  FillBare(db);
  const auto value = RandomBytes(kValueSize);
  std::size_t i = 0;
  for (auto _ : state) db.Write(Keys()[i++ % kKeys], 2, value.data(), kValueSize);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DbCacheWrite_baseline)->Name("db_cache_write/baseline")->UseRealTime();

void DbCacheRead_kqcp(benchmark::State& state) {
  BenchDir dir;
  auto cache = FilledDbCache(dir);
  std::uint8_t buffer[kValueSize];
  std::size_t i = 0;
  for (auto _ : state) {
    std::int32_t length = kValueSize;
    if (cache->GetValue(Keys()[i++ % kKeys].c_str(), buffer, &length) != S_OK) {
      state.SkipWithError("GetValue failed");
      break;
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DbCacheRead_kqcp)->Name("db_cache_read/kqcp")->UseRealTime();

void DbCacheRead_baseline(benchmark::State& state) {
  BenchDir dir;
  BareDatabase db(dir.path() + "/bench");
  FillBare(db);
  std::uint8_t buffer[kValueSize];
  std::size_t i = 0;
  for (auto _ : state) {
    if (db.Read(Keys()[i++ % kKeys], buffer, kValueSize) != kValueSize) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DbCacheRead_baseline)->Name("db_cache_read/baseline")->UseRealTime();

// The baseline memory cache: a map behind a mutex.
class MapCache {
 public:
  void Set(const std::string& key, const void* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    auto* bytes = static_cast<const std::uint8_t*>(data);
    map_[key].assign(bytes, bytes + size);
  }
  bool Get(const std::string& key, void* buffer, std::size_t size) {
    std::lock_guard lock(mutex_);
    auto it = map_.find(key);
    if (it == map_.end() || it->second.size() > size) return false;
    std::memcpy(buffer, it->second.data(), it->second.size());
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::uint8_t>> map_;
};

void MemCacheSet_kqcp(benchmark::State& state) {
  auto cache = com::ComPtr<MemCache>::Adopt(com::MakeObject<MemCache>());
  const auto value = RandomBytes(kValueSize);
  std::size_t i = 0;
  for (auto _ : state) cache->SetValue(Keys()[i++ % kKeys].c_str(), 1, value.data(), kValueSize);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MemCacheSet_kqcp)->Name("mem_cache_set/kqcp");

void MemCacheSet_baseline(benchmark::State& state) {
  MapCache cache;
  const auto value = RandomBytes(kValueSize);
  std::size_t i = 0;
  for (auto _ : state) cache.Set(Keys()[i++ % kKeys], value.data(), kValueSize);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MemCacheSet_baseline)->Name("mem_cache_set/baseline");

void MemCacheGet_kqcp(benchmark::State& state) {
  auto cache = com::ComPtr<MemCache>::Adopt(com::MakeObject<MemCache>());
  const auto value = RandomBytes(kValueSize);
  for (const std::string& key : Keys()) cache->SetValue(key.c_str(), 1, value.data(), kValueSize);
  std::uint8_t buffer[kValueSize];
  std::size_t i = 0;
  for (auto _ : state) {
    std::int32_t length = kValueSize;
    cache->GetValue(Keys()[i++ % kKeys].c_str(), buffer, &length);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MemCacheGet_kqcp)->Name("mem_cache_get/kqcp");

void MemCacheGet_baseline(benchmark::State& state) {
  MapCache cache;
  const auto value = RandomBytes(kValueSize);
  for (const std::string& key : Keys()) cache.Set(key, value.data(), kValueSize);
  std::uint8_t buffer[kValueSize];
  std::size_t i = 0;
  for (auto _ : state) {
    cache.Get(Keys()[i++ % kKeys], buffer, kValueSize);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MemCacheGet_baseline)->Name("mem_cache_get/baseline");

constexpr std::size_t kBlockSize = 64 * 1024;

void Encode_kqcp(benchmark::State& state) {
  const auto data = RandomBytes(kBlockSize);
  std::vector<std::uint8_t> text(EncodedCapacity(kBlockSize));
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodeBinary(data.data(), kBlockSize, text.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBlockSize));
}
BENCHMARK(Encode_kqcp)->Name("binary_encode/kqcp");

void Decode_kqcp(benchmark::State& state) {
  const auto data = RandomBytes(kBlockSize);
  std::vector<std::uint8_t> text(EncodedCapacity(kBlockSize));
  const std::size_t size = EncodeBinary(data.data(), kBlockSize, text.data());
  std::vector<std::uint8_t> out(kBlockSize);
  for (auto _ : state) {
    // As the cache reads: validate and measure, then decode.
    const std::int64_t length = DecodedLength(text.data(), size);
    if (length != static_cast<std::int64_t>(kBlockSize)) {
      state.SkipWithError("decode failed");
      break;
    }
    DecodeBinary(text.data(), size, out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBlockSize));
}
BENCHMARK(Decode_kqcp)->Name("binary_decode/kqcp");

void Copy_baseline(benchmark::State& state) {
  const auto data = RandomBytes(kBlockSize);
  std::vector<std::uint8_t> out(kBlockSize);
  for (auto _ : state) {
    std::memcpy(out.data(), data.data(), kBlockSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBlockSize));
}
BENCHMARK(Copy_baseline)->Name("binary_encode/baseline");
BENCHMARK(Copy_baseline)->Name("binary_decode/baseline");

}  // namespace
