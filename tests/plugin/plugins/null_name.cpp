// A plug-in that reports no name string at all.
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "null_name", .name = nullptr})
