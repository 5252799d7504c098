// The bridge end to end: a real service and local client here, two remote clients in a private
// mount namespace (another "machine" that sees none of this one's named objects), nats-server
// and both bridges as real processes; then the link broken every way it can break.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "bridge_fixture.h"
#include "share/session_fixture.h"
#include "support/temp_dir.h"
#include "support/time_scale.h"

namespace {

using namespace kqcp_bridge_test;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 15000;

// Everything of one test: server, the other machine, the real service, both bridges, a local
// client and two remote ones.
class BridgeTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<OtherMachine>();
    if (machine_->Pid() <= 0) {
      GTEST_SKIP() << "no private mount namespace can be made here (needs root and unshare -m); "
                      "the bridge tests need a second machine";
    }
    nats_ = std::make_unique<NatsServer>();
    platform_ = kqcp_test::PlatformName();
    service_ = std::make_unique<Peer>("BridgeService", std::vector<std::string>{platform_});
    ASSERT_EQ(service_->Line(kWaitMs), "ready");
    StartExport();
    StartImport();
    local_ = std::make_unique<Peer>("Client", std::vector<std::string>{platform_, "local"});
    ASSERT_EQ(local_->Line(kWaitMs), "ready");
    for (const char* name : {"alpha", "beta"}) {
      remote_.push_back(std::make_unique<Peer>("Client", std::vector<std::string>{platform_, name},
                                               machine_->Pid()));
      ASSERT_EQ(remote_.back()->LineStartingWith("ready", kWaitMs), "ready") << Errors();
    }
  }

  void StartExport() {
    export_ = std::make_unique<Bridge>(
        std::vector<std::string>{"export", platform_, "--nats", nats_->Url()});
  }
  void StartImport() {
    import_ = std::make_unique<Bridge>(
        std::vector<std::string>{"import", platform_, "--nats", nats_->Url()}, machine_->Pid());
    ASSERT_TRUE(import_->WaitForError("taken", kWaitMs)) << Errors();
  }
  std::string Errors() const {
    return "export:\n" + (export_ ? export_->Errors() : "") + "import:\n" +
           (import_ ? import_->Errors() : "");
  }

  // Milliseconds until the remote client finds no service (its data cannot be locked).
  long MillisUntilGone(Peer& client) {
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(10)) {
      client.Command("readdata");
      if (client.LineStartingWith("data ", 2000) == "data locked-failed") {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  // Milliseconds until a round trip of the remote client works again.
  long MillisUntilBack(Peer& client) {
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(15)) {
      if (client.RoundTrip(16, 1000)) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      }
    }
    return -1;
  }

  // No reply arrives that nobody waits for (none twice, none to the wrong client).
  void ExpectNoStrayReplies() {
    for (auto& client : remote_) EXPECT_EQ(client->LineStartingWith("response ", 300), "");
  }

  std::unique_ptr<OtherMachine> machine_;
  std::unique_ptr<NatsServer> nats_;
  std::string platform_;
  std::unique_ptr<Peer> service_, local_;
  std::unique_ptr<Bridge> export_, import_;
  std::vector<std::unique_ptr<Peer>> remote_;
};

TEST_F(BridgeTest, RemoteAndLocalClientsShareOneService) {
  // Byte for byte, up to the largest operation a receiver takes (65528 data bytes).
  for (const int size : {0, 1, 4096, 65528}) {
    for (auto& client : remote_) EXPECT_TRUE(client->RoundTrip(size, kWaitMs)) << size;
    EXPECT_TRUE(local_->RoundTrip(size, kWaitMs)) << size;
  }
  ExpectNoStrayReplies();

  service_->Command("broadcast 7 8 9");
  for (auto& client : remote_)
    EXPECT_EQ(client->LineStartingWith("message", kWaitMs), "message 0 7 8 9");
  EXPECT_EQ(local_->LineStartingWith("message", kWaitMs), "message 0 7 8 9");
  service_->Command("tell beta 1 2 3");
  EXPECT_EQ(remote_[1]->LineStartingWith("message", kWaitMs), "message 0 1 2 3");
  EXPECT_EQ(remote_[0]->LineStartingWith("message", 500), "");

  // Shared data follows within a few beats.
  service_->Command("setdata mirrored");
  unsigned sum = 0;
  for (const char c : std::string("mirrored")) sum += static_cast<unsigned char>(c);
  const std::string expected = "data 8 " + std::to_string(sum);
  std::string seen;
  for (int i = 0; i < 50 && seen != expected; ++i) {
    remote_[0]->Command("readdata");
    seen = remote_[0]->LineStartingWith("data ", kWaitMs);
    if (seen != expected) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(seen, expected);
}

// Each way the link breaks: what breaks it, and what mends it.
struct Fault {
  const char* name;
  void (*breakIt)(BridgeTest*);
  void (*mendIt)(BridgeTest*);
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class BridgeFaultTest : public BridgeTest, public testing::WithParamInterface<Fault> {
 public:
  NatsServer& Nats() { return *nats_; }
  Bridge& Export() { return *export_; }
  Bridge& Import() { return *import_; }
  void NewService() {
    service_ = std::make_unique<Peer>("BridgeService", std::vector<std::string>{platform_});
    ASSERT_EQ(service_->Line(kWaitMs), "ready");
  }
  void KillService() { service_->Process().Kill(); }
  void RestartExport() { StartExport(); }
  void RestartImport() { StartImport(); }
};

TEST_P(BridgeFaultTest, ClientsSeeTheServiceGoneAndComeBack) {
  for (auto& client : remote_) ASSERT_TRUE(client->RoundTrip(8, kWaitMs)) << Errors();
  GetParam().breakIt(this);
  for (auto& client : remote_) {
    const long gone = MillisUntilGone(*client);
    EXPECT_GE(gone, 0) << Errors();
    EXPECT_LE(gone, 2000 * kqcp_test::kTimeScale) << Errors();
  }
  GetParam().mendIt(this);
  for (auto& client : remote_) {
    const long back = MillisUntilBack(*client);
    EXPECT_GE(back, 0) << Errors();
    EXPECT_LE(back, 5000 * kqcp_test::kTimeScale) << Errors();
  }
  for (auto& client : remote_) EXPECT_TRUE(client->RoundTrip(100, kWaitMs));
  ExpectNoStrayReplies();
}

const Fault kFaults[] = {
    {"NatsKilled", [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->Nats().Stop(); },
     [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->Nats().Start(); }},
    {"ExportKilled", [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->Export().Kill(); },
     [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->RestartExport(); }},
    {"ServiceReplaced", [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->KillService(); },
     [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->NewService(); }},
    {"ImportKilled", [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->Import().Kill(); },
     [](BridgeTest* t) { static_cast<BridgeFaultTest*>(t)->RestartImport(); }},
};

INSTANTIATE_TEST_SUITE_P(Faults, BridgeFaultTest, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// Refusals an operator must see: a configuration file others can read, wrong credentials.
TEST(BridgeRefusals, RefusedWithAClearLineAndStatus) {
  NatsServer nats({"--user", "bridge", "--pass", "right"});
  const std::string config = "/tmp/kqcp-bridge-test-" + kqcp_test::UniqueName("conf");
  std::ofstream(config) << "nats = " << nats.Url() << "\nuser = bridge\npassword = wrong\n";
  struct Case {
    mode_t mode;
    int status;
    const char* says;
  };
  for (const Case& c :
       {Case{0644, 2, "others may read or change it"}, Case{0600, 3, "Authorization"}}) {
    chmod(config.c_str(), c.mode);
    Bridge bridge({"import", "refused", "--config", config});
    EXPECT_EQ(bridge.Wait(kWaitMs), c.status) << bridge.Errors();
    EXPECT_NE(bridge.Errors().find(c.says), std::string::npos) << bridge.Errors();
  }
  unlink(config.c_str());
}

}  // namespace
