// Share sessions between real processes: the service is this test process, clients are
// child processes driven through pipes (or the other way round where the service must die).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "com/com_ptr.h"
#include "os/process.h"
#include "session_fixture.h"
#include "share/platform_proxy_map.h"
#include "share/service_share_session.h"
#include "share/share_session_manager.h"
#include "share/wire/object_names.h"
#include "support/child_process.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::ChildProcess;
using kqcp_test::RecordingListener;
using kqcp_test::Signal;

// A client process under an own name.
class Client {
 public:
  Client(const std::string& platform, const std::string& name)
      : process_("Client", {platform, name, out_.WriteFdArg(), in_.ReadFdArg()}) {}
  std::string Line(int timeoutMs = 30000) { return out_.ReadLine(timeoutMs); }
  void Command(const std::string& line) { in_.Write(line); }
  ChildProcess& Process() { return process_; }
  int Exit() {
    Command("exit");
    return process_.Wait();
  }

 private:
  Signal out_, in_;
  ChildProcess process_;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_ = kqcp_test::PlatformName();
    manager_ = ShareSessionManagerHolder::Instance();
    ASSERT_EQ(manager_->Start(platform_.c_str(), kShareModeService, nullptr), S_OK);
    ASSERT_EQ(manager_->CreateServiceSession("S", 0), S_OK);
    ASSERT_EQ(manager_->GetServiceSession("S", 0, session_.Put()), S_OK);
  }
  // Entries of the platform proxy map, read as the service does.
  std::vector<PlatformProxyMap::Entry> ProxyEntries() {
    ShareMapMemory map;
    EXPECT_TRUE(map.Open(wire::ProxyMapName(platform_)));
    return PlatformProxyMap::ReadAll(map);
  }

  std::string platform_;
  ShareSessionManager_* manager_ = nullptr;
  com::ComPtr<IShareSessionService> session_;
};

TEST_F(ServiceTest, TypicalRequestAndReplyReachOnlyTheRequester) {
  auto listener = com::ComPtr<RecordingListener>::Adopt(
      com::MakeObject<RecordingListener>([&](IShareSessionOperation* request) {
        com::ComPtr<IShareSessionOperation> reply;
        ASSERT_EQ(session_->CreateReply(request, reply.Put()), S_OK);
        reply->SetName("answer");
        reply->AllocBuffer(3);
        std::uint8_t* data = nullptr;
        reply->GetBuffer(&data, nullptr);
        data[0] = 7, data[1] = 8, data[2] = 9;
        EXPECT_EQ(session_->PostOperation(reply.Get()), S_OK);
      }));
  ASSERT_EQ(session_->AddOperationListener(listener.Get()), S_OK);
  EXPECT_EQ(session_->AddOperationListener(listener.Get()), S_FALSE);

  Client alpha(platform_, "alpha"), beta(platform_, "beta");
  ASSERT_EQ(alpha.Line(), "ready");
  ASSERT_EQ(beta.Line(), "ready");
  alpha.Command("request ask 5");
  const std::string posted = alpha.Line();
  ASSERT_EQ(posted.rfind("posted ", 0), 0u) << posted;
  const std::string id = posted.substr(7, posted.find(' ', 7) - 7);

  ASSERT_TRUE(listener->WaitFor(1));
  const auto request = listener->Received()[0];
  EXPECT_EQ(request.kind, 0);
  EXPECT_EQ(std::to_string(request.id), id);
  EXPECT_EQ(request.name, "ask");
  EXPECT_EQ(request.session, "S");
  EXPECT_EQ(request.target, "");
  EXPECT_EQ(request.sender, "alpha");
  EXPECT_EQ(request.data, (std::vector<std::uint8_t>{0, 1, 2, 3, 4}));

  EXPECT_EQ(alpha.Line(), "response " + id + " answer 3 24");
  // beta asks too and sees only its own reply.
  beta.Command("request ask 1");
  const std::string betaPosted = beta.Line();
  const std::string betaId = betaPosted.substr(7, betaPosted.find(' ', 7) - 7);
  EXPECT_EQ(beta.Line(), "response " + betaId + " answer 3 24");
  EXPECT_EQ(alpha.Exit(), 0);
  EXPECT_EQ(beta.Exit(), 0);
}

TEST_F(ServiceTest, BroadcastSkipsAKilledClientAndPrunesItsEntry) {
  Client alive(platform_, "alive"), doomed(platform_, "doomed");
  ASSERT_EQ(alive.Line(), "ready");
  ASSERT_EQ(doomed.Line(), "ready");
  EXPECT_EQ(ProxyEntries().size(), 2u);
  doomed.Process().Kill();
  EXPECT_EQ(session_->PostMessage(nullptr, 1, 2, 3), S_OK);
  EXPECT_EQ(alive.Line(), "message 0 1 2 3");
  // The broadcast removed the entry of the process that is gone.
  std::vector<PlatformProxyMap::Entry> entries;
  for (int i = 0; i < 200 && (entries = ProxyEntries()).size() != 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "alive");
  // A targeted message reaches its client.
  session_->PostMessage("alive", -4, 5, 6);
  EXPECT_EQ(alive.Line(), "message 0 -4 5 6");
  EXPECT_EQ(alive.Exit(), 0);
}

TEST_F(ServiceTest, ClientRestartingUnderItsNameTakesOverItsEntry) {
  {
    Client first(platform_, "phoenix");
    ASSERT_EQ(first.Line(), "ready");
    first.Process().Kill();
  }
  Client second(platform_, "phoenix");
  ASSERT_EQ(second.Line(), "ready");
  auto entries = ProxyEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].processId, static_cast<std::uint32_t>(second.Process().Pid()));
  // While it lives, its name is refused to anyone else.
  Client impostor(platform_, "phoenix");
  EXPECT_EQ(impostor.Line(), "start-failed");
  EXPECT_EQ(ProxyEntries().size(), 1u);
  EXPECT_EQ(second.Exit(), 0);
}

TEST_F(ServiceTest, SharedDataKeepsOrRecreatesTheMapAndClientsReadIt) {
  EXPECT_EQ(SessionDataCapacity(262145), 266240u);
  Client reader(platform_, "reader");
  ASSERT_EQ(reader.Line(), "ready");
  for (std::uint32_t size : {262144u, 262145u, 0u, 10u}) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> data(size, 1);
    ASSERT_EQ(session_->SetSharedData(data.data(), static_cast<std::int32_t>(size)), S_OK);
    ShareMapMemory view;
    ASSERT_TRUE(view.Open(wire::SessionDataMapName(platform_, "S")));
    // The first map holds up to 262144 bytes; once re-created it stays large.
    EXPECT_EQ(view.GetCapacity(), size == 262144u ? 262144u : 266240u);
    view.Close();
    reader.Command("readdata");
    EXPECT_EQ(reader.Line(), "data " + std::to_string(size) + " " + std::to_string(size));
  }
  EXPECT_EQ(session_->SetSharedData("x", -1), E_INVALIDARG);
  EXPECT_EQ(reader.Exit(), 0);
}

TEST_F(ServiceTest, OversizedPayloadsAndUnknownKindsReachNoListener) {
  auto listener = com::ComPtr<RecordingListener>::Adopt(com::MakeObject<RecordingListener>());
  session_->AddOperationListener(listener.Get());
  Client sender(platform_, "sender");
  ASSERT_EQ(sender.Line(), "ready");
  for (const char* command : {"request fits 65528", "request toolarge 65529", "request kindtwo 4 2",
                              "request nobuffer 0", "request end 1"}) {
    sender.Command(command);
    ASSERT_EQ(sender.Line().rfind("posted ", 0), 0u);
  }
  ASSERT_TRUE(listener->WaitFor(3));
  auto received = listener->Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].name, "fits");
  EXPECT_EQ(received[0].data.size(), 65528u);
  EXPECT_EQ(received[1].name, "nobuffer");
  EXPECT_TRUE(received[1].hasBuffer);
  EXPECT_TRUE(received[1].data.empty());
  EXPECT_EQ(received[2].name, "end");
  EXPECT_EQ(sender.Exit(), 0);
}

TEST_F(ServiceTest, BurstsFromThreeClientsArriveCompleteAndInOrder) {
  constexpr int kPerClient = 10000;
  auto listener = com::ComPtr<RecordingListener>::Adopt(com::MakeObject<RecordingListener>());
  session_->AddOperationListener(listener.Get());
  std::vector<std::unique_ptr<Client>> clients;
  for (const char* name : {"c1", "c2", "c3"}) {
    clients.push_back(std::make_unique<Client>(platform_, name));
    ASSERT_EQ(clients.back()->Line(), "ready");
  }
  for (auto& client : clients) client->Command("burst " + std::to_string(kPerClient));
  ASSERT_TRUE(listener->WaitFor(3 * kPerClient, 120000)) << listener->Received().size();
  std::map<std::string, std::int32_t> next;
  for (const auto& op : listener->Received()) {
    std::int32_t sequence = -1;
    ASSERT_EQ(op.data.size(), 4u);
    std::memcpy(&sequence, op.data.data(), 4);
    EXPECT_EQ(sequence, next[op.sender]++) << op.sender;
  }
  for (const char* name : {"c1", "c2", "c3"}) EXPECT_EQ(next[name], kPerClient);
  for (auto& client : clients) {
    EXPECT_EQ(client->Line(), "burst-posted");
    EXPECT_EQ(client->Exit(), 0);
  }
}

TEST_F(ServiceTest, StopEndsTheThreadWithinTheTimeout) {
  EXPECT_EQ(manager_->Stop(), S_OK);
  EXPECT_EQ(manager_->WaitForStop(5000), S_OK);
  EXPECT_EQ(manager_->Stop(), E_FAIL);
}

TEST(ShareSessionManager, StartRules) {
  auto* manager = ShareSessionManagerHolder::Instance();
  char name[16];
  EXPECT_EQ(manager->GetOwnName(name, sizeof name), E_FAIL);
  EXPECT_EQ(manager->Stop(), E_FAIL);
  EXPECT_EQ(manager->WaitForStop(0), E_FAIL);
  // A client needs a service to join and an own name of two characters or more.
  const std::string platform = kqcp_test::PlatformName();
  EXPECT_EQ(manager->Start(platform.c_str(), kShareModeClient, "ab"), E_FAIL);
  EXPECT_EQ(manager->Start(platform.c_str(), kShareModeService, nullptr), E_FAIL);  // once only
  std::int32_t mode = -1;
  EXPECT_EQ(manager->GetMode(&mode), S_OK);
  EXPECT_EQ(mode, kShareModeClient);
}

TEST(ShareSessionManager, OneCharacterOwnNameAndUnknownModesAreRefused) {
  auto* manager = ShareSessionManagerHolder::Instance();
  EXPECT_EQ(manager->Start(kqcp_test::PlatformName().c_str(), 7, "abc"), E_INVALIDARG);
  EXPECT_EQ(manager->Start(kqcp_test::PlatformName().c_str(), kShareModeClient, "a"), E_FAIL);
}

TEST(ShareSessionManager, InactiveModeRefusesSessions) {
  auto* manager = ShareSessionManagerHolder::Instance();
  ASSERT_EQ(manager->Start(kqcp_test::PlatformName().c_str(), kShareModeInactive, nullptr), S_OK);
  EXPECT_EQ(manager->CreateServiceSession("S", 0), E_FAIL);
  com::ComPtr<IShareSessionProxy> proxy;
  EXPECT_EQ(manager->GetProxySession("S", 0, proxy.Put()), E_FAIL);
  EXPECT_EQ(manager->Stop(), S_OK);
  EXPECT_EQ(manager->WaitForStop(0), S_OK);
}

TEST_F(ServiceTest, NameBuffersAndSessionLookup) {
  char buffer[64];
  const auto length = static_cast<std::uint32_t>(platform_.size());
  EXPECT_EQ(manager_->GetPlatformName(buffer, length), E_OUTOFMEMORY);
  EXPECT_EQ(manager_->GetPlatformName(buffer, length + 1), S_OK);
  EXPECT_EQ(platform_, buffer);
  EXPECT_EQ(manager_->GetOwnName(buffer, 1), S_OK);  // the service has no own name
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(session_->GetSessionName(buffer, 1), E_OUTOFMEMORY);
  EXPECT_EQ(session_->GetSessionName(buffer, 2), S_OK);
  EXPECT_EQ(manager_->CreateServiceSession("S", 0), E_FAIL);  // exists under this platform
  com::ComPtr<IShareSessionService> missing;
  EXPECT_EQ(manager_->GetServiceSession("T", 0, missing.Put()), E_FAIL);
}

TEST(ClientSide, OwnNameBoundsAndMissingSession) {
  // The service runs in a child; this process is a client.
  const std::string platform = kqcp_test::PlatformName();
  Signal ready;
  ChildProcess service("Service", {platform, ready.WriteFdArg()});
  ASSERT_EQ(ready.ReadLine(), "ready");
  auto* manager = ShareSessionManagerHolder::Instance();
  ASSERT_EQ(manager->Start(platform.c_str(), kShareModeClient, "watcher"), S_OK);
  char buffer[16];
  EXPECT_EQ(manager->GetOwnName(buffer, 7), E_OUTOFMEMORY);
  EXPECT_EQ(manager->GetOwnName(buffer, 8), S_OK);
  EXPECT_STREQ(buffer, "watcher");
  com::ComPtr<IShareSessionProxy> missing, first, second;
  EXPECT_EQ(manager->GetProxySession("nope", 0, missing.Put()), E_FAIL);
  ASSERT_EQ(manager->GetProxySession("S", 0, first.Put()), S_OK);
  ASSERT_EQ(manager->GetProxySession("S", 0, second.Put()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
}

TEST(ClientSide, KilledServiceLeavesLockDataFailingCleanly) {
  const std::string platform = kqcp_test::PlatformName();
  Signal ready;
  ChildProcess service("Service", {platform, ready.WriteFdArg()});
  ASSERT_EQ(ready.ReadLine(), "ready");
  auto* manager = ShareSessionManagerHolder::Instance();
  ASSERT_EQ(manager->Start(platform.c_str(), kShareModeClient, "survivor"), S_OK);
  com::ComPtr<IShareSessionProxy> proxy;
  ASSERT_EQ(manager->GetProxySession("S", 0, proxy.Put()), S_OK);
  ASSERT_EQ(proxy->LockData(), S_OK);
  std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
  proxy->GetSharedData(&data, &size);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "abc");
  proxy->UnlockData();

  service.Kill();
  EXPECT_EQ(proxy->LockData(), E_FAIL);
  EXPECT_EQ(proxy->LockData(), E_FAIL);  // the mutex was released again
  // Requests to the dead service are dropped; the client keeps working.
  com::ComPtr<IShareSessionOperation> operation;
  ASSERT_EQ(proxy->CreateOperation(operation.Put()), S_OK);
  EXPECT_EQ(proxy->PostOperation(operation.Get()), S_OK);
  EXPECT_EQ(manager->Stop(), S_OK);
  EXPECT_EQ(manager->WaitForStop(5000), S_OK);
}

}  // namespace
}  // namespace Vantor::KQCP
