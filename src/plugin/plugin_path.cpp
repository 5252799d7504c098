// Directory parts, joined paths and the default plug-in list path.
#include "plugin/plugin_path.h"

#include "os/library.h"

namespace Vantor::KQCP {

std::u16string_view DirectoryPart(std::u16string_view path) {
  const std::size_t last = path.find_last_of(u"\\/");
  // A separator at the very start still names a directory: "/" is the root on this system.
  if (last == std::u16string_view::npos || last + 1 == path.size()) return {};
  return path.substr(0, last + 1);
}

std::u16string JoinToDirectory(std::u16string_view base, std::u16string_view name) {
  const std::u16string_view directory = DirectoryPart(base);
  if (directory.empty() || directory.size() + name.size() + 1 > kMaxJoinedPath) return {};
  std::u16string joined;
  joined.reserve(directory.size() + name.size());
  joined.append(directory).append(name);
  return joined;
}

std::u16string DefaultListPathFor(std::u16string_view modulePath) {
  if (modulePath.size() + 1 > kMaxModuleFileName) return {};
  const std::u16string_view directory = DirectoryPart(modulePath);
  if (directory.empty() || directory.size() + kPluginListFileName.size() + 1 > kMaxModuleFileName) {
    return {};
  }
  std::u16string path(directory);
  path.append(kPluginListFileName);
  return path;
}

std::u16string DefaultPluginListPath() { return DefaultListPathFor(os::OwnModulePath()); }

}  // namespace Vantor::KQCP
