// A plug-in that works with the platform inside Initialize and then refuses: it registers an
// object, posts a workshop command and starts a thread, all running its own code afterwards.
#include <chrono>
#include <thread>

#include "left_behind.h"
#include "test_plugin.h"

namespace {

constexpr const char* kTag = "leaves_work";

class LeftObject final : public Implements<IUnknown> {
 public:
  ~LeftObject() override { KqcpTestPluginEvent(kTag, "ObjectDestroyed", nullptr); }
};

// Unkeyed; executes once and then reports itself finished.
class LeftCommand final : public Implements<ICmd> {
 public:
  ~LeftCommand() override { KqcpTestPluginEvent(kTag, "CommandDestroyed", nullptr); }
  HRESULT SetEventSink(ICmdEvent* sink) override {
    if (sink) sink->Release();
    return S_OK;
  }
  HRESULT GetState(std::int32_t* state) override {
    *state = executed_ ? kCmdStateFinishedFirst : kCmdStateExecute;
    return S_OK;
  }
  HRESULT Notify(std::int32_t, std::uint32_t*) override { return S_OK; }
  HRESULT HasKey() override { return -1; }
  HRESULT GetKey(BSTR* key) override {
    *key = SysAllocString(u"");
    return S_OK;
  }
  HRESULT Execute() override {
    executed_ = true;
    KqcpTestPluginEvent(kTag, "CommandExecuted", nullptr);
    return S_OK;
  }
  HRESULT Continue() override { return S_OK; }
  HRESULT Reserved() override { return S_OK; }
  HRESULT CheckWait() override { return S_OK; }

 private:
  std::atomic<bool> executed_{false};
};

void LeaveWorkBehind(IKQCommunityPlatform* platform) {
  IKQCPPluginManager* manager = nullptr;
  if (platform->GetPluginManager(&manager) == S_OK) {
    IUnknown* object = new LeftObject();
    manager->RegisterObject(kqcp_test::kLeftBehindObjectId, object);
    object->Release();
  }
  IWorkshop* workshop = nullptr;
  if (platform->GetWorkshop(&workshop) == S_OK) {
    ICmd* command = new LeftCommand();
    workshop->PostCmd(command);
    command->Release();
    workshop->Release();
  }
  // Still in this library's code well after Initialize has answered.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    KqcpTestPluginEvent(kTag, "ThreadEnded", nullptr);
  }).detach();
}

}  // namespace

KQCP_TEST_PLUGIN({.tag = kTag,
                  .name = u"leaves_work",
                  .initializeResult = E_FAIL,
                  .onInitialize = &LeaveWorkBehind})
