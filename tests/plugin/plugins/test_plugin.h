// A plug-in for the manager's tests whose behaviour each plug-in source fixes. Every call it
// receives is reported to the test program that loaded it through KqcpTestPluginEvent, which
// that program exports; the program may act on the report while the call is under way.
#pragma once

#include <atomic>

#include "kqcp/kqcp.h"

extern "C" void KqcpTestPluginEvent(const char* tag, const char* event,
                                    Vantor::KQCP::IKQCommunityPlatform* platform);

namespace {

using namespace Vantor::KQCP;

struct Behaviour {
  // Names the library in reports; two libraries may report the same plug-in name.
  const char* tag;
  // The name GetName reports; null stores a null string.
  const char16_t* name;
  HRESULT entryResult = S_OK;
  // Whether "GetPluginObject" stores an object (also when it fails).
  bool entryGivesObject = true;
  HRESULT initializeResult = S_OK;
};

class TestPlugin final : public IKQCPPlugin {
 public:
  explicit TestPlugin(const Behaviour& behaviour) : behaviour_(behaviour) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IKQCPPlugin) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++count_; }
  ULONG Release() override {
    const ULONG left = --count_;
    if (left == 0) {
      KqcpTestPluginEvent(behaviour_.tag, "Destroyed", nullptr);
      delete this;
    }
    return left;
  }
  HRESULT Initialize(IKQCommunityPlatform* platform) override {
    KqcpTestPluginEvent(behaviour_.tag, "Initialize", platform);
    return behaviour_.initializeResult;
  }
  HRESULT Notify(IKQCommunityPlatform* platform) override {
    KqcpTestPluginEvent(behaviour_.tag, "Notify", platform);
    return S_OK;
  }
  HRESULT GetName(BSTR* name) override {
    KqcpTestPluginEvent(behaviour_.tag, "GetName", nullptr);
    *name = behaviour_.name ? SysAllocString(behaviour_.name) : nullptr;
    return S_OK;
  }

 private:
  const Behaviour& behaviour_;
  std::atomic<ULONG> count_{1};
};

}  // namespace

// The export, with the plug-in's behaviour.
#define KQCP_TEST_PLUGIN(...)                                                     \
  namespace {                                                                     \
  const Behaviour kBehaviour = __VA_ARGS__;                                       \
  }                                                                               \
  KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) {              \
    KqcpTestPluginEvent(kBehaviour.tag, "GetPluginObject", nullptr);              \
    *plugin = kBehaviour.entryGivesObject ? new TestPlugin(kBehaviour) : nullptr; \
    return kBehaviour.entryResult;                                                \
  }
