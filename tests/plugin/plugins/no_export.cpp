// A library without the "GetPluginObject" export.
#include "kqcp/kqcp.h"

extern "C" __attribute__((visibility("default"))) int NotAPluginEntry() { return 7; }
