/// @file
/// Shared binary-interface types of the platform: result codes, interface identifiers, the
/// reference-counted base interface and the BSTR string functions exported by libkqcp.so.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(KQCP_BUILDING_LIBRARY)
#define KQCP_API extern "C" __attribute__((visibility("default")))
#else
#define KQCP_API extern "C"
#endif

namespace Vantor::KQCP {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

/// A 128-bit interface identifier, compared as a whole.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
  friend constexpr bool operator<(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    }
    return false;
  }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using REFIID = const GUID&;

inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The base of every interface: query-interface, add-reference, release, in that slot order.
/// Each interface names its own identifier as kIid, so code can write iid_of<IWorkshop>().
struct IUnknown {
  static constexpr const GUID& kIid = IID_IUnknown;
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

template <class Interface>
constexpr const GUID& iid_of() {
  return Interface::kIid;
}

/// BSTR: UTF-16 text preceded by its 32-bit byte length and followed by a NUL unit.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;

}  // namespace Vantor::KQCP

/// Allocation of BSTR strings. A plug-in and the library must free each other's strings with the
/// same allocator, so these live in libkqcp.so.
KQCP_API Vantor::KQCP::BSTR SysAllocString(const Vantor::KQCP::OLECHAR* text);
KQCP_API Vantor::KQCP::BSTR SysAllocStringLen(const Vantor::KQCP::OLECHAR* text,
                                              std::uint32_t length);
KQCP_API std::uint32_t SysStringLen(Vantor::KQCP::BSTR text);
KQCP_API void SysFreeString(Vantor::KQCP::BSTR text);
