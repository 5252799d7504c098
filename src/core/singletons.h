// The holders of the process-wide services, so that every user names the same holder.
#pragma once

#include "base/singleton_holder.h"
#include "core/log_wrapper.h"
#include "core/platform.h"

namespace Vantor::KQCP {

using PlatformHolder = VEXO::Pattern::SingletonHolder<KQCommunityPlatform_>;
using LogWrapperHolder = VEXO::Pattern::SingletonHolder<KQLog::KQLogWrapper_>;

}  // namespace Vantor::KQCP
