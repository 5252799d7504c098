// A host that forks: the child restarts the workshop it inherited (the platform's, or one of its
// own whose worker was inside a listener at the fork) and runs commands, while the parent's
// workers and commands go on untouched. Each child reports by its exit code; a child that hangs
// is killed and fails the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "support/platform.h"
#include "workshop/test_cmd.h"
#include "workshop/workshop_factory.h"

namespace kqcp_test {
namespace {

using CmdPtr = com::ComPtr<TestCmd>;
using H = Happened;

// Runs child in a forked process and gives its exit code, or -1 when it did not end within the
// patience (it is killed then) or ended otherwise.
int RunForked(const std::function<int()>& child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child());  // no test framework or static destructors in the child
  if (pid < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The steps a child takes on the workshop it inherited; 0 when all went as they should, else
// the number of the first step that did not.
int RestartAndRun(IWorkshop* workshop, const std::function<bool()>& moreChecks = {}) {
  auto journal = std::make_shared<Journal>();
  std::int32_t state = -1;
  // Until it starts it, the child's workshop has no workers: nothing to stop or wait for, and
  // a command would never run.
  if (workshop->GetState(&state) != S_OK || state != 0) return 1;
  if (workshop->Stop() != S_FALSE) return 2;
  if (workshop->Wait(0) != S_FALSE) return 3;
  CmdPtr early = Make<TestCmd>(journal, 1, std::nullopt, 0, std::vector<std::int32_t>{5});
  if (workshop->PostCmd(early.Get()) != E_UNEXPECTED) return 4;
  if (workshop->Start(2) != S_OK) return 5;
  for (const std::optional<std::u16string>& key : {std::optional<std::u16string>(), {u"k"}}) {
    CmdPtr command = Make<TestCmd>(journal, 2, key, 0, std::vector<std::int32_t>{5});
    if (workshop->PostCmd(command.Get()) != S_OK) return 6;
  }
  if (!journal->WaitFor(2, H::kExecute, 2)) return 7;
  if (moreChecks && !moreChecks()) return 8;
  if (workshop->Stop() != S_OK || workshop->Wait(kPatienceMs) != S_OK) return 9;
  if (journal->Count(1, H::kExecute) != 0) return 10;
  return 0;
}

class WorkshopForkTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not let a child of a threaded process start threads";
#endif
  }
};

TEST_F(WorkshopForkTest, AChildRestartsThePlatformWorkshopAndRunsCommands) {
  ASSERT_EQ(Platform()->Init(nullptr), S_OK);
  com::ComPtr<IWorkshop> workshop;
  ASSERT_EQ(Platform()->GetWorkshop(workshop.Put()), S_OK);
  // At the fork both of the platform's workers are inside a step. (Held there, they are also
  // not inside the allocator, which AddressSanitizer does not guard across a fork.)
  auto journal = std::make_shared<Journal>();
  std::promise<void> letGo;
  std::shared_future<void> released = letGo.get_future().share();
  std::atomic<int> inside{0};
  std::vector<CmdPtr> busy;
  for (const char16_t* key : {u"a", u"b"}) {
    busy.push_back(Make<TestCmd>(journal, 1, key, 0, std::vector<std::int32_t>{5}));
    busy.back()->onStep = [&inside, released](TestCmd&) {
      ++inside;
      released.wait();
    };
    ASSERT_EQ(workshop->PostCmd(busy.back().Get()), S_OK);
  }
  ASSERT_TRUE(Eventually([&] { return inside == 2; }));

  EXPECT_EQ(RunForked([&] { return RestartAndRun(workshop.Get()); }), 0);

  // The parent's workers never noticed.
  letGo.set_value();
  CmdPtr command = Make<TestCmd>(journal, 2, std::nullopt, 0, std::vector<std::int32_t>{5});
  ASSERT_EQ(workshop->PostCmd(command.Get()), S_OK);
  EXPECT_TRUE(journal->WaitFor(2, H::kExecute));
  EXPECT_TRUE(Eventually([&] { return busy[0]->ReferenceCount() == 1; }));
  EXPECT_TRUE(Eventually([&] { return busy[1]->ReferenceCount() == 1; }));
}

// Records every event; the first event with value 7 holds its thread inside the call (and so
// the workshop's listener lock) until the test lets go.
class HoldingListener : public com::RefCounted<com::ComponentObject, ICmdEvent> {
 public:
  std::promise<void> entered;
  std::shared_future<void> letGo;
  std::atomic<int> nines{0};

  HRESULT OnCmdEvent(std::int32_t value, std::int32_t, std::int32_t) override {
    if (value == 9) ++nines;
    if (value == 7 && !held_.exchange(true)) {
      entered.set_value();
      letGo.wait();
    }
    return S_OK;
  }

 private:
  std::atomic<bool> held_{false};
};

TEST_F(WorkshopForkTest, AChildGetsAWorkshopOfItsOwnWhateverTheParentsWorkersWereDoing) {
  com::ComPtr<IWorkshop> workshop;
  ASSERT_EQ(CreateWorkshop(workshop.Put()), S_OK);
  auto listener = Make<HoldingListener>();
  std::promise<void> release;
  listener->letGo = release.get_future().share();
  ASSERT_EQ(workshop->AddListener(listener.Get()), S_OK);

  // At the fork the parent's worker is inside the listener, and another command waits queued.
  auto journal = std::make_shared<Journal>();
  CmdPtr reporting = Make<TestCmd>(journal, 1, std::nullopt, 0, std::vector<std::int32_t>{5});
  reporting->onStep = [](TestCmd& self) { self.Sink()->OnCmdEvent(7, 0, 0); };
  CmdPtr waiting = Make<TestCmd>(journal, 2, u"k", 1);
  ASSERT_EQ(workshop->PostCmd(reporting.Get()), S_OK);
  ASSERT_EQ(workshop->PostCmd(waiting.Get()), S_OK);
  ASSERT_EQ(workshop->Start(1), S_OK);
  listener->entered.get_future().wait();

  const int childResult = RunForked([&] {
    const int visits = waiting->Visits();
    return RestartAndRun(workshop.Get(), [&] {
      // The child's commands report to the inherited listener; the parent's are not its own.
      com::ComPtr<ICmdEvent> sink;
      workshop->QueryInterface(IID_ICmdEvent, sink.PutVoid());
      return sink && sink->OnCmdEvent(9, 0, 0) == S_OK && listener->nines == 1 &&
             waiting->Visits() == visits && journal->Count(1, H::kExecute) == 1;
    });
  });
  EXPECT_EQ(childResult, 0);

  release.set_value();
  ASSERT_TRUE(Eventually([&] { return reporting->ReferenceCount() == 1; }));
  EXPECT_EQ(listener->nines, 0);
  EXPECT_EQ(workshop->Stop(), S_OK);
  EXPECT_EQ(workshop->Wait(kPatienceMs), S_OK);
  EXPECT_EQ(journal->Of(2), std::vector<H>{H::kNotify7});
}

}  // namespace
}  // namespace kqcp_test
