// Creation of the workshop, for the platform that owns it.
#pragma once

#include "kqcp/workshop.h"

namespace Vantor::KQCP {

// A new, not yet started workshop with one reference owned by the caller. E_POINTER for a null
// out-pointer, E_OUTOFMEMORY (out untouched) when it cannot be made.
HRESULT CreateWorkshop(IWorkshop** out);

}  // namespace Vantor::KQCP
