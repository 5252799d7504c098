// The cache manager: Init once, creation by name and kind, the two maps with the database
// cache preferred, removal, reference counts, and the platform's accessor.
#include "cache/cache_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "cache/db_cache.h"
#include "cache/mem_cache.h"
#include "com/module.h"
#include "core/singletons.h"
#include "kqcp/platform.h"
#include "os/utf.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

class CacheManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(manager, nullptr); }
  HRESULT Init() { return manager->Init(os::Utf8ToUtf16(dir.path()).c_str()); }

  kqcp_test::TempDir dir;
  CacheManager_* manager = CacheManagerHolder::Instance();
};

TEST_F(CacheManagerTest, EverythingWaitsForInit) {
  IKQCache* cache = reinterpret_cast<IKQCache*>(0x1234);
  EXPECT_EQ(manager->CreateCache(u"c", kCacheKindMemory), E_FAIL);
  EXPECT_EQ(manager->RemoveCache(u"c"), E_FAIL);
  EXPECT_EQ(manager->GetCache(u"c", &cache), E_FAIL);
  EXPECT_EQ(cache, reinterpret_cast<IKQCache*>(0x1234));
  EXPECT_EQ(manager->Init(nullptr), E_POINTER);
  EXPECT_EQ(manager->CreateCache(u"c", kCacheKindMemory), E_FAIL) << "a refused Init counts not";
}

TEST_F(CacheManagerTest, InitOnceAndTheFirstDirectoryStays) {
  kqcp_test::TempDir other;
  EXPECT_EQ(Init(), S_OK);
  EXPECT_EQ(manager->Init(os::Utf8ToUtf16(other.path()).c_str()), E_FAIL);
  ASSERT_EQ(manager->CreateCache(u"db", kCacheKindDatabase), S_OK);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("db")));
  EXPECT_FALSE(std::filesystem::exists(other.File("db")));
}

TEST_F(CacheManagerTest, BadNamesAndKindsAreRefused) {
  ASSERT_EQ(Init(), S_OK);
  struct Case {
    const char16_t* name;
    std::int32_t kind;
  };
  const Case cases[] = {{u"c", 2},
                        {u"c", -1},
                        {u"", kCacheKindMemory},
                        {u"", kCacheKindDatabase},
                        {nullptr, kCacheKindMemory}};
  for (const Case& c : cases) EXPECT_EQ(manager->CreateCache(c.name, c.kind), E_FAIL) << c.kind;
  IKQCache* cache = nullptr;
  EXPECT_EQ(manager->GetCache(u"c", &cache), S_FALSE);
  EXPECT_EQ(manager->GetCache(u"c", nullptr), E_POINTER);
}

// A database cache's name becomes a path below the directory and may not leave it; names with
// sub-folders inside it keep working.
TEST_F(CacheManagerTest, DatabaseNamesStayInsideTheDirectory) {
  ASSERT_EQ(Init(), S_OK);
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("sub")));
  struct Case {
    const char16_t* name;
    HRESULT result;
    const char* file;  // where the cache's file lands, relative to the directory
  };
  const Case cases[] = {
      {u"../escaped-cache", E_INVALIDARG, nullptr},
      {u"sub/../../escaped-cache", E_INVALIDARG, nullptr},
      {u"sub\\..\\..\\x", E_INVALIDARG, nullptr},
      {u"..", E_INVALIDARG, nullptr},
      {u"sub/..", E_INVALIDARG, nullptr},
      {u"/tmp/x", E_INVALIDARG, nullptr},
      {u"\\x", E_INVALIDARG, nullptr},
      {u"sub/inner", S_OK, "sub/inner"},
      {u"sub\\back", S_OK, "sub/back"},
      {u"..dots..", S_OK, "..dots.."},
      {u"./here", S_OK, "here"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(manager->CreateCache(c.name, kCacheKindDatabase), c.result);
    IKQCache* cache = nullptr;
    EXPECT_EQ(manager->GetCache(c.name, &cache), c.result == S_OK ? S_OK : S_FALSE);
    if (!cache) continue;
    EXPECT_EQ(cache->SetValue("k", 1, "v", 1), S_OK);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File(c.file)));
    cache->Release();
  }
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::path(dir.path()).parent_path() / "escaped-cache"));
  // Memory caches have no file: their names are free.
  EXPECT_EQ(manager->CreateCache(u"../x", kCacheKindMemory), S_OK);
}

TEST_F(CacheManagerTest, SameNameInBothMapsGivesTheDatabaseCache) {
  ASSERT_EQ(Init(), S_OK);
  const std::int32_t baseline = com::TheModule().GetLockCount();
  ASSERT_EQ(manager->CreateCache(u"both", kCacheKindMemory), S_OK);
  IKQCache* memory = nullptr;
  ASSERT_EQ(manager->GetCache(u"both", &memory), S_OK);
  ASSERT_NE(dynamic_cast<MemCache*>(memory), nullptr);

  ASSERT_EQ(manager->CreateCache(u"both", kCacheKindDatabase), S_OK);
  EXPECT_EQ(com::TheModule().GetLockCount(), baseline + 2) << "one object per cache";
  IKQCache* database = nullptr;
  ASSERT_EQ(manager->GetCache(u"both", &database), S_OK);
  ASSERT_NE(dynamic_cast<DBCache*>(database), nullptr);
  // The caller holds one reference on the database cache and none more on the memory cache.
  EXPECT_EQ(database->Release(), 1u);
  EXPECT_EQ(memory->AddRef(), 3u);
  EXPECT_EQ(memory->Release(), 2u);

  EXPECT_EQ(manager->RemoveCache(u"both"), S_OK);
  EXPECT_EQ(com::TheModule().GetLockCount(), baseline + 1) << "the caller's memory cache lives";
  EXPECT_EQ(memory->SetValue("k", 1, "v", 1), S_OK);
  EXPECT_EQ(memory->Release(), 0u);
  EXPECT_EQ(com::TheModule().GetLockCount(), baseline);

  IKQCache* untouched = reinterpret_cast<IKQCache*>(0x5678);
  EXPECT_EQ(manager->GetCache(u"both", &untouched), S_FALSE);
  EXPECT_EQ(untouched, reinterpret_cast<IKQCache*>(0x5678));
  EXPECT_EQ(manager->RemoveCache(u"both"), S_FALSE);
}

TEST_F(CacheManagerTest, SecondCreateKeepsTheFirstCache) {
  ASSERT_EQ(Init(), S_OK);
  for (std::int32_t kind : {kCacheKindMemory, kCacheKindDatabase}) {
    const std::u16string name = kind == kCacheKindMemory ? u"mem" : u"db";
    ASSERT_EQ(manager->CreateCache(name.c_str(), kind), S_OK);
    IKQCache* first = nullptr;
    ASSERT_EQ(manager->GetCache(name.c_str(), &first), S_OK);
    ASSERT_EQ(first->SetValue("k", 1, "v", 1), S_OK);
    EXPECT_EQ(manager->CreateCache(name.c_str(), kind), S_OK);
    IKQCache* second = nullptr;
    ASSERT_EQ(manager->GetCache(name.c_str(), &second), S_OK);
    EXPECT_EQ(first, second);
    first->Release();
    second->Release();
  }
}

TEST_F(CacheManagerTest, NamesAreCaseSensitive) {
  ASSERT_EQ(Init(), S_OK);
  ASSERT_EQ(manager->CreateCache(u"Name", kCacheKindMemory), S_OK);
  IKQCache* cache = nullptr;
  EXPECT_EQ(manager->GetCache(u"name", &cache), S_FALSE);
  EXPECT_EQ(manager->RemoveCache(u"NAME"), S_FALSE);
  EXPECT_EQ(manager->RemoveCache(u"Name"), S_OK);
}

TEST_F(CacheManagerTest, CachesAnswerTheirIdentifiersWithAReference) {
  ASSERT_EQ(Init(), S_OK);
  ASSERT_EQ(manager->CreateCache(u"q", kCacheKindMemory), S_OK);
  IKQCache* cache = nullptr;
  ASSERT_EQ(manager->GetCache(u"q", &cache), S_OK);
  void* out = nullptr;
  EXPECT_EQ(cache->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IUnknown*>(cache));
  EXPECT_EQ(cache->QueryInterface(IID_IKQCache, &out), S_OK);
  EXPECT_EQ(cache->QueryInterface(IID_IKQCacheManager, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(cache->Release(), 3u);
  EXPECT_EQ(cache->Release(), 2u);
  EXPECT_EQ(cache->Release(), 1u);
}

TEST_F(CacheManagerTest, ThreadsCreateUseAndRemoveCaches) {
  ASSERT_EQ(Init(), S_OK);
  const std::int32_t baseline = com::TheModule().GetLockCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const std::u16string name = u"c" + std::u16string(1, static_cast<char16_t>(u'0' + i % 3));
        const std::int32_t kind = (t + i) % 2;
        ASSERT_EQ(manager->CreateCache(name.c_str(), kind), S_OK);
        IKQCache* cache = nullptr;
        if (manager->GetCache(name.c_str(), &cache) == S_OK) {
          EXPECT_EQ(cache->SetValue("k", i, &i, sizeof i), S_OK);
          std::int32_t expired = -1;
          EXPECT_EQ(cache->IsExpired("k", 0, 0, &expired), S_OK);
          cache->Release();
        }
        if (i % 5 == 4) manager->RemoveCache(name.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const char16_t* name : {u"c0", u"c1", u"c2"}) manager->RemoveCache(name);
  EXPECT_EQ(com::TheModule().GetLockCount(), baseline);
}

TEST(CacheManagerSingleton, PlatformHandsOutTheOneManager) {
  IKQCommunityPlatform* platform = nullptr;
  ASSERT_EQ(GetKQCommunityPlatform(&platform), S_OK);
  IKQCacheManager* manager = nullptr;
  ASSERT_EQ(platform->GetCacheManager(&manager), S_OK);
  EXPECT_EQ(manager, static_cast<IKQCacheManager*>(CacheManagerHolder::Instance()));
  EXPECT_EQ(platform->GetCacheManager(nullptr), E_POINTER);
  EXPECT_EQ(manager->AddRef(), 1u);
  EXPECT_EQ(manager->Release(), 1u);
  void* out = nullptr;
  EXPECT_EQ(manager->QueryInterface(IID_IKQCacheManager, &out), S_OK);
  EXPECT_EQ(out, manager);
  EXPECT_EQ(manager->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
}  // namespace Vantor::KQCP
