// Commands and listeners written for the workshop tests, and a journal in which they record
// what the workshop did to them, across threads, with bounded waits for what a test expects.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/workshop.h"
#include "os/com_runtime.h"

namespace kqcp_test {

using namespace Vantor::KQCP;

// Generous: a loaded machine may take far longer than the 50-millisecond worker loop suggests.
inline constexpr std::chrono::seconds kPatience{20};
inline constexpr std::uint32_t kPatienceMs = 20000;

// Polls a condition that no event announces (visits, reference counts), within the patience.
inline bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

enum class Happened { kNotify1, kNotify4, kNotify7, kExecute, kContinue, kReleased };

class Journal {
 public:
  struct Entry {
    int id;
    Happened what;
  };

  void Add(int id, Happened what) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      entries_.push_back({id, what});
    }
    changed_.notify_all();
  }

  // True once done(entries) holds, false when the patience ran out.
  bool WaitUntil(const std::function<bool(const std::vector<Entry>&)>& done) {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, kPatience, [&] { return done(entries_); });
  }
  bool WaitFor(int id, Happened what, int times = 1) {
    return WaitUntil(
        [&](const std::vector<Entry>& entries) { return Count(entries, id, what) >= times; });
  }

  std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> guard(mutex_);
    return entries_;
  }
  // What happened to one command, in order.
  std::vector<Happened> Of(int id) {
    std::vector<Happened> result;
    for (const Entry& entry : Entries()) {
      if (entry.id == id) result.push_back(entry.what);
    }
    return result;
  }
  int Count(int id, Happened what) {
    std::lock_guard<std::mutex> guard(mutex_);
    return Count(entries_, id, what);
  }
  static int Count(const std::vector<Entry>& entries, int id, Happened what) {
    int count = 0;
    for (const Entry& entry : entries) count += entry.id == id && entry.what == what;
    return count;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
};

// A command whose key and states the test chooses. Each Execute or Continue moves it to the next
// state of its script; the test may also set the state directly at any time.
class TestCmd : public com::RefCounted<com::ComponentObject, ICmd> {
 public:
  TestCmd(std::shared_ptr<Journal> journal, int id, std::optional<std::u16string> key,
          std::int32_t state, std::vector<std::int32_t> script = {})
      : journal_(std::move(journal)),
        id_(id),
        key_(std::move(key)),
        script_(std::move(script)),
        state_(state) {}
  ~TestCmd() override { journal_->Add(id_, Happened::kReleased); }

  // Runs on the worker inside Execute and Continue, before the state moves on. Set before posting.
  std::function<void(TestCmd&)> onStep;
  // False: the sink handed over when posting is dropped at once instead of kept.
  bool keepSink = true;
  std::atomic<HRESULT> checkWait{-1};
  std::atomic<bool> nullKey{false};

  void SetState(std::int32_t state) { state_.store(state); }
  int Id() const { return id_; }
  int Visits() const { return visits_.load(); }
  // Whether Execute/Continue ran on a thread with the component runtime initialised.
  bool SteppedInApartment() const { return steppedInApartment_.load(); }
  ICmdEvent* Sink() const { return sink_.Get(); }

  HRESULT SetEventSink(ICmdEvent* sink) override {
    sink_ = com::ComPtr<ICmdEvent>::Adopt(sink);
    if (!keepSink) sink_.Reset();
    return S_OK;
  }
  HRESULT GetState(std::int32_t* state) override {
    ++visits_;
    *state = state_.load();
    return S_OK;
  }
  HRESULT Notify(std::int32_t code, std::uint32_t* /*value*/) override {
    switch (code) {
      case kCmdNotifyExecute:
        journal_->Add(id_, Happened::kNotify1);
        break;
      case kCmdNotifyContinue:
        journal_->Add(id_, Happened::kNotify4);
        break;
      case kCmdNotifyStopOrWait:
        journal_->Add(id_, Happened::kNotify7);
        break;
      default:
        ADD_FAILURE() << "unexpected notification " << code;
    }
    return S_OK;
  }
  HRESULT HasKey() override { return key_ ? S_OK : -1; }
  HRESULT GetKey(BSTR* key) override {
    EXPECT_TRUE(key_.has_value()) << "GetKey asked of an unkeyed command";
    *key = nullKey || !key_
               ? nullptr
               : SysAllocStringLen(key_->data(), static_cast<std::uint32_t>(key_->size()));
    return S_OK;
  }
  HRESULT Execute() override { return Stepped(Happened::kExecute); }
  HRESULT Continue() override { return Stepped(Happened::kContinue); }
  HRESULT Reserved() override {
    ADD_FAILURE() << "the unnamed operation was called";
    return E_FAIL;
  }
  HRESULT CheckWait() override { return checkWait.load(); }

 private:
  HRESULT Stepped(Happened what) {
    journal_->Add(id_, what);
    steppedInApartment_ = Vantor::KQCP::os::ComInitDepth() == 1;
    if (onStep) onStep(*this);
    if (step_ < script_.size()) state_.store(script_[step_++]);
    return S_OK;
  }

  std::shared_ptr<Journal> journal_;
  const int id_;
  const std::optional<std::u16string> key_;
  const std::vector<std::int32_t> script_;
  std::size_t step_ = 0;
  std::atomic<std::int32_t> state_;
  std::atomic<int> visits_{0};
  std::atomic<bool> steppedInApartment_{false};
  com::ComPtr<ICmdEvent> sink_;
};

// Records every event it receives as (listener name, three values).
class TestListener : public com::RefCounted<com::ComponentObject, ICmdEvent> {
 public:
  struct Event {
    char listener;
    std::int32_t a, b, c;
    bool operator==(const Event&) const = default;
  };
  TestListener(char name, std::shared_ptr<std::vector<Event>> log,
               std::shared_ptr<std::mutex> mutex)
      : name_(name), log_(std::move(log)), mutex_(std::move(mutex)) {}

  std::function<void()> onEvent;

  HRESULT OnCmdEvent(std::int32_t a, std::int32_t b, std::int32_t c) override {
    {
      std::lock_guard<std::mutex> guard(*mutex_);
      log_->push_back({name_, a, b, c});
    }
    if (onEvent) onEvent();
    return S_OK;
  }

 private:
  char name_;
  std::shared_ptr<std::vector<Event>> log_;
  std::shared_ptr<std::mutex> mutex_;
};

template <class T, class... Args>
com::ComPtr<T> Make(Args&&... args) {
  return com::ComPtr<T>::Adopt(com::MakeObject<T>(std::forward<Args>(args)...));
}

}  // namespace kqcp_test
