// Reading a file that must be a regular file: a FIFO, device or directory in its place is
// refused at once instead of blocking the reader or feeding it endless bytes.
#pragma once

#include <cstddef>
#include <functional>

namespace Vantor::KQCP {

enum class RegularFile {
  kOpened,
  // Missing, unreadable, or a loop of symbolic links.
  kCannotOpen,
  // A FIFO, device, socket or directory, also when reached through a symbolic link.
  kNotRegular,
};

// Opens the file at the native path for reading, following symbolic links, and stores the
// descriptor (close-on-exec) in fd when it is a regular file. Anything else is refused without
// waiting: nothing but a regular file is ever opened, unless the path changes meanwhile, and
// then the descriptor is checked and dropped without a read.
RegularFile OpenRegularFile(const char* path, int* fd);

// Opens the file at the native path and hands its bytes to consume block by block, until the
// end or until consume answers false. False when the file cannot be opened, is not a regular
// file, cannot be read, or consume refused a block.
bool ReadRegularFile(const char* path,
                     const std::function<bool(const char* bytes, std::size_t length)>& consume);

}  // namespace Vantor::KQCP
