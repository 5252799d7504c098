// A plug-in whose Initialize refuses with its own code.
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "refuses_init",
                  .name = u"refuses_init",
                  .initializeResult = static_cast<HRESULT>(0x80070032u)})
