// Per-thread component-runtime state.
#include "os/com_runtime.h"

namespace Vantor::KQCP::os {
namespace {
// Static TLS even though hosts dlopen the library: a few bytes, no __tls_get_addr, and
// LeakSanitizer (GCC 12) crashes scanning the dynamic TLS of threads alive at exit.
__attribute__((tls_model("initial-exec"))) thread_local int t_depth = 0;
}  // namespace

HRESULT CoInitialize(void* /*reserved*/) { return t_depth++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_depth > 0) --t_depth;
}

int ComInitDepth() { return t_depth; }

}  // namespace Vantor::KQCP::os
