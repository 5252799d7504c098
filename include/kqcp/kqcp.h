/// @file
/// Everything a host application or a plug-in needs from the platform, in one include.
#pragma once

#include "kqcp/asyn.h"
#include "kqcp/asyn_host.h"
#include "kqcp/cache.h"
#include "kqcp/implements.h"
#include "kqcp/lua.h"
#include "kqcp/platform.h"
#include "kqcp/plugin.h"
#include "kqcp/share.h"
#include "kqcp/types.h"
#include "kqcp/workshop.h"
#include "kqcp/xml.h"
