// The library's registry script and its application to the registry store.
#pragma once

#include <string>

#include "kqcp/types.h"

namespace Vantor::KQCP::com {

enum class RegistryScriptAction { kRegister, kUnregister };

// Registering writes every key and value of the script; unregistering removes every key that is
// not marked to be kept. Uses the store at os::RegistryStore::DefaultPath().
HRESULT ApplyRegistryScript(RegistryScriptAction action);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GuidToString(const GUID& guid);

}  // namespace Vantor::KQCP::com
