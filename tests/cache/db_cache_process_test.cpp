// Database caches in separate processes: what one writes the next reads, two writers racing
// on new keys leave one row per key, and a writer killed with SIGKILL leaves a sound file with
// every value it had committed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/cache_manager.h"
#include "cache_fixture.h"
#include "os/utf.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Bytes;
using kqcp_test::ChildProcess;
using kqcp_test::RawDatabase;
using kqcp_test::Signal;

// Each process reaches its cache through the manager, as a host would. The manager takes one
// directory per process, and every test runs in a process of its own.
IKQCache* ManagedCache(const std::string& directory, const std::string& name) {
  CacheManager_* manager = CacheManagerHolder::Instance();
  IKQCache* cache = nullptr;
  if (manager->Init(os::Utf8ToUtf16(directory).c_str()) != S_OK ||
      manager->CreateCache(os::Utf8ToUtf16(name).c_str(), kCacheKindDatabase) != S_OK ||
      manager->GetCache(os::Utf8ToUtf16(name).c_str(), &cache) != S_OK) {
    return nullptr;
  }
  return cache;
}

Bytes ValueOf(int i, int writer, std::size_t size) {
  return kqcp_test::PatternBytes(size, static_cast<std::uint32_t>(i * 7919 + writer));
}

std::string KeyOf(int i) { return "key" + std::to_string(i); }

// args: directory, name, count, size. Writes count keys, then checks them itself.
KQCP_CHILD(CacheWriter) {
  IKQCache* cache = ManagedCache(args[0], args[1]);
  if (!cache) return 2;
  const int count = std::stoi(args[2]);
  const auto size = static_cast<std::size_t>(std::stoi(args[3]));
  for (int i = 0; i < count; ++i) {
    const Bytes value = ValueOf(i, 0, size);
    if (cache->SetValue(KeyOf(i).c_str(), i, value.data(), static_cast<std::int32_t>(size)) !=
        S_OK) {
      return 3;
    }
  }
  cache->Release();
  return 0;
}

// args: directory, name, count, size. Exits 0 when every key holds what CacheWriter wrote.
KQCP_CHILD(CacheReader) {
  IKQCache* cache = ManagedCache(args[0], args[1]);
  if (!cache) return 2;
  const int count = std::stoi(args[2]);
  const auto size = static_cast<std::size_t>(std::stoi(args[3]));
  for (int i = 0; i < count; ++i) {
    Bytes value;
    if (!kqcp_test::ReadValue(cache, KeyOf(i).c_str(), &value)) return 3;
    if (value != ValueOf(i, 0, size)) return 4;
    std::int32_t expired = -1;
    if (cache->IsExpired(KeyOf(i).c_str(), i + 1, 0, &expired) != S_OK || expired != 1) return 5;
  }
  cache->Release();
  return 0;
}

TEST(DBCacheProcesses, NextProcessReadsWhatTheFirstWrote) {
  kqcp_test::TempDir dir;
  ChildProcess writer("CacheWriter", {dir.path(), "shared", "200", "100"});
  ASSERT_EQ(writer.Wait(), 0);
  ChildProcess reader("CacheReader", {dir.path(), "shared", "200", "100"});
  EXPECT_EQ(reader.Wait(), 0);
  // And this process too, through its own manager.
  IKQCache* cache = ManagedCache(dir.path(), "shared");
  ASSERT_NE(cache, nullptr);
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache, "key199", &value));
  EXPECT_EQ(value, ValueOf(199, 0, 100));
  cache->Release();
}

// args: directory, name, writer id, count, ready fd, go fd. Writes the same keys as its rival,
// starting together with it.
KQCP_CHILD(RacingWriter) {
  IKQCache* cache = ManagedCache(args[0], args[1]);
  if (!cache) return 2;
  const int writer = std::stoi(args[2]);
  const int count = std::stoi(args[3]);
  Signal::Send(args[4], "ready");
  if (Signal::Receive(args[5]) != "go") return 3;
  for (int i = 0; i < count; ++i) {
    const Bytes value = ValueOf(i, writer, 24);
    if (cache->SetValue(KeyOf(i).c_str(), writer, value.data(), 24) != S_OK) return 4;
  }
  cache->Release();
  return 0;
}

TEST(DBCacheProcesses, TwoWritersOfTheSameNewKeysLeaveOneRowEach) {
  constexpr int kKeys = 1000;
  kqcp_test::TempDir dir;
  Signal readyA, readyB, goA, goB;
  ChildProcess a("RacingWriter", {dir.path(), "race", "1", std::to_string(kKeys),
                                  readyA.WriteFdArg(), goA.ReadFdArg()});
  ChildProcess b("RacingWriter", {dir.path(), "race", "2", std::to_string(kKeys),
                                  readyB.WriteFdArg(), goB.ReadFdArg()});
  ASSERT_EQ(readyA.ReadLine(), "ready");
  ASSERT_EQ(readyB.ReadLine(), "ready");
  goA.Write("go");
  goB.Write("go");
  ASSERT_EQ(a.Wait(60000), 0);
  ASSERT_EQ(b.Wait(60000), 0);

  RawDatabase raw(dir.File("race"));
  EXPECT_EQ(raw.Scalar("select count(*) from CacheData;"), kKeys);
  EXPECT_EQ(raw.Scalar("select count(*) from (select key from CacheData group by key "
                       "having count(*) > 1);"),
            0);
  IKQCache* cache = ManagedCache(dir.path(), "race");
  ASSERT_NE(cache, nullptr);
  for (int i = 0; i < kKeys; ++i) {
    Bytes value;
    ASSERT_TRUE(kqcp_test::ReadValue(cache, KeyOf(i).c_str(), &value)) << i;
    // The stored time is the writer's id; its data must come with it.
    const auto writer =
        static_cast<int>(raw.Scalar("select time from CacheData where key = '" + KeyOf(i) + "';"));
    EXPECT_EQ(value, ValueOf(i, writer, 24)) << "data and time of one writer, key " << i;
  }
  cache->Release();
}

// args: directory, name, progress fd. Writes keys until killed, reporting each committed one.
KQCP_CHILD(EndlessWriter) {
  IKQCache* cache = ManagedCache(args[0], args[1]);
  if (!cache) return 2;
  for (int i = 0;; ++i) {
    const Bytes value = ValueOf(i, 0, 4000);
    if (cache->SetValue(KeyOf(i).c_str(), i, value.data(), 4000) != S_OK) return 3;
    Signal::Send(args[2], std::to_string(i));
  }
}

TEST(DBCacheProcesses, WriterKilledMidStreamLeavesItsCommittedValues) {
  kqcp_test::TempDir dir;
  Signal progress;
  ChildProcess writer("EndlessWriter", {dir.path(), "killed", progress.WriteFdArg()});
  int committed = -1;
  while (committed < 300) {
    const std::string line = progress.ReadLine();
    ASSERT_FALSE(line.empty()) << "writer stopped after " << committed;
    committed = std::stoi(line);
  }
  writer.Kill();

  RawDatabase raw(dir.File("killed"));
  EXPECT_EQ(raw.Column("pragma integrity_check;"), std::vector<std::string>{"ok"});
  IKQCache* cache = ManagedCache(dir.path(), "killed");
  ASSERT_NE(cache, nullptr);
  for (int i = 0; i <= committed; ++i) {
    Bytes value;
    ASSERT_TRUE(kqcp_test::ReadValue(cache, KeyOf(i).c_str(), &value)) << i;
    ASSERT_EQ(value, ValueOf(i, 0, 4000)) << i;
  }
  // The file takes new writes after the crash.
  EXPECT_EQ(cache->SetValue("after", 1, "ok", 2), S_OK);
  cache->Release();
}

}  // namespace
}  // namespace Vantor::KQCP
