// "GetPluginObject" stores a plug-in and still reports failure; the plug-in must be released.
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "entry_fails",
                  .name = u"entry_fails",
                  .entryResult = static_cast<HRESULT>(0x80070005u)})
