// Removal of the named objects that processes which are gone left behind.
#pragma once

#include <vector>

#include "namespace_files.h"

namespace kqcp_tool {

// Sweeps the user's folder; the files that went are those no live process held before the
// sweep and that are gone after it. False when the folder cannot be used.
bool Sweep(std::vector<ObjectFile>* removed);

}  // namespace kqcp_tool
