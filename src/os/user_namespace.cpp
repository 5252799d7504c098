// Checks of the per-user folder and of every object file in it. Files are checked through
// their descriptor after opening, so nothing can be swapped between the check and the use.
#include "os/user_namespace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/log.h"

namespace Vantor::KQCP::os {
namespace {

constexpr const char* kBase = "/dev/shm/kqcp-";

// Why a folder or file that exists cannot be trusted, or null when it can.
const char* Untrusted(const struct stat& info, bool wantDirectory) {
  if (wantDirectory ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return S_ISLNK(info.st_mode) ? "it is a symbolic link"
           : wantDirectory       ? "it is not a folder"
                                 : "it is not a regular file";
  }
  if (info.st_uid != geteuid()) return "another user owns it";
  if ((info.st_mode & 077) != 0) return "other users may use it";
  if (!wantDirectory && info.st_nlink != 1) return "it has more than one link";
  return nullptr;
}

}  // namespace

std::string UserNamespaceDirectory() {
  std::string directory = kBase + std::to_string(geteuid());
  struct stat info {};
  if (lstat(directory.c_str(), &info) != 0) {
    // Made on first use; a folder someone else made meanwhile is examined like any other.
    if (errno != ENOENT || (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) ||
        lstat(directory.c_str(), &info) != 0) {
      LogRefusal("cannot make or examine the named-object folder %s: %s", directory.c_str(),
                 std::strerror(errno));
      return {};
    }
  }
  if (const char* why = Untrusted(info, true)) {
    LogRefusal("refusing the named-object folder %s: %s", directory.c_str(), why);
    return {};
  }
  return directory + '/';
}

int OpenObjectFile(const std::string& path, ObjectFileOpen how) {
  int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  if (how == ObjectFileOpen::kCreateNew) flags |= O_CREAT | O_EXCL;
  const int fd = open(path.c_str(), flags, 0600);
  if (fd < 0 && errno == ELOOP) {
    LogRefusal("refusing the named object %s: it is a symbolic link", path.c_str());
  }
  return fd;
}

bool IsPrivateObjectFile(int fd, const std::string& path) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  if (const char* why = Untrusted(info, false)) {
    LogRefusal("refusing the named object %s: %s", path.c_str(), why);
    return false;
  }
  return true;
}

}  // namespace Vantor::KQCP::os
