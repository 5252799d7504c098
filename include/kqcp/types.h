/// @file
/// Shared binary-interface types of the platform: result codes, interface identifiers, the
/// reference-counted base interface and the BSTR string functions exported by libkqcp.so.
#pragma once

#include <cstddef>
#include <cstdint>

/// Marks a C function that libkqcp.so exports.
#if defined(KQCP_BUILDING_LIBRARY)
#define KQCP_API extern "C" __attribute__((visibility("default")))
#else
#define KQCP_API extern "C"
#endif

namespace Vantor::KQCP {

/// A result code: negative for failures, S_OK (0) and S_FALSE (1) for successes.
using HRESULT = std::int32_t;
/// A reference count as AddRef and Release return it.
using ULONG = std::uint32_t;

inline constexpr HRESULT S_OK = 0;     ///< success
inline constexpr HRESULT S_FALSE = 1;  ///< success with a "no" or "nothing to do"
inline constexpr HRESULT E_NOTIMPL =
    static_cast<HRESULT>(0x80004001u);  ///< the operation is not implemented
inline constexpr HRESULT E_NOINTERFACE =
    static_cast<HRESULT>(0x80004002u);  ///< QueryInterface: the object has no such interface
inline constexpr HRESULT E_POINTER =
    static_cast<HRESULT>(0x80004003u);  ///< a required pointer argument was null
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);  ///< the operation failed
inline constexpr HRESULT E_UNEXPECTED =
    static_cast<HRESULT>(0x8000FFFFu);  ///< called in a state that does not allow it
inline constexpr HRESULT E_OUTOFMEMORY =
    static_cast<HRESULT>(0x8007000Eu);  ///< out of memory, or a caller's buffer is too short
inline constexpr HRESULT E_INVALIDARG =
    static_cast<HRESULT>(0x80070057u);  ///< an argument is outside what the operation accepts
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE =
    static_cast<HRESULT>(0x80040111u);  ///< no class of that identifier is available

/// True for S_OK, S_FALSE and every other non-negative code.
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
/// True for every negative code.
constexpr bool Failed(HRESULT hr) { return hr < 0; }

/// A 128-bit interface identifier, compared as a whole.
struct GUID {
  std::uint32_t Data1;    ///< first group
  std::uint16_t Data2;    ///< second group
  std::uint16_t Data3;    ///< third group
  std::uint8_t Data4[8];  ///< last eight bytes

  /// Equal when all 16 bytes are.
  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
  /// An order of its own, group by group, for sorted containers.
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

using IID = GUID;            ///< an interface identifier
using REFIID = const GUID&;  ///< an interface identifier as an argument

/// Interface id of IUnknown.
inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The base of every interface: query-interface, add-reference, release, in that slot order.
/// Each interface names its own identifier as kIid, so code can write iid_of<IWorkshop>().
struct IUnknown {
  static constexpr const GUID& kIid = IID_IUnknown;  ///< its interface id
  /// Stores the interface iid names in out (with a reference added, except on singletons);
  /// E_NOINTERFACE and a null out when the object has none, E_POINTER for a null out.
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  /// Adds a reference; the new count (1 for singletons). Any thread.
  virtual ULONG AddRef() = 0;
  /// Drops a reference and destroys the object with the last; the new count. Any thread.
  virtual ULONG Release() = 0;

 protected:
  /// Objects go through Release, never through delete.
  ~IUnknown() = default;
};

/// The identifier of an interface type.
template <class Interface>
constexpr const GUID& iid_of() {
  return Interface::kIid;
}

/// BSTR: UTF-16 text preceded by its 32-bit byte length and followed by a NUL unit.
using OLECHAR = char16_t;  ///< one UTF-16 unit
using BSTR = OLECHAR*;     ///< points at the first unit, after the length

}  // namespace Vantor::KQCP

/// Allocation of BSTR strings. A plug-in and the library must free each other's strings with the
/// same allocator, so these live in libkqcp.so.
/// A new string holding text up to its NUL; null for null text or no memory.
KQCP_API Vantor::KQCP::BSTR SysAllocString(const Vantor::KQCP::OLECHAR* text);
/// A new string of length units copied from text (zeroed when text is null); null when that
/// many units do not fit the length prefix or memory runs out.
KQCP_API Vantor::KQCP::BSTR SysAllocStringLen(const Vantor::KQCP::OLECHAR* text,
                                              std::uint32_t length);
/// The string's length in units; 0 for null.
KQCP_API std::uint32_t SysStringLen(Vantor::KQCP::BSTR text);
/// Frees a string these functions made; null is ignored.
KQCP_API void SysFreeString(Vantor::KQCP::BSTR text);
