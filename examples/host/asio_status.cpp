// Asio outcomes mapped to the example host's documented statuses.
#include "asio_status.h"

namespace example {

HRESULT StatusOf(const asio::error_code& error) {
  namespace e = asio::error;
  if (!error) return Vantor::KQCP::S_OK;
  if (error == e::eof) return kAsioEndOfStream;
  if (error == e::operation_aborted) return kAsioAborted;
  if (error == e::connection_refused) return kAsioRefused;
  if (error == e::connection_reset || error == e::broken_pipe || error == e::connection_aborted) {
    return kAsioReset;
  }
  if (error == e::timed_out) return kAsioTimedOut;
  if (error == e::address_in_use) return kAsioAddressInUse;
  if (error == e::host_not_found || error == e::host_not_found_try_again || error == e::no_data ||
      error == e::service_not_found) {
    return kAsioHostNotFound;
  }
  if (error == e::host_unreachable || error == e::network_unreachable) return kAsioUnreachable;
  if (error == e::no_memory || error == e::no_buffer_space) return Vantor::KQCP::E_OUTOFMEMORY;
  return Vantor::KQCP::E_FAIL;
}

}  // namespace example
