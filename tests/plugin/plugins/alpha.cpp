// A plug-in that loads and initialises: "alpha".
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "alpha", .name = u"alpha"})
