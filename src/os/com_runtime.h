// The per-thread component-runtime calls. On Linux they only keep a per-thread count, so that
// the initialise/uninitialise pairing of worker threads can be observed.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP::os {

// S_OK on the first call of a thread, S_FALSE on nested calls.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
int ComInitDepth();

}  // namespace Vantor::KQCP::os
