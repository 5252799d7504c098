// Plug-in library files loaded through their descriptors, and the loader names those leave
// behind.
#include "plugin/plugin_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>

#include "base/critical_section.h"
#include "kqcp/plugin.h"
#include "os/log.h"
#include "os/utf.h"
#include "plugin/regular_file.h"

namespace Vantor::KQCP {
namespace {

using VEXO::System::Thread::ScopedLock;

struct FileId {
  dev_t device;
  ino_t inode;
  bool operator==(const FileId&) const = default;
};

// The loader finds an object by the name it was loaded under before it opens anything, and a
// library stays known by "/proc/self/fd/N" after N was closed, for as long as it stays loaded
// (plug-ins stay for good). Loading another file through a later descriptor of the same
// number would give back the earlier library. So each number whose name the loader still
// holds is noted here with the file it stands for.
VEXO::System::Thread::CriticalSection g_namesLock;
// Never destroyed, so that a load racing the end of the process finds it intact.
std::map<int, FileId>& LoaderNames() {
  static auto* names = new std::map<int, FileId>;
  return *names;
}

// The loader's name for the file open as fd: its entry under /proc/self/fd. Made without
// allocating, for the destructor.
using LoaderName = std::array<char, 32>;
LoaderName NameOf(int fd) {
  LoaderName name{};
  std::snprintf(name.data(), name.size(), "/proc/self/fd/%d", fd);
  return name;
}

// At most this many numbers are passed over for one load; each is one library loaded earlier.
constexpr std::size_t kMostPassedOver = 1024;

// The path as it may stand in a log line: printable ASCII only, and not too long.
std::string Printable(const std::string& text) {
  constexpr std::size_t kLongest = 200;
  std::string out;
  for (const char c : text.substr(0, kLongest)) out += c >= 0x20 && c < 0x7f ? c : '?';
  if (text.size() > kLongest) out += "...";
  return out;
}

}  // namespace

PluginFile::~PluginFile() {
  if (fd_ >= 0 && loaded_) {
    // Asked by name only: RTLD_NOLOAD loads nothing, and the descriptor still names this file.
    const LoaderName name = NameOf(fd_);
    void* still = dlopen(name.data(), RTLD_LAZY | RTLD_NOLOAD);
    {
      ScopedLock guard(g_namesLock);
      try {
        if (still) {
          LoaderNames()[fd_] = FileId{device_, inode_};
        } else {
          LoaderNames().erase(fd_);
        }
      } catch (...) {
        // Not noted: the number is never closed, so nobody can meet the name.
        fd_ = -1;
      }
    }
    if (still) dlclose(still);
  }
  if (fd_ >= 0) close(fd_);
  for (const int fd : passedOver_) close(fd);
}

HRESULT PluginFile::Open(const std::u16string& path) {
  const std::string native = os::ToNativePath(path);
  struct stat status {};
  switch (OpenRegularFile(native.c_str(), &fd_)) {
    case RegularFile::kOpened:
      break;
    case RegularFile::kNotRegular:
      os::LogRefusal("refusing the plug-in library %s: it is not a regular file",
                     Printable(native).c_str());
      return KQCP_E_PLUGIN_NOT_LOADABLE;
    case RegularFile::kCannotOpen:
      return KQCP_E_PLUGIN_NOT_LOADABLE;
  }
  if (fstat(fd_, &status) != 0) return KQCP_E_PLUGIN_NOT_LOADABLE;
  device_ = status.st_dev;
  inode_ = status.st_ino;
  return S_OK;
}

HRESULT PluginFile::Load(os::Library& library) {
  if (fd_ < 0) return KQCP_E_PLUGIN_NOT_LOADABLE;
  {
    ScopedLock guard(g_namesLock);
    for (;;) {
      const auto known = LoaderNames().find(fd_);
      // A name of this same file is fine: the loader hands back the library it has.
      if (known == LoaderNames().end() || known->second == FileId{device_, inode_}) break;
      if (passedOver_.size() >= kMostPassedOver) return KQCP_E_PLUGIN_NOT_LOADABLE;
      passedOver_.push_back(fd_);
      const int other = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
      if (other < 0) {
        passedOver_.pop_back();
        return KQCP_E_PLUGIN_NOT_LOADABLE;
      }
      fd_ = other;
    }
  }
  // The loader opens the descriptor's entry, which reaches the checked file whatever its path
  // names by now. The plug-in manager keeps the path it was given.
  loaded_ = library.Load(os::Utf8ToUtf16(NameOf(fd_).data()));
  return loaded_ ? S_OK : KQCP_E_PLUGIN_NOT_LOADABLE;
}

}  // namespace Vantor::KQCP
