// The test program's side of the test plug-ins: what they reported, in order, and a hook that
// runs inside the plug-in's call (so a test can call back into the platform from there).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kqcp/kqcp.h"

namespace kqcp_test {

struct PluginEvent {
  std::string tag;
  std::string event;
  Vantor::KQCP::IKQCommunityPlatform* platform;
};

using PluginHook = std::function<void(const PluginEvent&)>;

// Everything reported so far.
std::vector<PluginEvent> PluginEvents();
// "tag:event" for each report, optionally only those of one event kind.
std::vector<std::string> PluginEventNames(const std::string& onlyEvent = "");
// How often tag reported event.
int CountPluginEvents(const std::string& tag, const std::string& event);
// Waits until tag has reported event (at most the time given); false when it has not.
bool WaitForPluginEvent(const std::string& tag, const std::string& event, int timeoutMs = 20000);
// Runs for every later report, on the reporting thread, without the journal's lock held.
void SetPluginHook(PluginHook hook);

// Full path of a test plug-in library built beside the tests ("alpha" -> ".../alpha.so").
std::u16string TestPluginPath(const std::string& stem);
std::string TestPluginFile(const std::string& stem);
// Whether the library at that path is loaded in this process now.
bool IsLibraryLoaded(const std::string& path);

}  // namespace kqcp_test
