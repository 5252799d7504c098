// Plug-ins for the order of notification, one per PLUGIN_VARIANT: names that sort differently
// by UTF-16 code unit, by code point and by letter case.
#include "test_plugin.h"

namespace {
constexpr Behaviour kVariants[] = {
    {.tag = "beta", .name = u"beta"},         {.tag = "zulu", .name = u"Zulu"},
    {.tag = "alphabet", .name = u"alphabet"}, {.tag = "emoji", .name = u"\U0001F600"},
    {.tag = "fullwidth", .name = u"\uFF21"},
};
}  // namespace

KQCP_TEST_PLUGIN(kVariants[PLUGIN_VARIANT])
