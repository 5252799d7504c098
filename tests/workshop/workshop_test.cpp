// The workshop with real worker threads: start limits, stepping by state, keys in order and in
// parallel, the tick, the drain on stop, listeners, restart, destruction, and commands that call
// the workshop from inside their steps.
#include "workshop/workshop.h"

#include <gtest/gtest.h>

#include <climits>
#include <future>
#include <map>
#include <thread>

#include "com/module.h"
#include "os/futex.h"
#include "workshop/test_cmd.h"
#include "workshop/workshop_factory.h"

namespace kqcp_test {
namespace {

using CmdPtr = com::ComPtr<TestCmd>;
using H = Happened;

std::int32_t StateOf(IWorkshop* workshop) {
  std::int32_t state = -1;
  EXPECT_EQ(workshop->GetState(&state), S_OK);
  return state;
}

std::int32_t ModuleLocks() { return com::TheModule().GetLockCount(); }

class WorkshopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateWorkshop(workshop.Put()), S_OK); }
  void TearDown() override {
    if (!workshop) return;
    workshop->Stop();
    workshop->Wait(kPatienceMs);
  }

  CmdPtr Command(int id, std::optional<std::u16string> key, std::int32_t state,
                 std::vector<std::int32_t> script = {}) {
    return Make<TestCmd>(journal, id, std::move(key), state, std::move(script));
  }
  void Post(const CmdPtr& command) { ASSERT_EQ(workshop->PostCmd(command.Get()), S_OK); }

  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  com::ComPtr<IWorkshop> workshop;
};

TEST_F(WorkshopTest, StartTakesOneTo512Workers) {
  for (std::int32_t count : {0, -1, 513, INT32_MIN}) {
    com::ComPtr<IWorkshop> fresh;
    ASSERT_EQ(CreateWorkshop(fresh.Put()), S_OK);
    EXPECT_EQ(fresh->Start(count), E_INVALIDARG) << count;
    EXPECT_EQ(StateOf(fresh.Get()), 0) << count;
    EXPECT_EQ(fresh->Stop(), S_FALSE) << "nothing to stop";
    EXPECT_EQ(fresh->Wait(0), S_FALSE) << "no workers to wait for";
  }
  EXPECT_EQ(workshop->Stop(), S_FALSE);
  ASSERT_EQ(workshop->Start(512), S_OK);
  EXPECT_EQ(StateOf(workshop.Get()), 2);
  EXPECT_EQ(workshop->Wait(0), S_FALSE) << "the workers run until asked to stop";
  // A refused restart leaves the workers where Stop can still reach them.
  EXPECT_EQ(workshop->Start(0), E_INVALIDARG);
  EXPECT_EQ(StateOf(workshop.Get()), 2);
  EXPECT_EQ(workshop->Stop(), S_OK);
  EXPECT_EQ(StateOf(workshop.Get()), 2);
  // All 512 thread handles at once.
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
}

TEST_F(WorkshopTest, AnswersItsInterfacesAndLocksTheModule) {
  const std::int32_t before = ModuleLocks();
  com::ComPtr<IWorkshop> other;
  ASSERT_EQ(CreateWorkshop(other.Put()), S_OK);
  EXPECT_EQ(ModuleLocks(), before + 1);

  com::ComPtr<IUnknown> unknown;
  com::ComPtr<ICmdEvent> events;
  com::ComPtr<IWorkshop> again;
  ASSERT_EQ(other->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
  ASSERT_EQ(other->QueryInterface(IID_ICmdEvent, events.PutVoid()), S_OK);
  ASSERT_EQ(other->QueryInterface(IID_IWorkshop, again.PutVoid()), S_OK);
  EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(other.Get()));
  EXPECT_EQ(again.Get(), other.Get());
  EXPECT_EQ(static_cast<Workshop*>(other.Get())->ReferenceCount(), 4);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(other->QueryInterface(IID_ICmd, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  EXPECT_EQ(other->Reserved(), E_FAIL);
  EXPECT_EQ(other->PostCmd(nullptr), E_POINTER);
  EXPECT_EQ(other->AddListener(nullptr), E_POINTER);
  EXPECT_EQ(other->RemoveListener(nullptr), E_POINTER);
  EXPECT_EQ(other->GetState(nullptr), E_POINTER);
  EXPECT_EQ(events->OnCmdEvent(1, 2, 3), S_OK) << "no listeners: nothing to relay";

  unknown.Reset();
  events.Reset();
  again.Reset();
  other.Reset();
  EXPECT_EQ(ModuleLocks(), before);
}

class StepsByState : public WorkshopTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(KeyedAndUnkeyed, StepsByState, ::testing::Bool());

TEST_P(StepsByState, ExecuteThenWaitThenContinueThenDropped) {
  std::optional<std::u16string> key;
  if (GetParam()) key = u"key";
  // Execute leaves it in state 1 (stepped without calls); the test moves it to 3; Continue
  // finishes it.
  CmdPtr owned = Command(1, key, 0, {1, 5});
  TestCmd* command = owned.Get();
  Post(owned);
  owned.Reset();  // from now on the workshop's reference keeps it
  ASSERT_EQ(workshop->Start(2), S_OK);

  ASSERT_TRUE(journal->WaitFor(1, H::kExecute));
  const int visits = command->Visits();
  ASSERT_TRUE(Eventually([&] { return command->Visits() >= visits + 3; }));
  EXPECT_EQ(journal->Of(1), (std::vector<H>{H::kNotify1, H::kExecute}));
  EXPECT_TRUE(command->SteppedInApartment());

  command->SetState(3);
  ASSERT_TRUE(journal->WaitFor(1, H::kReleased));
  EXPECT_EQ(journal->Of(1),
            (std::vector<H>{H::kNotify1, H::kExecute, H::kNotify4, H::kContinue, H::kReleased}));
}

TEST_F(WorkshopTest, TickTellsWaitingUnkeyedCommandsUntilTheyMoveOn) {
  CmdPtr waiting = Command(1, std::nullopt, 2);
  waiting->checkWait = 0;
  CmdPtr keyed = Command(2, u"k", 2);
  keyed->checkWait = 0;
  CmdPtr declined = Command(3, std::nullopt, 2);
  Post(waiting);
  Post(keyed);
  Post(declined);
  ASSERT_EQ(workshop->Start(2), S_OK);

  ASSERT_TRUE(journal->WaitFor(1, H::kNotify7, 3));
  EXPECT_EQ(journal->Count(2, H::kNotify7), 0) << "only unkeyed commands are ticked";
  EXPECT_EQ(journal->Count(3, H::kNotify7), 0);
  EXPECT_GE(waiting->ReferenceCount(), 2) << "still queued";

  waiting->SetState(5);
  keyed->SetState(5);
  declined->SetState(5);
  ASSERT_TRUE(Eventually([&] {
    return waiting->ReferenceCount() == 1 && keyed->ReferenceCount() == 1 &&
           declined->ReferenceCount() == 1;
  }));
  for (int id : {1, 2, 3}) EXPECT_EQ(journal->Count(id, H::kExecute), 0);
}

TEST_F(WorkshopTest, CommandsOfOneKeyRunInOrderAndOneAtATime) {
  // Two steps each (Execute, Continue), so a second command of the key taken too early would
  // show between them. Unkeyed commands run alongside.
  std::map<int, std::u16string> keyOf;
  std::vector<CmdPtr> commands;
  for (int i = 0; i < 8; ++i) {
    std::optional<std::u16string> key;
    if (i % 4 != 3) key = i % 2 ? u"odd" : u"even";
    commands.push_back(Command(i + 1, key, 0, {3, 5}));
    if (key) keyOf[i + 1] = *key;
    Post(commands.back());
  }
  ASSERT_EQ(workshop->Start(2), S_OK);
  for (const auto& command : commands) {
    ASSERT_TRUE(Eventually([&] { return command->ReferenceCount() == 1; })) << command->Id();
  }

  for (const std::u16string key : {u"odd", u"even"}) {
    std::vector<std::pair<int, H>> steps;
    for (const auto& entry : journal->Entries()) {
      if (keyOf.count(entry.id) && keyOf[entry.id] == key &&
          (entry.what == H::kExecute || entry.what == H::kContinue)) {
        steps.emplace_back(entry.id, entry.what);
      }
    }
    std::vector<std::pair<int, H>> expected;
    for (const auto& [id, k] : keyOf) {
      if (k != key) continue;
      expected.emplace_back(id, H::kExecute);
      expected.emplace_back(id, H::kContinue);
    }
    EXPECT_EQ(steps, expected);
  }
}

TEST_F(WorkshopTest, DifferentKeysProceedInParallel) {
  // X holds its worker until Y has executed, which only the other worker can do.
  CmdPtr x = Command(1, u"x", 0, {5});
  CmdPtr y = Command(2, u"y", 0, {5});
  std::atomic<bool> sawY{false};
  x->onStep = [&](TestCmd&) { sawY = journal->WaitFor(2, H::kExecute); };
  Post(x);
  Post(y);
  ASSERT_EQ(workshop->Start(2), S_OK);
  ASSERT_TRUE(journal->WaitFor(1, H::kExecute));
  ASSERT_TRUE(Eventually([&] { return x->ReferenceCount() == 1 && y->ReferenceCount() == 1; }));
  EXPECT_TRUE(sawY);
}

TEST_F(WorkshopTest, StopTellsEveryQueuedCommandOnceAndReleasesIt) {
  // Several per key, so the drain must free each key again to reach the rest of its list.
  std::vector<CmdPtr> commands;
  const std::optional<std::u16string> keys[] = {u"k", u"k",         u"k",         u"j",
                                                u"j", std::nullopt, std::nullopt, std::nullopt};
  for (int i = 0; i < static_cast<int>(std::size(keys)); ++i) {
    commands.push_back(Command(i + 1, keys[i], 1));
    Post(commands.back());
  }
  ASSERT_EQ(workshop->Start(2), S_OK);
  // Both keys' heads and every unkeyed command have been visited: the workers are busy.
  ASSERT_TRUE(Eventually([&] {
    return commands[0]->Visits() > 0 && commands[3]->Visits() > 0 && commands[5]->Visits() > 0 &&
           commands[6]->Visits() > 0 && commands[7]->Visits() > 0;
  }));
  EXPECT_EQ(workshop->Stop(), S_OK);
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
  for (const auto& command : commands) {
    EXPECT_EQ(journal->Of(command->Id()), std::vector<H>{H::kNotify7}) << command->Id();
    EXPECT_EQ(command->ReferenceCount(), 1) << command->Id();
  }
  EXPECT_EQ(StateOf(workshop.Get()), 2);
}

TEST_F(WorkshopTest, ListenersReceiveEachEventOnceInRegistrationOrder) {
  auto log = std::make_shared<std::vector<TestListener::Event>>();
  auto mutex = std::make_shared<std::mutex>();
  auto first = Make<TestListener>('A', log, mutex);
  auto second = Make<TestListener>('B', log, mutex);
  auto take = [&] {
    std::lock_guard<std::mutex> guard(*mutex);
    return std::exchange(*log, {});
  };
  ASSERT_EQ(workshop->AddListener(first.Get()), S_OK);
  ASSERT_EQ(workshop->AddListener(second.Get()), S_OK);
  EXPECT_EQ(workshop->AddListener(first.Get()), S_FALSE) << "registered once only";

  // From a command on a worker, through the sink it was given.
  CmdPtr command = Command(1, std::nullopt, 0, {5});
  command->onStep = [](TestCmd& self) { self.Sink()->OnCmdEvent(7, -1, 42); };
  Post(command);
  ASSERT_EQ(workshop->Start(2), S_OK);
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> guard(*mutex);
    return log->size() >= 2;
  }));
  EXPECT_EQ(take(), (std::vector<TestListener::Event>{{'A', 7, -1, 42}, {'B', 7, -1, 42}}));

  com::ComPtr<ICmdEvent> events;
  ASSERT_EQ(workshop->QueryInterface(IID_ICmdEvent, events.PutVoid()), S_OK);
  EXPECT_EQ(workshop->RemoveListener(first.Get()), S_OK);
  EXPECT_EQ(workshop->RemoveListener(first.Get()), E_FAIL);
  EXPECT_EQ(first->ReferenceCount(), 1);
  EXPECT_EQ(events->OnCmdEvent(1, 2, 3), S_OK);
  EXPECT_EQ(take(), (std::vector<TestListener::Event>{{'B', 1, 2, 3}}));

  // A listener that removes itself while it is being called still lets the others hear.
  ASSERT_EQ(workshop->AddListener(first.Get()), S_OK);
  second->onEvent = [&] { workshop->RemoveListener(second.Get()); };
  EXPECT_EQ(events->OnCmdEvent(4, 5, 6), S_OK);
  EXPECT_EQ(take(), (std::vector<TestListener::Event>{{'B', 4, 5, 6}, {'A', 4, 5, 6}}));
  EXPECT_EQ(events->OnCmdEvent(8, 9, 10), S_OK);
  EXPECT_EQ(take(), (std::vector<TestListener::Event>{{'A', 8, 9, 10}}));
  EXPECT_EQ(second->ReferenceCount(), 1);
}

TEST_F(WorkshopTest, RestartStopsAndJoinsTheEarlierWorkersFirst) {
  CmdPtr pending = Command(1, std::nullopt, 1);
  Post(pending);
  ASSERT_EQ(workshop->Start(2), S_OK);
  ASSERT_TRUE(Eventually([&] { return pending->Visits() > 0; }));

  ASSERT_EQ(workshop->Start(1), S_OK);
  // Already done when Start returns: the earlier workers drained the queue and ended.
  EXPECT_EQ(journal->Of(1), std::vector<H>{H::kNotify7});
  EXPECT_EQ(pending->ReferenceCount(), 1);
  EXPECT_EQ(StateOf(workshop.Get()), 2);

  CmdPtr later = Command(2, u"k", 0, {5});
  Post(later);
  ASSERT_TRUE(journal->WaitFor(2, H::kExecute));
  EXPECT_EQ(workshop->Stop(), S_OK);
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
}

TEST_F(WorkshopTest, AStopThatMeetsARestartUnderWayStopsTheNewWorkersToo) {
  // A step that holds its worker until the test lets go, so the restart stays under way while it
  // joins that worker.
  std::promise<void> letGo;
  std::shared_future<void> released = letGo.get_future().share();
  CmdPtr holding = Command(1, std::nullopt, 0, {5});
  holding->onStep = [released](TestCmd&) { released.wait(); };
  Post(holding);
  ASSERT_EQ(workshop->Start(1), S_OK);
  ASSERT_TRUE(journal->WaitFor(1, H::kExecute));

  std::future<HRESULT> restart = std::async(std::launch::async, [&] { return workshop->Start(2); });
  ASSERT_TRUE(Eventually([&] { return StateOf(workshop.Get()) == 1; }));
  EXPECT_EQ(workshop->Stop(), S_OK);
  letGo.set_value();
  EXPECT_EQ(restart.get(), S_OK);
  // Nothing keeps running: the workers the restart made were told to stop as they started.
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
  CmdPtr late = Command(2, std::nullopt, 0, {5});
  late->keepSink = false;  // it stays queued; with the sink it would keep the workshop alive
  Post(late);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(journal->Count(2, H::kExecute), 0);
}

TEST_F(WorkshopTest, StartAndStopFromManyThreadsLeaveNoWorkerBehind) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 10; ++round) {
        if (t % 2 == 0) {
          EXPECT_EQ(workshop->Start(1 + round % 3), S_OK);
        } else {
          workshop->Stop();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(workshop->Stop(), S_OK);
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
}

TEST_F(WorkshopTest, ReleasingTheWorkshopStopsItsWorkersAndReleasesEverything) {
  // Commands that keep no sink, so that they do not keep the workshop alive.
  CmdPtr unkeyed = Command(1, std::nullopt, 1);
  CmdPtr keyed = Command(2, u"k", 1);
  CmdPtr never = Command(3, u"k", 1);
  for (auto* command : {unkeyed.Get(), keyed.Get(), never.Get()}) {
    command->keepSink = false;
    ASSERT_EQ(workshop->PostCmd(command), S_OK);
  }
  auto listener = Make<TestListener>('A', std::make_shared<std::vector<TestListener::Event>>(),
                                     std::make_shared<std::mutex>());
  ASSERT_EQ(workshop->AddListener(listener.Get()), S_OK);
  ASSERT_EQ(workshop->Start(2), S_OK);
  ASSERT_TRUE(Eventually([&] { return unkeyed->Visits() > 0 && keyed->Visits() > 0; }));

  const std::int32_t locks = ModuleLocks();
  workshop.Reset();  // the last reference
  EXPECT_EQ(ModuleLocks(), locks - 1);
  EXPECT_EQ(listener->ReferenceCount(), 1);
  for (TestCmd* command : {unkeyed.Get(), keyed.Get(), never.Get()}) {
    EXPECT_EQ(journal->Of(command->Id()), std::vector<H>{H::kNotify7}) << command->Id();
    EXPECT_EQ(command->ReferenceCount(), 1) << command->Id();
  }
}

TEST_F(WorkshopTest, ALastReferenceDroppedOnAWorkerEndsCleanly) {
  const std::int32_t locksBefore = ModuleLocks();  // the workshop's among them
  auto listener = Make<TestListener>('A', std::make_shared<std::vector<TestListener::Event>>(),
                                     std::make_shared<std::mutex>());
  ASSERT_EQ(workshop->AddListener(listener.Get()), S_OK);
  ASSERT_EQ(workshop->Start(2), S_OK);
  // The command's sink becomes the workshop's only reference; the worker that drops the
  // finished command therefore destroys the workshop.
  CmdPtr owned = Command(1, std::nullopt, 1);
  CmdPtr pending = Command(2, u"k", 1);
  pending->keepSink = false;
  Post(owned);
  Post(pending);
  TestCmd* finishing = owned.Get();
  owned.Reset();
  pending.Reset();
  workshop.Reset();
  finishing->SetState(5);  // still alive: the queue holds it until it is seen finished

  ASSERT_TRUE(journal->WaitFor(1, H::kReleased));
  ASSERT_TRUE(journal->WaitFor(2, H::kReleased));
  EXPECT_EQ(journal->Of(1), std::vector<H>{H::kReleased});
  EXPECT_EQ(journal->Of(2), (std::vector<H>{H::kNotify7, H::kReleased}));
  // The workers are joined away from the dying worker; then the library is free again.
  ASSERT_TRUE(Eventually([&] { return ModuleLocks() == locksBefore; }));  // the listener's
  EXPECT_EQ(listener->ReferenceCount(), 1);
}

TEST_F(WorkshopTest, CommandsMayCallTheWorkshopFromTheirSteps) {
  std::atomic<HRESULT> waited{S_OK}, restarted{S_OK}, posted{E_FAIL};
  CmdPtr follower = Command(2, std::nullopt, 0, {5});
  IWorkshop* raw = workshop.Get();
  CmdPtr caller = Command(1, u"k", 0, {5});
  caller->onStep = [&](TestCmd&) {
    // A worker cannot wait for, or restart, the workers it is one of.
    waited = raw->Wait(os::kInfinite);
    restarted = raw->Start(3);
    posted = raw->PostCmd(follower.Get());
  };
  Post(caller);
  ASSERT_EQ(workshop->Start(2), S_OK);
  ASSERT_TRUE(journal->WaitFor(2, H::kExecute));
  // The caller's step is over once the workshop has dropped it.
  ASSERT_TRUE(Eventually([&] { return caller->ReferenceCount() == 1; }));
  EXPECT_EQ(waited, S_FALSE);
  EXPECT_EQ(restarted, E_UNEXPECTED);
  EXPECT_EQ(posted, S_OK);
  EXPECT_EQ(StateOf(workshop.Get()), 2);
}

}  // namespace
}  // namespace kqcp_test
