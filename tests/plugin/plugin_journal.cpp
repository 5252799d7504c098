// The journal the test plug-ins report to, exported from the test program.
#include "plugin_journal.h"

#include <dlfcn.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "os/utf.h"

namespace kqcp_test {

namespace {

std::mutex& JournalLock() {
  static std::mutex lock;
  return lock;
}
std::vector<PluginEvent>& Journal() {
  static std::vector<PluginEvent> events;
  return events;
}
PluginHook& Hook() {
  static PluginHook hook;
  return hook;
}

}  // namespace

std::vector<PluginEvent> PluginEvents() {
  std::lock_guard guard(JournalLock());
  return Journal();
}

std::vector<std::string> PluginEventNames(const std::string& onlyEvent) {
  std::vector<std::string> names;
  for (const PluginEvent& e : PluginEvents()) {
    if (onlyEvent.empty() || e.event == onlyEvent) names.push_back(e.tag + ":" + e.event);
  }
  return names;
}

int CountPluginEvents(const std::string& tag, const std::string& event) {
  int count = 0;
  for (const PluginEvent& e : PluginEvents()) count += (e.tag == tag && e.event == event);
  return count;
}

bool WaitForPluginEvent(const std::string& tag, const std::string& event, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (CountPluginEvents(tag, event) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void SetPluginHook(PluginHook hook) {
  std::lock_guard guard(JournalLock());
  Hook() = std::move(hook);
}

std::string TestPluginFile(const std::string& stem) {
  return std::string(KQCP_TEST_PLUGIN_DIR) + "/" + stem + ".so";
}

std::u16string TestPluginPath(const std::string& stem) {
  return Vantor::KQCP::os::Utf8ToUtf16(TestPluginFile(stem));
}

bool IsLibraryLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

}  // namespace kqcp_test

extern "C" __attribute__((visibility("default"))) void KqcpTestPluginEvent(
    const char* tag, const char* event, Vantor::KQCP::IKQCommunityPlatform* platform) {
  kqcp_test::PluginEvent reported{tag, event, platform};
  kqcp_test::PluginHook hook;
  {
    std::lock_guard guard(kqcp_test::JournalLock());
    kqcp_test::Journal().push_back(reported);
    hook = kqcp_test::Hook();
  }
  if (hook) hook(reported);
}
