// The database cache in one process: what lands in the file (inspected with plain SQLite),
// result rules, refusals, rows that do not decode, and files that are no database.
#include "cache/db_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "cache_fixture.h"
#include "os/utf.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Bytes;
using kqcp_test::RawDatabase;

class DBCacheTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir.File("cache"); }

  kqcp_test::TempDir dir;
  com::ComPtr<DBCache> cache = kqcp_test::OpenDbCache(dir.path(), "cache");
};

TEST_F(DBCacheTest, FileHoldsTheTableAndTheTextForm) {
  const Bytes data = {0x00, 0x01, 0x27};
  ASSERT_EQ(cache->SetValue("bin", 7, data.data(), 3), S_OK);
  ASSERT_EQ(cache->SetValue("empty", -8, "", 0), S_OK);

  RawDatabase raw(Path());
  // SQLite records the statement with its keywords in capitals.
  EXPECT_EQ(raw.Column("select sql from sqlite_master where name = 'CacheData';"),
            std::vector<std::string>{"CREATE TABLE CacheData(key TEXT, time INTEGER, data BLOB)"});
  EXPECT_EQ(raw.Column("select name || ' ' || type from pragma_table_info('CacheData');"),
            (std::vector<std::string>{"key TEXT", "time INTEGER", "data BLOB"}));
  EXPECT_EQ(raw.Column("select key || ' ' || typeof(key) || ' ' || time || ' ' || typeof(time) "
                       "|| ' ' || typeof(data) || ' ' || hex(data) from CacheData order by key;"),
            (std::vector<std::string>{"bin text 7 integer text 02FEFF25",
                                      "empty text -8 integer text 78"}));
  EXPECT_EQ(raw.Column("pragma journal_mode;"), std::vector<std::string>{"wal"});
  EXPECT_EQ(raw.Scalar("select count(*) from sqlite_master where type = 'index' and "
                       "tbl_name = 'CacheData';"),
            1);

  std::int32_t size = -1;
  EXPECT_EQ(cache->GetValueSize("empty", &size), S_OK);
  EXPECT_EQ(size, 0);
  char buffer[1] = {'#'};
  std::int32_t length = 0;
  EXPECT_EQ(cache->GetValue("empty", buffer, &length), S_OK);
  EXPECT_EQ(length, 0);
  Bytes back;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "bin", &back));
  EXPECT_EQ(back, data);
}

TEST_F(DBCacheTest, SecondSetLeavesOneRowWithTheSecondValue) {
  ASSERT_EQ(cache->SetValue("k", 1, "first", 5), S_OK);
  ASSERT_EQ(cache->SetValue("k", 2, "second", 6), S_OK);
  RawDatabase raw(Path());
  EXPECT_EQ(raw.Scalar("select count(*) from CacheData where key = 'k';"), 1);
  EXPECT_EQ(cache->GetTime("k"), 2);
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "k", &value));
  EXPECT_EQ(std::string(value.begin(), value.end()), "second");
}

TEST_F(DBCacheTest, GetValueStoresTheLengthAndCopiesOnlyWhenItFits) {
  const Bytes data = kqcp_test::PatternBytes(300, 1);
  ASSERT_EQ(cache->SetValue("k", 1, data.data(), 300), S_OK);
  Bytes buffer(400, 0xEE);

  std::int32_t length = 299;
  EXPECT_EQ(cache->GetValue("k", buffer.data(), &length), E_OUTOFMEMORY);
  EXPECT_EQ(length, 300);
  EXPECT_EQ(buffer, Bytes(400, 0xEE));

  length = 400;
  EXPECT_EQ(cache->GetValue("k", buffer.data(), &length), S_OK);
  EXPECT_EQ(length, 300);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 300), data);
  EXPECT_EQ(buffer[300], 0xEE);

  length = -1;
  EXPECT_EQ(cache->GetValue("k", buffer.data(), &length), E_OUTOFMEMORY);
  EXPECT_EQ(length, 300);
}

TEST_F(DBCacheTest, MissingKeys) {
  char buffer[8];
  std::int32_t length = 8;
  EXPECT_EQ(cache->GetValue("none", buffer, &length), E_FAIL);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(cache->GetTime("none"), 0);
  std::int32_t size = 123;
  EXPECT_EQ(cache->GetValueSize("none", &size), S_FALSE);
  EXPECT_EQ(size, 123) << "untouched without a row";
}

TEST_F(DBCacheTest, RefusalsRunNothing) {
  ASSERT_EQ(cache->SetValue("k", 1, "v", 1), S_OK);
  std::int32_t length = 1;
  char buffer[1];
  EXPECT_EQ(cache->SetValue("k", 2, nullptr, 0), E_FAIL);
  EXPECT_EQ(cache->SetValue("k", 2, nullptr, 4), E_FAIL);
  EXPECT_EQ(cache->SetValue("k", 2, "v", -1), E_FAIL);
  EXPECT_EQ(cache->SetValue(nullptr, 2, "v", 1), E_FAIL);
  EXPECT_EQ(cache->GetValue("k", nullptr, &length), E_FAIL);
  EXPECT_EQ(cache->GetValue("k", buffer, nullptr), E_FAIL);
  EXPECT_EQ(cache->GetValue(nullptr, buffer, &length), E_FAIL);
  EXPECT_EQ(cache->GetValueSize("k", nullptr), E_FAIL);
  EXPECT_EQ(cache->GetValueSize(nullptr, &length), E_FAIL);
  EXPECT_EQ(cache->GetTime(nullptr), 0);
  RawDatabase raw(Path());
  EXPECT_EQ(raw.Column("select key || time || data from CacheData;"),
            std::vector<std::string>{"k1\x01u"});
}

TEST_F(DBCacheTest, KeysWithApostrophesAndOtherBytes) {
  const char* keys[] = {"it's", "''", "a'b'c", "k\xC3\xA9y", "%Q %d", ""};
  for (int i = 0; i < 6; ++i) ASSERT_EQ(cache->SetValue(keys[i], i, &i, sizeof i), S_OK) << i;
  RawDatabase raw(Path());
  EXPECT_EQ(raw.Scalar("select time from CacheData where key = 'it''s';"), 0);
  EXPECT_EQ(raw.Scalar("select count(*) from CacheData;"), 6);
  for (int i = 0; i < 6; ++i) {
    int stored = -1;
    std::int32_t length = sizeof stored;
    ASSERT_EQ(cache->GetValue(keys[i], &stored, &length), S_OK) << keys[i];
    EXPECT_EQ(stored, i);
    EXPECT_EQ(cache->GetTime(keys[i]), i);
  }
}

TEST_F(DBCacheTest, RowsWrittenByPlainSQLiteAreRead) {
  RawDatabase raw(Path());
  // "abc" in its text form, and a row added the way an older writer adds one.
  ASSERT_TRUE(
      raw.Exec("insert into CacheData values ('abc', 9, '"
               "\x01\x60\x61\x62"
               "');"));
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "abc", &value));
  EXPECT_EQ(value, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(cache->GetTime("abc"), 9);
  // Two rows for one key: the first one counts, and the next write replaces both.
  ASSERT_TRUE(raw.Exec("insert into CacheData values ('abc', 10, 'x');"));
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "abc", &value));
  EXPECT_EQ(value.size(), 3u);
  ASSERT_EQ(cache->SetValue("abc", 11, "z", 1), S_OK);
  EXPECT_EQ(raw.Column("select time || hex(data) from CacheData where key = 'abc';"),
            (std::vector<std::string>{"110179", "110179"}));
}

TEST_F(DBCacheTest, RowsThatDoNotDecodeGiveEFail) {
  RawDatabase raw(Path());
  struct Case {
    const char* key;
    const char* data;  // SQL expression
  };
  const Case cases[] = {
      {"escape4", "cast(X'05410104' as text)"},
      {"escapeAtEnd", "cast(X'054101' as text)"},
      {"emptyText", "''"},
      {"null", "NULL"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(raw.Exec(std::string("insert into CacheData values ('") + c.key + "', 5, " +
                         c.data + ");"));
    Bytes buffer(16, 0xEE);
    std::int32_t length = 16;
    EXPECT_EQ(cache->GetValue(c.key, buffer.data(), &length), E_FAIL) << c.key;
    EXPECT_EQ(length, 16) << c.key;
    EXPECT_EQ(buffer, Bytes(16, 0xEE)) << c.key << ": nothing copied";
    std::int32_t size = 77;
    EXPECT_EQ(cache->GetValueSize(c.key, &size), E_FAIL) << c.key;
    EXPECT_EQ(cache->GetTime(c.key), 5) << c.key;
  }
  ASSERT_TRUE(raw.Exec("insert into CacheData values ('nullTime', NULL, 'x');"));
  EXPECT_EQ(cache->GetTime("nullTime"), 0);
}

TEST_F(DBCacheTest, LargeValuesRoundTrip) {
  const Bytes data = kqcp_test::PatternBytes(3 << 20, 3);
  ASSERT_EQ(cache->SetValue("large", 1, data.data(), static_cast<std::int32_t>(data.size())), S_OK);
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "large", &value));
  EXPECT_EQ(value, data);
}

TEST_F(DBCacheTest, AnotherCacheObjectOfTheNameSeesTheRows) {
  ASSERT_EQ(cache->SetValue("k", 4, "kept", 4), S_OK);
  cache.Reset();
  auto again = kqcp_test::OpenDbCache(dir.path(), "cache");
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(again.Get(), "k", &value));
  EXPECT_EQ(std::string(value.begin(), value.end()), "kept");
}

TEST_F(DBCacheTest, TableDroppedByAnotherProgramFailsCleanly) {
  ASSERT_EQ(cache->SetValue("k", 4, "kept", 4), S_OK);
  RawDatabase raw(Path());
  ASSERT_TRUE(raw.Exec("drop table CacheData;"));
  char buffer[8];
  std::int32_t length = 8;
  EXPECT_EQ(cache->GetValue("k", buffer, &length), E_FAIL);
  EXPECT_EQ(cache->SetValue("k", 5, "new", 3), E_FAIL);
  EXPECT_EQ(cache->GetTime("k"), 0);
}

TEST_F(DBCacheTest, BackslashesSeparateDirectories) {
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
  std::string windowsStyle = dir.path() + "\\sub";
  auto nested = kqcp_test::OpenDbCache(windowsStyle, "nested");
  ASSERT_EQ(nested->SetValue("k", 1, "v", 1), S_OK);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("sub/nested")));
  EXPECT_EQ(DBCache::FilePath(u"C:\\dir", u"name"), "C:/dir/name");
}

// A file made by a writer that knows nothing of the index or the log: the cache reads its rows
// and adds what it needs.
TEST(DBCacheExistingFile, AdoptsAFileWithoutIndexOrLog) {
  kqcp_test::TempDir dir;
  {
    RawDatabase raw(dir.File("old"));
    ASSERT_TRUE(raw.Exec("create table CacheData(key TEXT, time INTEGER, data BLOB);"));
    ASSERT_TRUE(raw.Exec("insert into CacheData values ('abc', 3, '\x01\x60\x61\x62');"));
  }
  auto cache = kqcp_test::OpenDbCache(dir.path(), "old");
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "abc", &value));
  EXPECT_EQ(value, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(cache->GetTime("abc"), 3);
  RawDatabase raw(dir.File("old"));
  EXPECT_EQ(raw.Scalar("select count(*) from sqlite_master where type = 'index';"), 1);
  EXPECT_EQ(raw.Column("pragma journal_mode;"), std::vector<std::string>{"wal"});
  EXPECT_EQ(raw.Scalar("select count(*) from sqlite_master where type = 'table';"), 1);
}

// The permission bits of a file, or -1 when it does not exist.
int ModeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

// A new cache's files are its user's alone, whatever the umask; one that exists keeps its mode.
TEST(DBCacheFileMode, NewFilesArePrivateWhateverTheUmask) {
  kqcp_test::TempDir dir;
  {
    const mode_t previous = umask(022);
    RawDatabase raw(dir.File("shared"));
    ASSERT_TRUE(raw.Exec("create table CacheData(key TEXT, time INTEGER, data BLOB);"));
    umask(previous);
  }
  struct Case {
    mode_t umask;
    const char* name;
    int mode;
  };
  const Case cases[] = {
      {022, "cache022", 0600},  {0, "cache000", 0600}, {077, "cache077", 0600},
      {0277, "cache277", 0600}, {022, "shared", 0644},
  };
  for (const Case& c : cases) {
    const mode_t previous = umask(c.umask);
    auto cache = kqcp_test::OpenDbCache(dir.path(), c.name);
    const HRESULT written = cache->SetValue("k", 1, "value", 5);
    umask(previous);
    ASSERT_EQ(written, S_OK) << c.name;
    const std::string path = dir.File(c.name);
    EXPECT_EQ(ModeOf(path), c.mode) << c.name;
    // The write-ahead log and its index stay while the connection is open; a rollback journal
    // would only be there during a write, and would take the same mode.
    for (const char* side : {"-wal", "-shm"}) {
      EXPECT_EQ(ModeOf(path + side), c.mode) << c.name << side;
    }
    const int journal = ModeOf(path + "-journal");
    EXPECT_TRUE(journal == -1 || journal == c.mode) << c.name;
  }
}

// Files that cannot serve as the cache's database: every operation fails, nothing crashes,
// and the file is left as it was.
TEST(DBCacheUnusableFile, OperationsFailCleanly) {
  kqcp_test::TempDir dir;
  const std::string text = std::string(200, 'T') + " not a database\n";
  std::ofstream(dir.File("text")) << text;
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0700), 0);
  struct Case {
    std::string directory;
    std::string name;
  };
  const Case cases[] = {
      {dir.path(), "text"}, {dir.path(), "folder"}, {dir.File("missing"), "cache"}};
  for (const Case& c : cases) {
    auto cache = kqcp_test::OpenDbCache(c.directory, c.name);
    char buffer[8];
    std::int32_t length = 8, size = 3, expired = -1;
    EXPECT_EQ(cache->SetValue("k", 1, "v", 1), E_FAIL) << c.name;
    EXPECT_EQ(cache->GetValue("k", buffer, &length), E_FAIL) << c.name;
    EXPECT_EQ(cache->GetValueSize("k", &size), E_FAIL) << c.name;
    EXPECT_EQ(cache->GetTime("k"), 0) << c.name;
    // A time that cannot be read is no answer.
    EXPECT_EQ(cache->IsExpired("k", 10, 5, &expired), E_FAIL) << c.name;
    EXPECT_EQ(expired, -1) << c.name;
  }
  std::ifstream in(dir.File("text"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST_F(DBCacheTest, ThreadsShareOneCache) {
  constexpr int kThreads = 4, kRounds = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string key = "t" + std::to_string(t) + "_" + std::to_string(i % 10);
        const std::int32_t value = t * kRounds + i;
        ASSERT_EQ(cache->SetValue(key.c_str(), value, &value, sizeof value), S_OK);
        std::int32_t read = -1, length = sizeof read;
        ASSERT_EQ(cache->GetValue(key.c_str(), &read, &length), S_OK);
        ASSERT_EQ(read, value);
        ASSERT_EQ(cache->GetTime(key.c_str()), value);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  RawDatabase raw(Path());
  EXPECT_EQ(raw.Scalar("select count(*) from CacheData;"), kThreads * 10);
}

}  // namespace
}  // namespace Vantor::KQCP
