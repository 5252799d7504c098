// The named objects of this process that hold their names. When the process exits normally or
// the library is unloaded, each name whose last holder this process is gets removed, so normal
// runs leave no files behind.
#pragma once

namespace Vantor::KQCP::os {

class NamedObject;

void AddHeldName(NamedObject* object);
void RemoveHeldName(NamedObject* object);

}  // namespace Vantor::KQCP::os
