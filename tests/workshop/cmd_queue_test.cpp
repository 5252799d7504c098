// The command queue on its own: turns within a key, one key per PopKeyed, rotation of unkeyed
// commands, the tick, references, forgotten idle keys, and command calls outside the locks.
#include "workshop/cmd_queue.h"

#include <gtest/gtest.h>

#include <future>
#include <set>

#include "workshop/test_cmd.h"

namespace kqcp_test {
namespace {

using CmdPtr = com::ComPtr<TestCmd>;

class CmdQueueTest : public ::testing::Test {
 protected:
  CmdPtr Keyed(int id, std::u16string key, std::int32_t state = 1) {
    return Make<TestCmd>(journal, id, std::move(key), state);
  }
  CmdPtr Unkeyed(int id, std::int32_t state = 1) {
    return Make<TestCmd>(journal, id, std::nullopt, state);
  }
  // Pops and hands back the id, keeping the popped reference with the test.
  int PopKeyedId(std::u16string* key = nullptr) { return Id(queue.PopKeyed(key)); }
  int PopUnkeyedId() { return Id(queue.PopUnkeyed()); }

  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  CmdQueue queue;

 private:
  int Id(ICmd* command) {
    if (!command) return 0;
    int id = static_cast<TestCmd*>(command)->Id();
    popped_.push_back(com::ComPtr<ICmd>::Adopt(command));
    return id;
  }
  std::vector<com::ComPtr<ICmd>> popped_;
};

class KeyedTurns : public CmdQueueTest, public ::testing::WithParamInterface<std::u16string> {};

// The empty string is a key like any other.
INSTANTIATE_TEST_SUITE_P(Keys, KeyedTurns, ::testing::Values(u"alpha", u""));

TEST_P(KeyedTurns, TheHeadKeepsItsKeyUntilItFinishes) {
  const std::u16string key = GetParam();
  CmdPtr a = Keyed(1, key), b = Keyed(2, key), c = Keyed(3, key);
  ASSERT_EQ(queue.Push(a.Get()), S_OK);
  ASSERT_EQ(queue.Push(b.Get()), S_OK);
  EXPECT_EQ(a->ReferenceCount(), 2);

  std::u16string popped = u"unset";
  EXPECT_EQ(PopKeyedId(&popped), 1);
  EXPECT_EQ(popped, key);
  EXPECT_EQ(PopKeyedId(), 0) << "B was taken while A's key was busy";

  // A is put back at the head, before B and before C pushed meanwhile.
  ASSERT_EQ(queue.RequeueFront(a.Get()), S_OK);
  ASSERT_EQ(queue.Push(c.Get()), S_OK);
  EXPECT_EQ(PopKeyedId(), 1);
  EXPECT_EQ(PopKeyedId(), 0);

  // A finished: its key is freed and B is next, then C.
  queue.SetKeyBusy(key, false);
  EXPECT_EQ(PopKeyedId(), 2);
  queue.SetKeyBusy(key, false);
  EXPECT_EQ(PopKeyedId(), 3);
  EXPECT_EQ(PopKeyedId(), 0);
}

TEST_F(CmdQueueTest, OnePopTakesOneCommandAndMarksOneKey) {
  CmdPtr x1 = Keyed(1, u"x"), y = Keyed(2, u"y"), x2 = Keyed(3, u"x");
  for (auto* command : {x1.Get(), y.Get(), x2.Get()}) ASSERT_EQ(queue.Push(command), S_OK);
  std::u16string firstKey, secondKey;
  const int first = PopKeyedId(&firstKey);
  const int second = PopKeyedId(&secondKey);
  // Whichever key the table serves first, the next pop goes to the other key.
  EXPECT_EQ(std::set<int>({first, second}), std::set<int>({1, 2}));
  EXPECT_NE(firstKey, secondKey);
  EXPECT_EQ(PopKeyedId(), 0);
  queue.SetKeyBusy(u"y", false);
  EXPECT_EQ(PopKeyedId(), 0);
  queue.SetKeyBusy(u"x", false);
  EXPECT_EQ(PopKeyedId(), 3);
}

TEST_F(CmdQueueTest, AHeadPutBackOverAndOverDoesNotStarveOtherKeys) {
  CmdPtr a = Keyed(1, u"a"), b = Keyed(2, u"b"), c = Keyed(3, u"c");
  for (auto* command : {a.Get(), b.Get(), c.Get()}) queue.Push(command);
  // Each command waits (stays queued); every key is served in turn, whatever the table order.
  for (int round = 0; round < 3; ++round) {
    std::set<int> served;
    for (int i = 0; i < 3; ++i) {
      ICmd* taken = queue.PopKeyed();
      ASSERT_NE(taken, nullptr);
      served.insert(static_cast<TestCmd*>(taken)->Id());
      ASSERT_EQ(queue.RequeueFront(taken), S_OK);
      taken->Release();
    }
    EXPECT_EQ(served, std::set<int>({1, 2, 3})) << "round " << round;
  }
}

TEST_F(CmdQueueTest, ASteppedUnkeyedCommandGoesBehindLaterOnes) {
  CmdPtr u1 = Unkeyed(1), u2 = Unkeyed(2), u3 = Unkeyed(3);
  queue.Push(u1.Get());
  queue.Push(u2.Get());
  ICmd* taken = queue.PopUnkeyed();
  ASSERT_EQ(taken, static_cast<ICmd*>(u1.Get()));
  queue.Push(u3.Get());
  queue.Push(taken);
  taken->Release();
  EXPECT_EQ(PopUnkeyedId(), 2);
  EXPECT_EQ(PopUnkeyedId(), 3);
  EXPECT_EQ(PopUnkeyedId(), 1);
  EXPECT_EQ(PopUnkeyedId(), 0);
  EXPECT_EQ(PopKeyedId(), 0) << "unkeyed commands never reach the keyed side";
}

TEST_F(CmdQueueTest, BadCommandsAreRefusedWithoutTakingAReference) {
  CmdPtr unkeyed = Unkeyed(1);
  EXPECT_EQ(queue.RequeueFront(unkeyed.Get()), E_FAIL);
  CmdPtr keyless = Keyed(2, u"k");
  keyless->nullKey = true;
  EXPECT_EQ(queue.Push(keyless.Get()), E_INVALIDARG);
  EXPECT_EQ(queue.Push(nullptr), E_POINTER);
  EXPECT_EQ(unkeyed->ReferenceCount(), 1);
  EXPECT_EQ(keyless->ReferenceCount(), 1);
  EXPECT_EQ(PopKeyedId(), 0);
  EXPECT_EQ(PopUnkeyedId(), 0);
}

TEST_F(CmdQueueTest, TickTellsWaitingCommandsEveryTimeAndKeepsThemQueued) {
  struct Case {
    std::int32_t state;
    HRESULT checkWait;
    int notified;  // per tick
  };
  const Case cases[] = {
      {2, 0, 1}, {2, 1, 1}, {2, -1, 0}, {2, E_FAIL, 0}, {1, 0, 0}, {0, 0, 0}, {3, 0, 0}, {5, 0, 0},
  };
  std::vector<CmdPtr> commands;
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    commands.push_back(Unkeyed(i + 1, cases[i].state));
    commands.back()->checkWait = cases[i].checkWait;
    queue.Push(commands.back().Get());
  }
  queue.Tick();
  queue.Tick();
  queue.Tick();
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    EXPECT_EQ(journal->Count(i + 1, Happened::kNotify7), 3 * cases[i].notified) << "case " << i;
    EXPECT_EQ(journal->Of(i + 1).size(), static_cast<std::size_t>(3 * cases[i].notified));
  }
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) EXPECT_EQ(PopUnkeyedId(), i + 1);
}

TEST_F(CmdQueueTest, DestroyingTheQueueReleasesWhatItHolds) {
  CmdPtr u = Unkeyed(1), k1 = Keyed(2, u"k"), k2 = Keyed(3, u"k");
  {
    CmdQueue local;
    for (auto* command : {u.Get(), k1.Get(), k2.Get()}) local.Push(command);
    ICmd* head = local.PopKeyed();
    local.RequeueFront(head);
    head->Release();
    EXPECT_EQ(k1->ReferenceCount(), 2);
  }
  for (auto* command : {u.Get(), k1.Get(), k2.Get()}) EXPECT_EQ(command->ReferenceCount(), 1);
}

TEST_F(CmdQueueTest, KeysUsedOnceDoNotPileUp) {
  for (int i = 0; i < 1000; ++i) {
    CmdPtr command = Keyed(i + 1, u"key" + std::u16string(1, static_cast<char16_t>(u'A' + i)));
    queue.Push(command.Get());
    std::u16string key;
    ICmd* taken = queue.PopKeyed(&key);
    ASSERT_NE(taken, nullptr);
    queue.SetKeyBusy(key, false);  // finished
    taken->Release();
  }
  EXPECT_EQ(queue.KeyCount(), 0u);

  // A key stays known while its head is out or while it holds commands.
  CmdPtr a = Keyed(1, u"a"), b = Keyed(2, u"b");
  queue.Push(a.Get());
  queue.Push(b.Get());
  std::u16string key;
  com::ComPtr<ICmd> out = com::ComPtr<ICmd>::Adopt(queue.PopKeyed(&key));
  EXPECT_EQ(queue.KeyCount(), 2u);
  // Requeued after the key was forgotten by someone clearing it: the command is not lost.
  queue.SetKeyBusy(key, false);
  EXPECT_EQ(queue.RequeueFront(out.Get(), key), S_OK);
  EXPECT_EQ(queue.KeyCount(), 2u);
  EXPECT_EQ(PopKeyedId() + PopKeyedId(), 3);
}

// A command whose HasKey and GetKey check from another thread that the queue's two locks are
// free while they run, so a command may post to the workshop from inside them.
class LockProbe : public TestCmd {
 public:
  LockProbe(std::shared_ptr<Journal> journal, CmdQueue* queue, std::optional<std::u16string> key)
      : TestCmd(std::move(journal), 1, std::move(key), 1), queue_(queue) {}
  HRESULT HasKey() override {
    Probe();
    return TestCmd::HasKey();
  }
  HRESULT GetKey(BSTR* key) override {
    Probe();
    return TestCmd::GetKey(key);
  }
  int probes = 0;
  int blocked = 0;

 private:
  void Probe() {
    ++probes;
    // Both calls only read; a held lock would keep them waiting.
    auto probe = std::async(std::launch::async, [this] {
      queue_->Tick();      // the unkeyed lock
      queue_->KeyCount();  // the keyed lock
    });
    if (probe.wait_for(kPatience) != std::future_status::ready) ++blocked;
  }
  CmdQueue* queue_;
};

TEST_F(CmdQueueTest, CommandsAreAskedForTheirKeyOutsideTheLocks) {
  auto keyed = Make<LockProbe>(journal, &queue, u"k");
  auto unkeyed = Make<LockProbe>(journal, &queue, std::nullopt);
  ASSERT_EQ(queue.Push(keyed.Get()), S_OK);
  ASSERT_EQ(queue.Push(unkeyed.Get()), S_OK);
  ICmd* head = queue.PopKeyed();
  ASSERT_EQ(head, static_cast<ICmd*>(keyed.Get()));
  EXPECT_EQ(queue.RequeueFront(head), S_OK);
  head->Release();
  EXPECT_GE(keyed->probes, 4);
  EXPECT_GE(unkeyed->probes, 1);
  EXPECT_EQ(keyed->blocked + unkeyed->blocked, 0);
}

}  // namespace
}  // namespace kqcp_test
