// A plug-in library's file, opened without blocking and checked to be a regular file before the
// loader sees it; the loader is then given that very file through its descriptor, so that
// nothing put in its place meanwhile (a FIFO that would block the loader's open with its lock
// held) is ever loaded.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "kqcp/types.h"
#include "os/library.h"

namespace Vantor::KQCP {

class PluginFile {
 public:
  PluginFile() = default;
  // Notes whether the loader keeps the file under its descriptor's name, then closes it. Must
  // outlive the library loaded from it, so that a library freed at the end is seen as gone.
  ~PluginFile();
  PluginFile(const PluginFile&) = delete;
  PluginFile& operator=(const PluginFile&) = delete;

  // S_OK, or KQCP_E_PLUGIN_NOT_LOADABLE when the file cannot be opened or is not a regular file
  // (that one with a line on standard error).
  HRESULT Open(const std::u16string& path);
  // Loads the opened file; KQCP_E_PLUGIN_NOT_LOADABLE when the loader refuses it.
  HRESULT Load(os::Library& library);

 private:
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool loaded_ = false;
  // Descriptors whose numbers the loader knows as names of other files; held until the end so
  // that a duplicate gets a number of its own.
  std::vector<int> passedOver_;
};

}  // namespace Vantor::KQCP
