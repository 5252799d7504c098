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

// Where a user's names live. The login manager makes /run/user/UID for that user alone, so no
// one else can take a folder there first; /dev/shm is open to every user (sticky), so there
// someone may. The choice depends on nothing a process can set for itself (such as the
// environment), so that every process of the user makes the same one.
constexpr const char* kRuntimeBase = "/run/user/";
constexpr const char* kRuntimeFolder = "/kqcp";
constexpr const char* kSharedBase = "/dev/shm/kqcp-";

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

// The user's runtime folder, or empty when the user has none that can be trusted.
std::string RuntimeDirectory(uid_t user) {
  std::string directory = kRuntimeBase + std::to_string(user);
  struct stat info {};
  if (lstat(directory.c_str(), &info) != 0 || Untrusted(info, true)) return {};
  return directory;
}

std::string UserNamespaceDirectory() {
  const uid_t user = geteuid();
  const std::string runtime = RuntimeDirectory(user);
  const std::string directory =
      runtime.empty() ? kSharedBase + std::to_string(user) : runtime + kRuntimeFolder;
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
    if (runtime.empty()) {
      LogRefusal(
          "refusing the named-object folder %s: %s; its owner or root must remove it, or give "
          "this user a runtime folder %s%u of its own (mode 0700, as a login session makes)",
          directory.c_str(), why, kRuntimeBase, static_cast<unsigned>(user));
    } else {
      LogRefusal("refusing the named-object folder %s: %s; remove it", directory.c_str(), why);
    }
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
  return fstat(fd, &info) == 0 && IsPrivateObjectFile(info, path);
}

bool IsPrivateObjectFile(const struct stat& info, const std::string& path) {
  if (const char* why = Untrusted(info, false)) {
    LogRefusal("refusing the named object %s: %s", path.c_str(), why);
    return false;
  }
  return true;
}

}  // namespace Vantor::KQCP::os
