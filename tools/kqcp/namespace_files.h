// The object files of the calling user's namespace folder, decoded back to kinds and names.
#pragma once

#include <string>
#include <vector>

#include "os/named_object.h"

namespace kqcp_tool {

struct ObjectFile {
  Vantor::KQCP::os::NamedKind kind;
  std::string file;  // the file name inside the folder
  std::string name;  // the object's name; empty when the file name does not decode
};

// Every "kqcp.*" file of the folder, in name order; false when the folder cannot be used.
bool ListObjectFiles(std::vector<ObjectFile>* files);

// "shm", "mutex" or "semaphore".
const char* KindName(Vantor::KQCP::os::NamedKind kind);

// Letters, digits, '-', '_' and '.' only, 1 to 128 of them.
bool IsValidPlatformName(const std::string& name);

}  // namespace kqcp_tool
