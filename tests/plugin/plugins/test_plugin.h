// A plug-in for the manager's tests whose behaviour each plug-in source fixes. Every call it
// receives is reported to the test program that loaded it through KqcpTestPluginEvent, which
// that program exports; the program may act on the report while the call is under way.
#pragma once

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
  // Runs inside Initialize, before it answers.
  void (*onInitialize)(IKQCommunityPlatform* platform) = nullptr;
};

class TestPlugin final : public Implements<IKQCPPlugin> {
 public:
  explicit TestPlugin(const Behaviour& behaviour) : behaviour_(behaviour) {}
  ~TestPlugin() override { KqcpTestPluginEvent(behaviour_.tag, "Destroyed", nullptr); }

  HRESULT Initialize(IKQCommunityPlatform* platform) override {
    KqcpTestPluginEvent(behaviour_.tag, "Initialize", platform);
    if (behaviour_.onInitialize) behaviour_.onInitialize(platform);
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
