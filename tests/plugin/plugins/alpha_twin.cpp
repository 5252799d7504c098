// A second library whose plug-in also reports the name "alpha".
#include "test_plugin.h"

KQCP_TEST_PLUGIN({.tag = "alpha_twin", .name = u"alpha"})
