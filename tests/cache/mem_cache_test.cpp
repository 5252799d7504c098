// The memory cache's result rules (0 success, 1 failure), refusals of impossible data, exact
// byte-string keys, and many threads on one cache.
#include "cache/mem_cache.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "cache_fixture.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Bytes;

class MemCacheTest : public ::testing::Test {
 protected:
  com::ComPtr<MemCache> cache = kqcp_test::NewMemCache("memory");
};

TEST_F(MemCacheTest, GetValueRules) {
  const char data[] = "hello";  // 5 bytes stored
  ASSERT_EQ(cache->SetValue("k", 42, data, 5), S_OK);

  std::int32_t length = -7;
  EXPECT_EQ(cache->GetValue("k", nullptr, &length), S_OK) << "null buffer asks the length";
  EXPECT_EQ(length, 5);

  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  length = 4;
  EXPECT_EQ(cache->GetValue("k", buffer, &length), 1) << "one byte short";
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(buffer, 5), "#####");

  length = 16;
  EXPECT_EQ(cache->GetValue("k", buffer, &length), S_OK);
  EXPECT_EQ(length, 16) << "the length given stays";
  EXPECT_EQ(std::string(buffer, 6), "hello#");

  std::int32_t size = -1;
  EXPECT_EQ(cache->GetValueSize("k", &size), S_OK);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(cache->GetTime("k"), 42);
}

TEST_F(MemCacheTest, AbsentKeys) {
  std::int32_t length = 9;
  char buffer[4];
  EXPECT_EQ(cache->GetValue("none", buffer, &length), 1);
  EXPECT_EQ(cache->GetValue("none", nullptr, &length), 1);
  EXPECT_EQ(cache->GetValueSize("none", &length), 1);
  EXPECT_EQ(length, 9);
  EXPECT_EQ(cache->GetTime("none"), 0);
}

TEST_F(MemCacheTest, EmptyEntries) {
  ASSERT_EQ(cache->SetValue("empty", 1, "", 0), S_OK);
  ASSERT_EQ(cache->SetValue("null", 2, nullptr, 0), S_OK);
  for (const char* key : {"empty", "null"}) {
    std::int32_t size = -1;
    EXPECT_EQ(cache->GetValueSize(key, &size), S_OK);
    EXPECT_EQ(size, 0);
    char buffer[1] = {'#'};
    std::int32_t length = 0;
    EXPECT_EQ(cache->GetValue(key, buffer, &length), S_OK);
    EXPECT_EQ(buffer[0], '#');
  }
}

TEST_F(MemCacheTest, SecondSetReplacesDataAndTime) {
  ASSERT_EQ(cache->SetValue("k", 1, "a much longer first value", 25), S_OK);
  ASSERT_EQ(cache->SetValue("k", 2, "xy", 2), S_OK);
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "k", &value));
  EXPECT_EQ(value, (Bytes{'x', 'y'}));
  EXPECT_EQ(cache->GetTime("k"), 2);
  ASSERT_EQ(cache->SetValue("k", 3, "a much longer third value", 25), S_OK);
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "k", &value));
  EXPECT_EQ(value.size(), 25u);
}

TEST_F(MemCacheTest, ImpossibleDataIsRefusedAndLeavesTheEntry) {
  ASSERT_EQ(cache->SetValue("k", 5, "old", 3), S_OK);
  EXPECT_EQ(cache->SetValue("k", 6, "new", -1), 1);
  EXPECT_EQ(cache->SetValue("k", 6, nullptr, 3), 1);
  EXPECT_EQ(cache->SetValue(nullptr, 6, "new", 3), 1);
  Bytes value;
  ASSERT_TRUE(kqcp_test::ReadValue(cache.Get(), "k", &value));
  EXPECT_EQ(value, (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(cache->GetTime("k"), 5);
  std::int32_t length = 0;
  EXPECT_EQ(cache->GetValue(nullptr, nullptr, &length), 1);
  EXPECT_EQ(cache->GetValue("k", nullptr, nullptr), 1);
  EXPECT_EQ(cache->GetValueSize("k", nullptr), 1);
  EXPECT_EQ(cache->GetTime(nullptr), 0);
}

TEST_F(MemCacheTest, KeysAreExactByteStringsAndTimesKeepTheirFullRange) {
  const char* keys[] = {"key", "Key", "key ", "k\xC3\xA9y", "k\xFFy", ""};
  std::int32_t times[] = {INT32_MIN, -1, 0, 1, INT32_MAX, 77};
  for (int i = 0; i < 6; ++i) ASSERT_EQ(cache->SetValue(keys[i], times[i], &i, sizeof i), S_OK);
  for (int i = 0; i < 6; ++i) {
    int stored = -1;
    std::int32_t length = sizeof stored;
    ASSERT_EQ(cache->GetValue(keys[i], &stored, &length), S_OK);
    EXPECT_EQ(stored, i);
    EXPECT_EQ(cache->GetTime(keys[i]), times[i]);
  }
}

TEST_F(MemCacheTest, ThreadsShareOneCache) {
  constexpr int kThreads = 4, kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = "own" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        const std::int32_t value = t * kRounds + i;
        ASSERT_EQ(cache->SetValue(own.c_str(), value, &value, sizeof value), S_OK);
        ASSERT_EQ(cache->SetValue("shared", value, &value, sizeof value), S_OK);
        std::int32_t read = -1, length = sizeof read;
        ASSERT_EQ(cache->GetValue(own.c_str(), &read, &length), S_OK);
        ASSERT_EQ(read, value);
        std::int32_t expired = -1;
        ASSERT_EQ(cache->IsExpired("shared", INT32_MAX, 0, &expired), S_OK);
        ASSERT_EQ(expired, 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::int32_t shared = -1, length = sizeof shared;
  ASSERT_EQ(cache->GetValue("shared", &shared, &length), S_OK);
  EXPECT_EQ(cache->GetTime("shared"), shared) << "data and time are replaced together";
}

}  // namespace
}  // namespace Vantor::KQCP
