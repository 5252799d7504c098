// The module object and the exports that reach it. It is constructed at library load, after the
// singleton locks (which are constant-initialised and exist before any code runs), and
// destroyed at unload before them.
#include "com/module.h"

#include "com/registration.h"
#include "kqcp/platform.h"
#include "os/library.h"

namespace Vantor::KQCP::com {
namespace {
CKQCPModule g_module;
}

CKQCPModule& TheModule() { return g_module; }

CKQCPModule::CKQCPModule() : moduleHandle_(os::OwnModuleHandle()) {}

void CKQCPModule::Pin() {
  // Answered as pinned even should the loader refuse: the caller's threads rely on it either way.
  pinned_.store(true);
  os::PinOwnModule();
}

HRESULT CKQCPModule::DllCanUnloadNow() const {
  return GetLockCount() == 0 && !pinned_.load() ? S_OK : S_FALSE;
}

HRESULT CKQCPModule::DllGetClassObject(REFIID /*classId*/, REFIID /*iid*/, void** out) const {
  // The class map is empty: the platform is reached only through GetKQCommunityPlatform.
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CKQCPModule::DllRegisterServer() const {
  return ApplyRegistryScript(RegistryScriptAction::kRegister);
}

HRESULT CKQCPModule::DllUnregisterServer() const {
  return ApplyRegistryScript(RegistryScriptAction::kUnregister);
}

}  // namespace Vantor::KQCP::com

using Vantor::KQCP::HRESULT;
using Vantor::KQCP::REFIID;

KQCP_API HRESULT DllCanUnloadNow() { return Vantor::KQCP::com::TheModule().DllCanUnloadNow(); }

KQCP_API HRESULT DllGetClassObject(REFIID classId, REFIID iid, void** out) {
  return Vantor::KQCP::com::TheModule().DllGetClassObject(classId, iid, out);
}

KQCP_API HRESULT DllRegisterServer() {
  try {
    return Vantor::KQCP::com::TheModule().DllRegisterServer();
  } catch (...) {
    return Vantor::KQCP::E_FAIL;
  }
}

KQCP_API HRESULT DllUnregisterServer() {
  try {
    return Vantor::KQCP::com::TheModule().DllUnregisterServer();
  } catch (...) {
    return Vantor::KQCP::E_FAIL;
  }
}
