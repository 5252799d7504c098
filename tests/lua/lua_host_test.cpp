// The Lua host: the name registry, the engine's references, and calls passed through unchanged.
#include "lua/lua_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "com/com_ptr.h"
#include "com/object.h"

namespace Vantor::KQCP {
namespace {

// An engine that answers each value with the result it names, and counts its calls.
class EchoEngine : public com::RefCounted<com::ComponentObject, IKQCPLuaEngine> {
 public:
  HRESULT Op1(LuaValue value) override {
    ++calls;
    last = value;
    return static_cast<HRESULT>(static_cast<std::uint32_t>(value));
  }
  std::atomic<int> calls{0};
  std::atomic<LuaValue> last{0};
};

com::ComPtr<EchoEngine> NewEngine() {
  return com::ComPtr<EchoEngine>::Adopt(com::MakeObject<EchoEngine>());
}

class LuaHostTest : public testing::Test {
 protected:
  LuaHost_* host_ = LuaHostHolder::Instance();
};

TEST_F(LuaHostTest, AnswersOnlyItsOwnIdentifierAndCountsNoReferences) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(host_->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(host_->QueryInterface(IID_IKQCPLuaHost, &out), S_OK);
  EXPECT_EQ(out, static_cast<IKQCPLuaHost*>(host_));
  EXPECT_EQ(host_->AddRef(), 1u);
  EXPECT_EQ(host_->Release(), 1u);
  EXPECT_EQ(host_->Reserved(77), S_OK);
}

TEST_F(LuaHostTest, RegisterAndUnregisterByExactName) {
  struct Step {
    enum { kRegister, kUnregister } call;
    const char* name;
    HRESULT result;
  };
  const Step steps[] = {
      {Step::kRegister, "print", S_OK},    {Step::kRegister, "print", S_FALSE},  // replaced
      {Step::kRegister, "Print", S_OK},  // another letter case is another name
      {Step::kRegister, "PRINT", S_OK},    {Step::kRegister, "", S_OK},
      {Step::kRegister, "", S_FALSE},      {Step::kUnregister, "never", E_FAIL},
      {Step::kUnregister, "print", S_OK},  {Step::kUnregister, "print", E_FAIL},
      {Step::kRegister, "Print", S_FALSE},  // untouched by removing "print"
      {Step::kRegister, "print", S_OK},     // new again after its removal
      {Step::kUnregister, "prin", E_FAIL}, {Step::kUnregister, "print ", E_FAIL},
  };
  LuaValue value = 1;
  for (const Step& step : steps) {
    const HRESULT result = step.call == Step::kRegister ? host_->Register(step.name, ++value)
                                                        : host_->Unregister(step.name);
    EXPECT_EQ(result, step.result)
        << (step.call == Step::kRegister ? "Register " : "Unregister ") << '"' << step.name << '"';
  }
  EXPECT_EQ(host_->Register(nullptr, 1), E_POINTER);
  EXPECT_EQ(host_->Unregister(nullptr), E_POINTER);
}

TEST_F(LuaHostTest, CallEngineWithoutAnEngineFails) {
  EXPECT_EQ(host_->CallEngine(0), E_FAIL);
  auto engine = NewEngine();
  EXPECT_EQ(host_->SetEngine(engine.Get()), S_OK);
  EXPECT_EQ(host_->SetEngine(nullptr), S_OK);
  EXPECT_EQ(host_->CallEngine(0), E_FAIL);
  EXPECT_EQ(engine->calls.load(), 0);
}

TEST_F(LuaHostTest, CallEnginePassesValueAndResultThroughUnchanged) {
  auto engine = NewEngine();
  ASSERT_EQ(host_->SetEngine(engine.Get()), S_OK);
  const HRESULT results[] = {S_OK,
                             S_FALSE,
                             42,
                             E_FAIL,
                             E_POINTER,
                             E_NOTIMPL,
                             static_cast<HRESULT>(0x80070005u),
                             static_cast<HRESULT>(0xC0000001u)};
  for (const HRESULT result : results) {
    const auto value = static_cast<LuaValue>(static_cast<std::uint32_t>(result));
    EXPECT_EQ(host_->CallEngine(value), result);
    EXPECT_EQ(engine->last.load(), value);
  }
  // Pointer-sized values reach the engine whole.
  const auto wide = static_cast<LuaValue>(~static_cast<LuaValue>(0) - 5);
  host_->CallEngine(wide);
  EXPECT_EQ(engine->last.load(), wide);
  EXPECT_EQ(engine->calls.load(), static_cast<int>(std::size(results)) + 1);
  host_->SetEngine(nullptr);
}

TEST_F(LuaHostTest, TheHostHoldsOneReferenceToItsEngine) {
  auto first = NewEngine();
  auto second = NewEngine();
  ASSERT_EQ(host_->SetEngine(first.Get()), S_OK);
  EXPECT_EQ(first->ReferenceCount(), 2);
  ASSERT_EQ(host_->SetEngine(first.Get()), S_OK);
  EXPECT_EQ(first->ReferenceCount(), 2);
  ASSERT_EQ(host_->SetEngine(second.Get()), S_OK);
  EXPECT_EQ(first->ReferenceCount(), 1);
  EXPECT_EQ(second->ReferenceCount(), 2);
  EXPECT_EQ(host_->CallEngine(3), 3);
  EXPECT_EQ(first->calls.load(), 0);
  EXPECT_EQ(second->calls.load(), 1);
  ASSERT_EQ(host_->SetEngine(nullptr), S_OK);
  EXPECT_EQ(second->ReferenceCount(), 1);
}

TEST_F(LuaHostTest, RegistryAndEngineCallsFromManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 1000;
  auto engine = NewEngine();
  ASSERT_EQ(host_->SetEngine(engine.Get()), S_OK);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const std::string own = "own" + std::to_string(i);
      for (int round = 0; round < kRounds; ++round) {
        EXPECT_EQ(host_->Register(own.c_str(), round), round == 0 ? S_OK : S_FALSE);
        host_->Register("shared", i);
        host_->Unregister("shared");
        EXPECT_EQ(host_->CallEngine(static_cast<LuaValue>(round)), round);
      }
      EXPECT_EQ(host_->Unregister(own.c_str()), S_OK);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(engine->calls.load(), kThreads * kRounds);
  host_->Unregister("shared");
  EXPECT_EQ(host_->Register("shared", 0), S_OK);

  // Racing replacements release every replaced engine exactly once.
  std::vector<com::ComPtr<EchoEngine>> engines;
  for (int i = 0; i < kThreads; ++i) engines.push_back(NewEngine());
  threads.clear();
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < kRounds; ++round) host_->SetEngine(engines[i].Get());
    });
  }
  for (std::thread& t : threads) t.join();
  int held = 0;
  for (const auto& e : engines) held += e->ReferenceCount() - 1;
  EXPECT_EQ(held, 1);
  EXPECT_EQ(engine->ReferenceCount(), 1);
  host_->SetEngine(nullptr);
  for (const auto& e : engines) EXPECT_EQ(e->ReferenceCount(), 1);
}

// An engine that notes being destroyed while one of its calls is still under way.
class SlowEngine : public com::RefCounted<com::ComponentObject, IKQCPLuaEngine> {
 public:
  explicit SlowEngine(std::atomic<int>& destroyedInCall) : destroyedInCall_(destroyedInCall) {}
  ~SlowEngine() override {
    if (inCall_.load() != 0) ++destroyedInCall_;
  }
  HRESULT Op1(LuaValue value) override {
    ++inCall_;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --inCall_;
    return static_cast<HRESULT>(value);
  }

 private:
  std::atomic<int> inCall_{0};
  std::atomic<int>& destroyedInCall_;
};

TEST_F(LuaHostTest, AnEngineReplacedOrClearedDuringACallLivesUntilTheCallReturns) {
  std::atomic<int> destroyedInCall{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> callers;
  for (int i = 0; i < 2; ++i) {
    callers.emplace_back([&] {
      while (!done.load()) {
        const HRESULT result = host_->CallEngine(7);
        EXPECT_TRUE(result == 7 || result == E_FAIL) << result;
      }
    });
  }
  for (int round = 0; round < 300; ++round) {
    // The host holds the only reference, so each replacement is the engine's last release.
    auto* engine = com::MakeObject<SlowEngine>(destroyedInCall);
    host_->SetEngine(engine);
    engine->Release();
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    if (round % 3 == 0) host_->SetEngine(nullptr);
  }
  done.store(true);
  for (std::thread& t : callers) t.join();
  host_->SetEngine(nullptr);
  EXPECT_EQ(destroyedInCall.load(), 0);
}

}  // namespace
}  // namespace Vantor::KQCP
