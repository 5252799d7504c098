// Regular files read through one descriptor, so the file checked is the file read.
#include "plugin/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Vantor::KQCP {

bool ReadRegularFile(const char* path,
                     const std::function<bool(const char* bytes, std::size_t length)>& consume) {
  // Non-blocking, so that opening a FIFO without a writer returns instead of waiting for one.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
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
