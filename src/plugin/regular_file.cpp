// Regular files opened and checked through one descriptor, so the file checked is the file read.
#include "plugin/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Vantor::KQCP {

RegularFile OpenRegularFile(const char* path, int* fd) {
  *fd = -1;
  // Opening a device can act on it (a tape rewinds, a watchdog arms), so anything that is not
  // a regular file is refused before it is opened.
  struct stat status {};
  if (stat(path, &status) != 0) return RegularFile::kCannotOpen;
  if (!S_ISREG(status.st_mode)) return RegularFile::kNotRegular;
  // Non-blocking, so that a FIFO put in its place meanwhile returns instead of waiting for a
  // writer; no controlling terminal should it be a terminal.
  const int opened = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (opened < 0) return RegularFile::kCannotOpen;
  const bool checked = fstat(opened, &status) == 0;
  if (!checked || !S_ISREG(status.st_mode)) {
    close(opened);
    return checked ? RegularFile::kNotRegular : RegularFile::kCannotOpen;
  }
  *fd = opened;
  return RegularFile::kOpened;
}

bool ReadRegularFile(const char* path,
                     const std::function<bool(const char* bytes, std::size_t length)>& consume) {
  int fd = -1;
  if (OpenRegularFile(path, &fd) != RegularFile::kOpened) return false;
  bool ok = true;
  char block[4096];
  while (ok) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = consume(block, static_cast<std::size_t>(got));
  }
  close(fd);
  return ok;
}

}  // namespace Vantor::KQCP
