// BSTR allocation, exported so that plug-ins and the library share one allocator. Layout: a
// 32-bit byte length, the UTF-16 units, then a NUL unit; the BSTR points at the first unit.
#include <cstdlib>
#include <cstring>

#include "kqcp/types.h"
#include "os/utf.h"

using Vantor::KQCP::BSTR;
using Vantor::KQCP::OLECHAR;

KQCP_API BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (0xFFFFFFFFu - sizeof(std::uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR)) {
    return nullptr;
  }
  std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
  auto* block =
      static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  auto byteLength = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &byteLength, sizeof byteLength);
  auto* units = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
  if (text) {
    std::memcpy(units, text, bytes);
  } else {
    std::memset(units, 0, bytes);
  }
  units[length] = 0;
  return units;
}

KQCP_API BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<std::uint32_t>(Vantor::KQCP::os::Utf16Length(text)));
}

KQCP_API std::uint32_t SysStringLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t byteLength = 0;
  std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t),
              sizeof byteLength);
  return byteLength / sizeof(OLECHAR);
}

KQCP_API void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
}
