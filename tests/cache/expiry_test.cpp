// The expiry test shared by both kinds of cache: stored time + maximum age < current time, in
// wrapping signed 32-bit arithmetic, with a missing key read as time 0.
#include <gtest/gtest.h>

#include <climits>

#include "cache_fixture.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

class ExpiryTest : public ::testing::TestWithParam<CacheKind> {
 protected:
  void SetUp() override {
    if (GetParam() == kCacheKindMemory) {
      cache = com::ComPtr<BaseCache>(kqcp_test::NewMemCache("expiry").Get());
    } else {
      cache = com::ComPtr<BaseCache>(kqcp_test::OpenDbCache(dir.path(), "expiry").Get());
    }
  }
  std::int32_t Expired(const char* key, std::int32_t now, std::int32_t maxAge) {
    std::int32_t expired = -1;
    EXPECT_EQ(cache->IsExpired(key, now, maxAge, &expired), S_OK);
    return expired;
  }

  kqcp_test::TempDir dir;
  com::ComPtr<BaseCache> cache;
};

TEST_P(ExpiryTest, StoredTimePlusAgeAgainstNow) {
  const char data[] = "v";
  ASSERT_EQ(cache->SetValue("t100", 100, data, 1), S_OK);
  ASSERT_EQ(cache->SetValue("max", INT32_MAX, data, 1), S_OK);
  ASSERT_EQ(cache->SetValue("min", INT32_MIN, data, 1), S_OK);
  struct Case {
    const char* key;
    std::int32_t now;
    std::int32_t maxAge;
    std::int32_t expired;
  };
  const Case cases[] = {
      {"t100", 110, 10, 0},
      {"t100", 111, 10, 1},
      {"t100", 50, -60, 1},
      {"missing", 6, 5, 1},  // read as time 0
      {"missing", 5, 5, 0},
      // INT32_MAX + 1 wraps to INT32_MIN, below any other time.
      {"max", INT32_MIN + 1, 1, 1},
      {"max", INT32_MAX, 0, 0},
      // INT32_MIN - 1 wraps to INT32_MAX, never below a time.
      {"min", INT32_MAX, -1, 0},
      {"min", INT32_MIN + 1, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Expired(c.key, c.now, c.maxAge), c.expired)
        << c.key << " now " << c.now << " age " << c.maxAge;
  }
}

TEST_P(ExpiryTest, RefusedWithoutAnOutValueOrAKey) {
  std::int32_t expired = -1;
  EXPECT_EQ(cache->IsExpired("k", 1, 1, nullptr), E_FAIL);
  EXPECT_EQ(cache->IsExpired(nullptr, 1, 1, &expired), E_FAIL);
  EXPECT_EQ(expired, -1);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, ExpiryTest,
                         ::testing::Values(kCacheKindMemory, kCacheKindDatabase),
                         [](const auto& info) {
                           return info.param == kCacheKindMemory ? "Memory" : "Database";
                         });

TEST(Expiry, UnnamedCacheRefuses) {
  auto cache = com::ComPtr<MemCache>::Adopt(com::MakeObject<MemCache>());
  std::int32_t expired = -1;
  EXPECT_EQ(cache->IsExpired("k", 1, 1, &expired), E_FAIL);
  EXPECT_EQ(expired, -1);
}

TEST(Expiry, ArithmeticWrapsLikeA32BitRegister) {
  static_assert(!ExpiredAt(100, 110, 10));
  static_assert(ExpiredAt(100, 111, 10));
  static_assert(ExpiredAt(INT32_MAX, 0, 1));
  static_assert(!ExpiredAt(INT32_MIN, 0, -1));
}

}  // namespace
}  // namespace Vantor::KQCP
