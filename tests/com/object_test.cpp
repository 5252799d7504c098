// The object templates: which identifiers each kind answers, whether a query adds a reference,
// destruction at the last release, and the module lock held by component objects.
#include "com/object.h"

#include <gtest/gtest.h>

#include "com/com_ptr.h"

namespace Vantor::KQCP::com {
namespace {

inline constexpr GUID kIidAlpha = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
inline constexpr GUID kIidBeta = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 12}};  // differs in last byte

struct IAlpha : IUnknown {
  static constexpr const GUID& kIid = kIidAlpha;
  virtual int Alpha() = 0;
};
struct IBeta : IUnknown {
  static constexpr const GUID& kIid = kIidBeta;
  virtual int Beta() = 0;
};

int g_destroyed = 0;

class Component : public RefCounted<ComponentObject, IAlpha, IBeta> {
 public:
  int Alpha() override { return 1; }
  int Beta() override { return 2; }
  ~Component() override {
    // A reference taken and dropped while dying must not destroy twice.
    AddRef();
    Release();
    ++g_destroyed;
  }
};

class Plain : public RefCounted<PlainObject, IAlpha, IBeta> {
 public:
  int Alpha() override { return 3; }
  int Beta() override { return 4; }
  ~Plain() override { ++g_destroyed; }
};

class Single : public SingletonObject<IAlpha> {
 public:
  int Alpha() override { return 5; }
};

TEST(ObjectTemplates, ComponentAnswersUnknownAndEachInterfaceWithAReference) {
  g_destroyed = 0;
  auto* object = MakeObject<Component>();
  ASSERT_NE(object, nullptr);
  void* out = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IUnknown*>(static_cast<IAlpha*>(object)));
  ASSERT_EQ(object->QueryInterface(kIidBeta, &out), S_OK);
  EXPECT_EQ(static_cast<IBeta*>(out)->Beta(), 2);
  EXPECT_EQ(object->ReferenceCount(), 3);
  EXPECT_EQ(object->QueryInterface(GUID{9, 9, 9, {}}, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(object->Release(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(g_destroyed, 1);
}

TEST(ObjectTemplates, PlainObjectRefusesUnknownAndAddsNoReference) {
  g_destroyed = 0;
  auto* object = MakeObject<Plain>();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(object->QueryInterface(kIidBeta, &out), S_OK);
  EXPECT_EQ(static_cast<IBeta*>(out)->Beta(), 4);
  EXPECT_EQ(object->ReferenceCount(), 1);
  // Both faces share one count.
  EXPECT_EQ(static_cast<IBeta*>(out)->AddRef(), 2u);
  EXPECT_EQ(static_cast<IAlpha*>(object)->Release(), 1u);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(g_destroyed, 1);
}

TEST(ObjectTemplates, SingletonCountsNothingAndRefusesUnknown) {
  static Single single;  // never destroyed through Release
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(single.AddRef(), 1u);
    EXPECT_EQ(single.Release(), 1u);
  }
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(single.QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(single.QueryInterface(kIidAlpha, &out), S_OK);
  EXPECT_EQ(out, static_cast<IAlpha*>(&single));
  EXPECT_EQ(single.QueryInterface(kIidAlpha, nullptr), E_POINTER);
}

TEST(ObjectTemplates, OnlyComponentObjectsHoldTheModule) {
  const auto before = TheModule().GetLockCount();
  auto* component = MakeObject<Component>();
  EXPECT_EQ(TheModule().GetLockCount(), before + 1);
  auto* plain = MakeObject<Plain>();
  EXPECT_EQ(TheModule().GetLockCount(), before + 1);
  component->Release();
  plain->Release();
  EXPECT_EQ(TheModule().GetLockCount(), before);
}

TEST(ComPtr, ReleasesWhatItHolds) {
  g_destroyed = 0;
  {
    auto held = ComPtr<IAlpha>::Adopt(MakeObject<Component>());
    ComPtr<IAlpha> copy = held;
    EXPECT_EQ(copy->Alpha(), 1);
    IAlpha* out = nullptr;
    copy.CopyTo(&out);
    out->Release();
  }
  EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
}  // namespace Vantor::KQCP::com
