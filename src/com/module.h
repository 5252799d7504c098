// The component module object: the library's module handle, its lock count (one per live
// component object) and the four standard component-library entry points.
#pragma once

#include <atomic>
#include <cstdint>

#include "kqcp/types.h"

namespace Vantor::KQCP::com {

// The library's application identifier, recorded by registration.
inline constexpr GUID kAppId = {
    0xFBFFAF86, 0x6074, 0x479A, {0x81, 0x17, 0x3F, 0x41, 0x44, 0x01, 0x45, 0xFE}};
// Type library declared by the module; none is shipped, so none is registered.
inline constexpr GUID kTypeLibId = {
    0xC69B6258, 0x564C, 0x4203, {0x9B, 0xBB, 0x2D, 0x38, 0x24, 0x3E, 0xCF, 0xCA}};
inline constexpr const char16_t* kProjectName = u"KQCP";

class CKQCPModule {
 public:
  CKQCPModule();
  // Only what the component runtime holds would be released here; the platform's singletons
  // are never destroyed.
  ~CKQCPModule() = default;
  CKQCPModule(const CKQCPModule&) = delete;
  CKQCPModule& operator=(const CKQCPModule&) = delete;

  std::int32_t Lock() { return ++lockCount_; }
  std::int32_t Unlock() { return --lockCount_; }
  std::int32_t GetLockCount() const { return lockCount_.load(); }
  void* ModuleHandle() const { return moduleHandle_; }
  // Keeps the library mapped until the process ends: threads it started run its code for good,
  // so a host's dlclose must not unmap it.
  void Pin();

  // S_OK only while no component object lives and the library has not been pinned.
  HRESULT DllCanUnloadNow() const;
  HRESULT DllGetClassObject(REFIID classId, REFIID iid, void** out) const;
  HRESULT DllRegisterServer() const;
  HRESULT DllUnregisterServer() const;

 private:
  std::atomic<std::int32_t> lockCount_{0};
  std::atomic<bool> pinned_{false};
  void* moduleHandle_ = nullptr;
};

// The one module object of the library.
CKQCPModule& TheModule();

}  // namespace Vantor::KQCP::com
