// Lists the stale files, lets the library's own sweep remove them, and tells which went.
#include "sweep.h"

#include <algorithm>

namespace kqcp_tool {

using Vantor::KQCP::os::NamedObject;

bool Sweep(std::vector<ObjectFile>* removed) {
  removed->clear();
  std::vector<ObjectFile> before, after;
  if (!ListObjectFiles(&before)) return false;
  std::vector<ObjectFile> stale;
  for (const ObjectFile& file : before) {
    // A shortened name cannot be asked about; the sweep itself still judges it by its lock.
    if (file.name.empty() || !NamedObject::IsHeld(file.kind, file.name)) stale.push_back(file);
  }
  // The library's sweep decides under each file's own lock, so a name that comes alive
  // meanwhile is left alone; a file gone afterwards that was stale before is one it removed.
  if (NamedObject::RemoveStale() < 0 || !ListObjectFiles(&after)) return false;
  for (const ObjectFile& file : stale) {
    const bool remains = std::any_of(after.begin(), after.end(), [&](const ObjectFile& other) {
      return other.file == file.file;
    });
    if (!remains) removed->push_back(file);
  }
  return true;
}

}  // namespace kqcp_tool
