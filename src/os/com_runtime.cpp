// Per-thread component-runtime state.
#include "os/com_runtime.h"

namespace Vantor::KQCP::os {
namespace {
thread_local int t_depth = 0;
}

HRESULT CoInitialize(void* /*reserved*/) { return t_depth++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_depth > 0) --t_depth;
}

int ComInitDepth() { return t_depth; }

}  // namespace Vantor::KQCP::os
