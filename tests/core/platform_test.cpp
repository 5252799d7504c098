// The platform object: one object for racing callers, the singleton QueryInterface rules, Init
// once (also when threads race), the host's two lookups in order, reserved slots. Every test runs
// in a fresh process.
#include "core/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "com/module.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"
#include "kqcp/platform.h"
#include "kqcp/xml.h"
#include "support/child_process.h"
#include "support/platform.h"
#include "workshop/test_cmd.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Platform;

struct IHostThing : IUnknown {
  static constexpr const GUID& kIid = IID_IPlatformHostObject;
};

class HostThing : public com::RefCounted<com::ComponentObject, IHostThing> {};

// Records the identifiers asked for, answers the host-object lookup only.
class RecordingHost : public com::RefCounted<com::ComponentObject, IPlatformHost> {
 public:
  HRESULT QueryHostInterface(REFIID iid, void** out) override {
    // An Init from inside Init's own lookups is a second Init as well.
    if (asked.empty()) nestedInit = Platform()->Init(nullptr);
    asked.push_back(iid);
    if (iid == IID_IPlatformHostObject) {
      *out = static_cast<IHostThing*>(thing);
      thing->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  std::vector<GUID> asked;
  HRESULT nestedInit = S_OK;
  HostThing* thing = com::MakeObject<HostThing>();
  ~RecordingHost() override { thing->Release(); }
};

TEST(Platform, RacingCallersGetOneObject) {
  std::vector<std::thread> threads;
  std::vector<IKQCommunityPlatform*> seen(8);
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = Platform(); });
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(p, seen[0]);
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(GetKQCommunityPlatform(nullptr), E_POINTER);
}

TEST(Platform, QueryInterfaceAnswersOnlyItsOwnIdentifier) {
  auto* platform = Platform();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(platform->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(platform->QueryInterface(IID_IKQCommunityPlatform, &out), S_OK);
  EXPECT_EQ(out, platform);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(platform->AddRef(), 1u);
    EXPECT_EQ(platform->Release(), 1u);
  }
  EXPECT_EQ(Platform(), platform);
}

TEST(Platform, InitTwiceFailsTheSecondTime) {
  auto* platform = Platform();
  EXPECT_EQ(platform->Init(nullptr), S_OK);
  EXPECT_EQ(platform->Init(nullptr), E_FAIL);
}

// Threads that race their Init from a common start; the exit code is the number that
// succeeded, or 100 when the winner's workshop is not the one every thread sees afterwards.
KQCP_CHILD(race_init) {
  constexpr int kThreads = 4;
  IKQCommunityPlatform* platform = Platform();
  std::atomic<int> ready{0}, succeeded{0};
  std::vector<std::thread> threads;
  std::vector<IWorkshop*> seen(kThreads, nullptr);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kThreads) {
      }
      if (platform->Init(nullptr) == S_OK) ++succeeded;
      // Whoever lost sees what the winner made.
      com::ComPtr<IWorkshop> workshop;
      if (platform->GetWorkshop(workshop.Put()) == S_OK) seen[i] = workshop.Get();
    });
  }
  for (std::thread& t : threads) t.join();
  for (IWorkshop* workshop : seen) {
    if (!workshop || workshop != seen[0]) return 100;
  }
  return succeeded.load();
}

TEST(Platform, RacingInitsLetExactlyOneSucceed) {
  // Each race needs a fresh process, since a process initialises once.
  for (int run = 0; run < 20; ++run) {
    kqcp_test::ChildProcess child("race_init");
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 1) << "run " << run;
  }
}

TEST(Platform, NullHostLeavesNoHostObject) {
  auto* platform = Platform();
  ASSERT_EQ(platform->Init(nullptr), S_OK);
  IUnknown* object = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(platform->GetHostObject(&object), E_FAIL);
  EXPECT_EQ(object, reinterpret_cast<IUnknown*>(1));
}

TEST(Platform, HostLookupsArriveInOrderAndTheHostObjectIsHandedOut) {
  auto* platform = Platform();
  auto* host = com::MakeObject<RecordingHost>();
  ASSERT_EQ(platform->Init(host), S_OK);
  ASSERT_EQ(host->asked.size(), 2u);
  EXPECT_EQ(host->asked[0], IID_IAsynIoHost);
  EXPECT_EQ(host->asked[1], IID_IPlatformHostObject);
  EXPECT_EQ(host->nestedInit, E_FAIL);
  IUnknown* object = nullptr;
  ASSERT_EQ(platform->GetHostObject(&object), S_OK);
  EXPECT_EQ(object, static_cast<IHostThing*>(host->thing));
  // The platform's reference, the caller's and the host's own.
  EXPECT_EQ(host->thing->ReferenceCount(), 3);
  object->Release();
  // A second Init asks the host nothing.
  EXPECT_EQ(platform->Init(host), E_FAIL);
  EXPECT_EQ(host->asked.size(), 2u);
  host->Release();
}

TEST(Platform, ReservedSlotsAlwaysFail) {
  auto* platform = Platform();
  int dummy = 0;
  EXPECT_EQ(platform->Reserved1(&dummy), E_FAIL);
  EXPECT_EQ(platform->Reserved2(nullptr), E_FAIL);
  EXPECT_EQ(platform->Reserved3(&dummy), E_FAIL);
}

TEST(Platform, GetWorkshopBeforeInitFails) {
  IWorkshop* workshop = reinterpret_cast<IWorkshop*>(1);
  EXPECT_EQ(Platform()->GetWorkshop(&workshop), E_FAIL);
  EXPECT_EQ(workshop, reinterpret_cast<IWorkshop*>(1));
}

TEST(Platform, InitStartsAWorkingWorkshopEvenWithoutAHost) {
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  auto* platform = Platform();
  ASSERT_EQ(platform->Init(nullptr), S_OK);
  com::ComPtr<IWorkshop> workshop;
  ASSERT_EQ(platform->GetWorkshop(workshop.Put()), S_OK);
  std::int32_t state = -1;
  EXPECT_EQ(workshop->GetState(&state), S_OK);
  EXPECT_EQ(state, 2);

  auto journal = std::make_shared<kqcp_test::Journal>();
  auto command = kqcp_test::Make<kqcp_test::TestCmd>(journal, 1, u"key", 0, std::vector{5});
  ASSERT_EQ(workshop->PostCmd(command.Get()), S_OK);
  EXPECT_TRUE(journal->WaitFor(1, kqcp_test::Happened::kExecute));
  command.Reset();
  workshop.Reset();
  // The platform keeps its workshop, and with it the library, for good.
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
}

TEST(Platform, InitTwiceCreatesNoSecondWorkshop) {
  auto* platform = Platform();
  ASSERT_EQ(platform->Init(nullptr), S_OK);
  com::ComPtr<IWorkshop> first, second;
  ASSERT_EQ(platform->GetWorkshop(first.Put()), S_OK);
  const std::int32_t locks = com::TheModule().GetLockCount();
  EXPECT_EQ(platform->Init(nullptr), E_FAIL);
  ASSERT_EQ(platform->GetWorkshop(second.Put()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(com::TheModule().GetLockCount(), locks);
}

TEST(Platform, CreateObjectRefusesUnknownNames) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(Platform()->CreateObject(u"ixmlpackage", 0, &object), E_FAIL);
  EXPECT_EQ(Platform()->CreateObject(u"", 0, &object), E_FAIL);
  EXPECT_EQ(object, reinterpret_cast<void*>(1));
}

TEST(Platform, CreateObjectMakesTheXmlObjectsByName) {
  auto* platform = Platform();
  void* element = nullptr;
  void* package = nullptr;
  void* parser = nullptr;
  ASSERT_EQ(platform->CreateObject(u"IKQXmlElement", 0, &element), S_OK);
  ASSERT_EQ(platform->CreateObject(u"IXMLPackage", 7, &package), S_OK);
  ASSERT_EQ(platform->CreateObject(u"IXMLPackageParser", 0, &parser), S_OK);
  ASSERT_TRUE(element && package && parser);
  // Each is stored as the interface it was named by, with one reference for the caller.
  auto* xmlElement = static_cast<IKQXmlElement*>(element);
  auto* xmlPackage = static_cast<IXMLPackage*>(package);
  auto* xmlParser = static_cast<IXMLPackageParser*>(parser);
  void* same = nullptr;
  EXPECT_EQ(xmlElement->QueryInterface(IID_IKQXmlElement, &same), S_OK);
  EXPECT_EQ(same, element);
  EXPECT_EQ(xmlPackage->QueryInterface(IID_IXMLPackage, &same), S_OK);
  EXPECT_EQ(same, package);
  EXPECT_EQ(xmlParser->QueryInterface(IID_IXMLPackageParser, &same), S_OK);
  EXPECT_EQ(same, parser);

  // A message goes from element to bytes and back.
  ASSERT_EQ(xmlElement->Create("msg", nullptr), kXmlOk);
  ASSERT_EQ(xmlElement->SetAttributeInt("id", 7), kXmlOk);
  ASSERT_EQ(xmlPackage->SetElement(xmlElement), kXmlOk);
  char bytes[64];
  std::int32_t length = 0;
  ASSERT_EQ(xmlPackage->GetData(bytes, sizeof bytes, &length), kXmlOk);
  EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(length)), "<msg id='7'  />\r\n\r\n");
  ASSERT_EQ(xmlParser->Parse(bytes, length), S_OK);
  std::int32_t complete = 0;
  EXPECT_EQ(xmlParser->IsComplete(&complete), S_OK);
  EXPECT_EQ(complete, 1);

  EXPECT_EQ(xmlElement->Release(), 1u);  // the package still holds it
  EXPECT_EQ(xmlPackage->Release(), 0u);
  EXPECT_EQ(xmlParser->Release(), 0u);
}

}  // namespace
}  // namespace Vantor::KQCP
