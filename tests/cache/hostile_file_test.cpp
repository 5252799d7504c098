// Database cache files prepared by someone else: objects in the schema that the cache did not
// create, triggers added while a cache is open, statements that never end, symbolic links, and
// files that become usable only after the cache was created.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "cache/cpp_sqlite3.h"
#include "cache/db_cache.h"
#include "cache_fixture.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::RawDatabase;
using Clock = std::chrono::steady_clock;

// A query that never ends on its own.
constexpr const char* kEndless =
    "with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c";
// One that would take hours: 10^12 rows of a four-way join.
constexpr const char* kEndlessJoin = "select count(*) from T a, T b, T c, T d";

constexpr const char* kTable = "create table CacheData(key TEXT, time INTEGER, data BLOB);";
constexpr const char* kIndex = "create index CacheDataKey on CacheData(key);";

std::string EndlessTrigger(const char* name) {
  return std::string("create trigger ") + name +
         " after insert on CacheData begin select count(*) from (with recursive c(x) as "
         "(select 1 union all select x + 1 from c) select x from c); end;";
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(CacheStatementBound, AnEndlessStatementIsInterrupted) {
  kqcp_test::TempDir dir;
  CppSQLite3DB db;
  db.Open(dir.File("db"));
  db.ExecDML("create table T(x);");
  std::string rows = "insert into T values (0)";
  for (int i = 1; i < 1000; ++i) rows += ",(" + std::to_string(i) + ")";
  db.ExecDML((rows + ";").c_str());
  const auto start = Clock::now();
  int code = 0;
  try {
    db.ExecScalar(kEndlessJoin);
  } catch (const CppSQLite3Exception& e) {
    code = e.Code();
  }
  EXPECT_EQ(code, SQLITE_INTERRUPT);
  EXPECT_LT(SecondsSince(start), 5.0);
  // The connection serves the next statement as usual.
  EXPECT_EQ(db.ExecScalar("select 41 + 1;"), 42);
}

// Files planted before the cache opens them: refused with one log line, left as they were, and
// no hindrance to other caches.
TEST(CachePlantedFile, SchemaObjectsTheCacheDidNotCreateAreRefused) {
  struct Case {
    const char* name;
    std::string extra;
  };
  const Case cases[] = {
      {"trigger", EndlessTrigger("endless")},
      {"view", "create view endless as " + std::string(kEndless) + ";"},
      {"other table", "create table Other(x);"},
      {"name that would forge log lines", "create table \"x\nKQCP: all is well\x1b[2J\" (x);"},
      {"expression index",
       "create index Heavy on CacheData(length(printf('%.*c', 1000000000, 'x')));"},
      {"altered table",
       "drop index CacheDataKey; drop table CacheData; create table CacheData("
       "key TEXT, time INTEGER, data BLOB check (length(data) > 0));"},
  };
  for (const Case& c : cases) {
    kqcp_test::TempDir dir;
    {
      RawDatabase raw(dir.File("planted"));
      ASSERT_TRUE(raw.Exec(kTable) && raw.Exec(kIndex) && raw.Exec(c.extra)) << c.name;
    }
    const auto before = std::filesystem::file_size(dir.File("planted"));
    testing::internal::CaptureStderr();
    auto planted = kqcp_test::OpenDbCache(dir.path(), "planted");
    const auto start = Clock::now();
    std::int32_t expired = -1;
    EXPECT_EQ(planted->SetValue("k", 1, "v", 1), E_FAIL) << c.name;
    EXPECT_EQ(planted->IsExpired("k", 10, 5, &expired), E_FAIL) << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LT(SecondsSince(start), 5.0) << c.name;
    // One line, however often the cache tries the file again.
    EXPECT_NE(log.find("planted"), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1) << log;
    EXPECT_EQ(std::filesystem::file_size(dir.File("planted")), before) << c.name;
    RawDatabase raw(dir.File("planted"));
    EXPECT_EQ(raw.Scalar("select count(*) from CacheData;"), 0) << c.name;

    auto other = kqcp_test::OpenDbCache(dir.path(), "other");
    EXPECT_EQ(other->SetValue("k", 1, "v", 1), S_OK) << c.name;
  }
}

// A trigger added by another program while the cache has the file open never runs, and the
// cache holds no lock once its call has failed.
TEST(CachePlantedFile, ATriggerAddedLaterNeitherRunsNorHoldsTheFile) {
  kqcp_test::TempDir dir;
  auto cache = kqcp_test::OpenDbCache(dir.path(), "shared");
  ASSERT_EQ(cache->SetValue("before", 1, "v", 1), S_OK);
  RawDatabase raw(dir.File("shared"));
  ASSERT_TRUE(raw.Exec(EndlessTrigger("later")));

  const auto start = Clock::now();
  EXPECT_EQ(cache->SetValue("k", 2, "v", 1), E_FAIL);
  EXPECT_LT(SecondsSince(start), 5.0);
  // The write lock is free at once: another writer gets in without waiting.
  const auto write = Clock::now();
  EXPECT_TRUE(raw.Exec("begin immediate; commit;"));
  EXPECT_LT(SecondsSince(write), 1.0);
  auto other = kqcp_test::OpenDbCache(dir.path(), "other");
  EXPECT_EQ(other->SetValue("k", 1, "v", 1), S_OK);
  // Without the trigger the file serves again.
  ASSERT_TRUE(raw.Exec("drop trigger later;"));
  EXPECT_EQ(cache->SetValue("k", 2, "v", 1), S_OK);
  EXPECT_EQ(cache->GetTime("k"), 2);
}

TEST(CachePlantedFile, ASymbolicLinkIsNotFollowed) {
  kqcp_test::TempDir dir;
  {
    RawDatabase target(dir.File("target"));
    ASSERT_TRUE(target.Exec(kTable));
  }
  ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("real")));
  ASSERT_EQ(symlink(dir.File("real").c_str(), dir.File("sub").c_str()), 0);
  auto cache = kqcp_test::OpenDbCache(dir.path(), "link");
  EXPECT_EQ(cache->SetValue("k", 1, "v", 1), E_FAIL);
  auto below = kqcp_test::OpenDbCache(dir.path(), "sub/c");
  EXPECT_EQ(below->SetValue("k", 1, "v", 1), E_FAIL);
  RawDatabase target(dir.File("target"));
  EXPECT_EQ(target.Scalar("select count(*) from CacheData;"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("real/c")));
  // The cache directory itself may be reached through a link.
  auto through = kqcp_test::OpenDbCache(dir.File("sub"), "c");
  EXPECT_EQ(through->SetValue("k", 1, "v", 1), S_OK);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("real/c")));
}

TEST(CacheOpen, IsTriedAgainOnceTheDirectoryExists) {
  kqcp_test::TempDir dir;
  const std::string later = dir.File("later");
  auto cache = kqcp_test::OpenDbCache(later, "c");
  std::int32_t size = -1;
  EXPECT_EQ(cache->SetValue("k", 1, "v", 1), E_FAIL);
  EXPECT_EQ(cache->GetValueSize("k", &size), E_FAIL);
  ASSERT_TRUE(std::filesystem::create_directory(later));
  EXPECT_EQ(cache->SetValue("k", 7, "value", 5), S_OK);
  EXPECT_EQ(cache->GetValueSize("k", &size), S_OK);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(cache->GetTime("k"), 7);
  EXPECT_TRUE(std::filesystem::is_regular_file(later + "/c"));
}

}  // namespace
}  // namespace Vantor::KQCP
