// The calling user's private namespace of named objects: a folder of its own, mode 0700, so
// that no other user can create, replace or open the user's objects. It is "kqcp" in the
// user's runtime folder /run/user/UID where the user has one (no other user can make a folder
// there first), and /dev/shm/kqcp-UID elsewhere. Object files
// inside it are opened without following symlinks and are used only when they are regular
// files of this user, closed to everyone else, with a single link.
#pragma once

#include <sys/stat.h>

#include <string>

namespace Vantor::KQCP::os {

// The folder (with a trailing '/'), made when missing. Empty, with a line in the log, when the
// folder is not a real folder of this user closed to others: it is then never used.
std::string UserNamespaceDirectory();

enum class ObjectFileOpen { kExisting, kCreateNew };

// Opens (or with kCreateNew makes, exclusively, mode 0600) an object file: read-write, never
// through a symlink, closed on exec. -1 with errno on failure (ELOOP for a symlink, EEXIST when
// kCreateNew finds a file).
int OpenObjectFile(const std::string& path, ObjectFileOpen how);

// True when the open file is a regular file of this user that no one else may read or write,
// with a single link; otherwise logs why it is refused.
bool IsPrivateObjectFile(int fd, const std::string& path);
// As above, for what fstat of the open file found.
bool IsPrivateObjectFile(const struct stat& info, const std::string& path);

}  // namespace Vantor::KQCP::os
