// The "orders" plug-in: keyed workshop commands. Step "keyed N" posts N commands under each of
// two keys, waits for all of them and reports the order in which each key's commands finished.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "common/demo_plugin_base.h"

namespace example {
namespace {

// Records, per key, the order in which commands finished.
struct Journal {
  std::mutex mutex;
  std::condition_variable finished;
  std::map<std::u16string, std::vector<int>> order;
  int done = 0;
};

// A command that takes two steps (Execute, then Continue) and then finishes.
class StepCommand : public Implements<ICmd> {
 public:
  StepCommand(Journal& journal, std::u16string key, int number)
      : journal_(journal), key_(std::move(key)), number_(number) {}
  HRESULT SetEventSink(ICmdEvent* sink) override {
    sink_ = Ref<ICmdEvent>(sink, false);  // the command owns the reference it was given
    return S_OK;
  }
  HRESULT GetState(std::int32_t* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT Notify(std::int32_t, std::uint32_t*) override { return S_OK; }
  HRESULT HasKey() override { return 0; }
  HRESULT GetKey(BSTR* key) override {
    *key = SysAllocString(key_.c_str());
    return *key ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Execute() override {
    state_ = kCmdStateContinue;
    return S_OK;
  }
  HRESULT Continue() override {
    if (sink_) sink_->OnCmdEvent(number_, 0, 0);
    state_ = kCmdStateFinishedFirst;
    // Notified under the lock and touched no more: the journal goes once the last one is in.
    std::lock_guard<std::mutex> guard(journal_.mutex);
    journal_.order[key_].push_back(number_);
    ++journal_.done;
    journal_.finished.notify_all();
    return S_OK;
  }
  HRESULT Reserved() override { return E_NOTIMPL; }
  HRESULT CheckWait() override { return -1; }

 private:
  Journal& journal_;
  std::u16string key_;
  int number_;
  std::atomic<std::int32_t> state_{kCmdStateExecute};
  Ref<ICmdEvent> sink_;
};

class OrdersPlugin : public DemoPlugin {
 public:
  OrdersPlugin() : DemoPlugin(u"orders") {}

 protected:
  HRESULT Run(const std::string& step, const std::string& argument, std::string& text) override {
    if (step != "keyed") {
      text = "unknown step " + step;
      return E_INVALIDARG;
    }
    const int count = std::max(1, std::atoi(argument.c_str()));
    Ref<IWorkshop> workshop;
    if (Failed(Platform()->GetWorkshop(workshop.Put()))) {
      text = "no workshop";
      return E_FAIL;
    }
    Journal journal;
    for (int i = 1; i <= count; ++i) {
      for (const char16_t* key : {u"order", u"invoice"}) {
        Ref<ICmd> command(new StepCommand(journal, key, i), false);
        workshop->PostCmd(command.Get());
      }
    }
    std::unique_lock<std::mutex> lock(journal.mutex);
    if (!journal.finished.wait_for(lock, std::chrono::seconds(30),
                                   [&] { return journal.done == 2 * count; })) {
      text = "commands did not finish";
      return E_FAIL;
    }
    for (const auto& [key, numbers] : journal.order) {
      text += std::string(key.begin(), key.end()) + ":";
      for (int n : numbers) text += " " + std::to_string(n);
      text += "; ";
    }
    return S_OK;
  }
};

}  // namespace
}  // namespace example

KQCP_PLUGIN_EXPORT Vantor::KQCP::HRESULT GetPluginObject(Vantor::KQCP::IKQCPPlugin** plugin) {
  return example::MakePlugin<example::OrdersPlugin>(plugin);
}
