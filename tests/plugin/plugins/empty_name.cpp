// A plug-in that reports an empty name.
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "empty_name", .name = u""})
