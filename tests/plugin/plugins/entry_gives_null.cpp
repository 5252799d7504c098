// "GetPluginObject" reports success but stores no plug-in.
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "entry_gives_null",
                  .name = u"entry_gives_null",
                  .entryGivesObject = false})
