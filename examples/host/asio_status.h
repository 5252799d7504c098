// What the example host reports as a request's status (operation Op4), and the guard that
// keeps exceptions, such as an allocation failure, inside the host's interface calls.
#pragma once

#include <asio.hpp>
#include <new>

#include "kqcp/types.h"

namespace example {

using Vantor::KQCP::HRESULT;

// Still running: the request's event has not arrived yet.
inline constexpr HRESULT kAsioPending = static_cast<HRESULT>(0x8000000Au);
// The peer closed its sending side; a receive ends with 0 bytes. A success code.
inline constexpr HRESULT kAsioEndOfStream = Vantor::KQCP::S_FALSE;
// Cancelled: the socket was closed, or the host shut down.
inline constexpr HRESULT kAsioAborted = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT kAsioRefused = static_cast<HRESULT>(0x800704C9u);
inline constexpr HRESULT kAsioReset = static_cast<HRESULT>(0x80072746u);
inline constexpr HRESULT kAsioTimedOut = static_cast<HRESULT>(0x800705B4u);
inline constexpr HRESULT kAsioAddressInUse = static_cast<HRESULT>(0x80072740u);
inline constexpr HRESULT kAsioHostNotFound = static_cast<HRESULT>(0x80072AF9u);
inline constexpr HRESULT kAsioUnreachable = static_cast<HRESULT>(0x80072751u);
// Any other failure is E_FAIL; an allocation failure E_OUTOFMEMORY.

// The status of an Asio outcome.
HRESULT StatusOf(const asio::error_code& error);

// Runs body and turns an escaping exception into a status.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Vantor::KQCP::E_OUTOFMEMORY;
  } catch (...) {
    return Vantor::KQCP::E_FAIL;
  }
}

}  // namespace example
