// The registry script: everything lies under HKEY_CLASSES_ROOT, and "%APPID%" stands for the
// application identifier in braces. The AppID root key is shared with other applications and is
// never removed.
#include "com/registration.h"

#include <cstdio>

#include "com/module.h"
#include "os/registry_store.h"

namespace Vantor::KQCP::com {
namespace {

constexpr const char* kRoot = "HKEY_CLASSES_ROOT";

struct ScriptEntry {
  const char* key;        // under the root, "/"-separated
  const char* valueName;  // null: the key has no value of its own; "": the default value
  const char* value;
  bool keepOnRemoval;
};

constexpr ScriptEntry kScript[] = {
    {"AppID", nullptr, nullptr, true},
    {"AppID/%APPID%", "", "KQCP", false},
    {"AppID/KQCP.DLL", "AppID", "%APPID%", false},
};

std::string Substitute(std::string text, const std::string& appId) {
  const std::string token = "%APPID%";
  for (auto pos = text.find(token); pos != std::string::npos; pos = text.find(token, pos)) {
    text.replace(pos, token.size(), appId);
    pos += appId.size();
  }
  return text;
}

}  // namespace

std::string GuidToString(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

HRESULT ApplyRegistryScript(RegistryScriptAction action) {
  const std::string appId = GuidToString(kAppId);
  const std::string path = os::RegistryStore::DefaultPath();
  if (path.empty()) return E_FAIL;  // a user without a home has nowhere of their own
  os::RegistryStore store(path);
  if (action == RegistryScriptAction::kRegister) {
    for (const ScriptEntry& entry : kScript) {
      std::string key = std::string(kRoot) + "/" + Substitute(entry.key, appId);
      bool ok = entry.valueName
                    ? store.SetValue(key, entry.valueName, Substitute(entry.value, appId))
                    : store.CreateKey(key);
      if (!ok) return E_FAIL;
    }
    // No classes to register, and no type library ships with the library.
    return S_OK;
  }
  // Removal runs deepest keys first, the reverse of registration.
  for (auto it = std::rbegin(kScript); it != std::rend(kScript); ++it) {
    if (it->keepOnRemoval) continue;
    if (!store.DeleteKey(std::string(kRoot) + "/" + Substitute(it->key, appId))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace Vantor::KQCP::com
