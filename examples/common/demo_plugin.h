// The interface the example plug-ins offer to the example host: each runs named steps of the
// demo and writes a one-line report. The host finds a plug-in with the plug-in manager's
// GetPlugin and asks it for this interface.
#pragma once

#include "kqcp/types.h"

namespace example {

inline constexpr Vantor::KQCP::GUID IID_IDemoPlugin = {
    0x7D3E1A52, 0x44C1, 0x4B8E, {0x9A, 0x61, 0x0C, 0x5E, 0x2F, 0x83, 0x19, 0xD4}};

struct IDemoPlugin : Vantor::KQCP::IUnknown {
  static constexpr const Vantor::KQCP::GUID& kIid = IID_IDemoPlugin;
  // S_OK with the report; a failure code with the reason in the report.
  virtual Vantor::KQCP::HRESULT RunStep(const char* step, const char* argument, char* report,
                                        std::uint32_t length) = 0;
};

}  // namespace example
