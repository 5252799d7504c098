// Named objects over files in the user's folder with open-file-description locks. Byte 0: one
// shared lock per live handle. Byte 1: an exclusive lock held only while a process creates,
// opens or closes. Per-process fcntl locks would not do: they vanish when any descriptor of the
// file closes.
#include "os/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "os/futex.h"
#include "os/held_names.h"
#include "os/object_descriptors.h"
#include "os/user_namespace.h"

namespace Vantor::KQCP::os {
namespace {

constexpr off_t kHandleByte = 0;
constexpr off_t kTransitionByte = 1;
// The longest pause between two tries of a held transition lock.
constexpr std::int64_t kLongestPauseNs = 2000000;
// Longest escaped name kept whole; longer ones keep a prefix and a hash of the full name.
constexpr std::size_t kMaxEscaped = 180;

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

// Letters, digits, '-' and '_' stand for themselves; every other byte becomes %XX.
std::string EscapeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  if (out.size() > kMaxEscaped) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "#%016llx", static_cast<unsigned long long>(Fnv1a(name)));
    out = out.substr(0, kMaxEscaped - 17) + hash;
  }
  return out;
}

bool SetLock(int fd, short type, off_t byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// Takes the transition lock within boundMs. A live peer holds it for microseconds, so the
// first try nearly always wins; after that the pauses grow, as there is no timed lock call.
bool LockTransition(int fd, std::uint32_t boundMs) {
  if (SetLock(fd, F_WRLCK, kTransitionByte)) return true;
  if (boundMs == 0 || (errno != EAGAIN && errno != EACCES)) return false;
  const std::int64_t deadline = MonotonicNowNs() + std::int64_t{boundMs} * 1000000;
  std::int64_t pauseNs = 20000;
  for (;;) {
    const std::int64_t left = deadline - MonotonicNowNs();
    if (left <= 0) return false;
    const std::int64_t pause = std::min(pauseNs, left);
    const timespec interval{static_cast<time_t>(pause / 1000000000),
                            static_cast<long>(pause % 1000000000)};
    nanosleep(&interval, nullptr);
    pauseNs = std::min<std::int64_t>(pauseNs * 2, kLongestPauseNs);
    if (SetLock(fd, F_WRLCK, kTransitionByte)) return true;
    if (errno != EAGAIN && errno != EACCES) return false;
  }
}

// True when an open file description other than fd's holds a lock on the handle byte.
bool OthersHoldHandles(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kHandleByte;
  probe.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return true;  // unsure: assume alive
  return probe.l_type != F_UNLCK;
}

// True while fd's file is still the one the path names.
bool StillLinked(const struct stat& byFd, const std::string& path) {
  struct stat byPath {};
  if (byFd.st_nlink == 0 || lstat(path.c_str(), &byPath) != 0) return false;
  return byFd.st_ino == byPath.st_ino && byFd.st_dev == byPath.st_dev;
}

bool StillLinked(int fd, const std::string& path) {
  struct stat byFd {};
  return fstat(fd, &byFd) == 0 && StillLinked(byFd, path);
}

void* MapShared(int fd, std::size_t size) {
  return mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
}

// Holds the transition lock of fd for one decision.
class TransitionGuard {
 public:
  TransitionGuard(int fd, std::uint32_t boundMs) : fd_(fd), held_(LockTransition(fd, boundMs)) {}
  ~TransitionGuard() {
    if (held_) SetLock(fd_, F_UNLCK, kTransitionByte);
  }
  TransitionGuard(const TransitionGuard&) = delete;
  TransitionGuard& operator=(const TransitionGuard&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_;
};

// A descriptor of an object file opened only for a look, closed at the end of the scope.
class Peek {
 public:
  explicit Peek(const std::string& path) {
    OpenTracked(&fd_, [&] { return OpenObjectFile(path, ObjectFileOpen::kExisting); });
  }
  ~Peek() { CloseTracked(&fd_); }
  Peek(const Peek&) = delete;
  Peek& operator=(const Peek&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace

const char* NamedObject::KindPrefix(NamedKind kind) {
  switch (kind) {
    case NamedKind::kSharedMemory:
      return "kqcp.shm.";
    case NamedKind::kMutex:
      return "kqcp.mtx.";
    case NamedKind::kSemaphore:
      return "kqcp.sem.";
  }
  return "kqcp.obj.";
}

std::string NamedObject::FilePath(NamedKind kind, const std::string& name) {
  const std::string directory = UserNamespaceDirectory();
  if (directory.empty()) return {};
  return directory + KindPrefix(kind) + EscapeName(name);
}

std::shared_ptr<NamedObject> NamedObject::Create(NamedKind kind, const std::string& name,
                                                 std::size_t size, const Initializer& init,
                                                 NamedResult* result, std::uint32_t boundMs) {
  *result = NamedResult::kFailed;
  if (size == 0) size = 1;  // a mapping needs at least one byte
  const std::string path = FilePath(kind, name);
  if (path.empty()) return nullptr;
  // Racing creators, sweepers and closers may unlink the file between our open and our lock;
  // each such round starts again with a fresh file.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::shared_ptr<NamedObject> object(new NamedObject());
    object->name_ = name;
    object->path_ = path;
    int fd = object->OpenFile(ObjectFileOpen::kCreateNew);
    const bool fresh = fd >= 0;
    if (!fresh) {
      if (errno != EEXIST) return nullptr;
      fd = object->OpenFile(ObjectFileOpen::kExisting);
      if (fd < 0) {
        if (errno == ENOENT) continue;
        return nullptr;
      }
    }
    TransitionGuard guard(fd, boundMs);
    if (!guard.Held()) {
      *result = NamedResult::kBusy;
      return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) return nullptr;
    if (!StillLinked(info, path)) continue;  // object's destructor closes fd
    if (!IsPrivateObjectFile(info, path)) return nullptr;
    if (OthersHoldHandles(fd)) {
      *result = NamedResult::kAlreadyExists;
      return nullptr;
    }
    if (!fresh) {
      // Left behind by processes that are gone. A fresh file rather than the old one, so that
      // a sender still mapping the old file can tell the new object from it.
      unlink(path.c_str());
      continue;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) return nullptr;
    void* data = MapShared(fd, size);
    if (data == MAP_FAILED) return nullptr;
    object->data_ = data;
    object->size_ = size;
    if (init && !init(data, size)) return nullptr;
    if (!SetLock(fd, F_RDLCK, kHandleByte)) return nullptr;
    object->HoldName();
    *result = NamedResult::kOk;
    return object;
  }
  return nullptr;
}

std::shared_ptr<NamedObject> NamedObject::Open(NamedKind kind, const std::string& name,
                                               NamedResult* result, bool holdName,
                                               std::uint32_t boundMs) {
  *result = NamedResult::kFailed;
  const std::string path = FilePath(kind, name);
  if (path.empty()) return nullptr;
  std::shared_ptr<NamedObject> object(new NamedObject());
  object->name_ = name;
  object->path_ = path;
  const int fd = object->OpenFile(ObjectFileOpen::kExisting);
  if (fd < 0) {
    if (errno == ENOENT) *result = NamedResult::kNotFound;
    return nullptr;
  }
  TransitionGuard guard(fd, boundMs);
  if (!guard.Held()) {
    *result = NamedResult::kBusy;
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return nullptr;
  if (!StillLinked(info, path) || !OthersHoldHandles(fd)) {  // gone or stale
    *result = NamedResult::kNotFound;
    return nullptr;
  }
  if (!IsPrivateObjectFile(info, path) || info.st_size <= 0) return nullptr;
  auto size = static_cast<std::size_t>(info.st_size);
  void* data = MapShared(fd, size);
  if (data == MAP_FAILED) return nullptr;
  object->data_ = data;
  object->size_ = size;
  if (holdName) {
    if (!SetLock(fd, F_RDLCK, kHandleByte)) return nullptr;
    object->HoldName();
  }
  *result = NamedResult::kOk;
  return object;
}

int NamedObject::RemoveStale() {
  const std::string directoryPath = UserNamespaceDirectory();
  if (directoryPath.empty()) return -1;
  DIR* directory = opendir(directoryPath.c_str());
  if (!directory) return -1;
  int removed = 0;
  while (dirent* entry = readdir(directory)) {
    if (std::strncmp(entry->d_name, "kqcp.", 5) != 0) continue;
    const std::string path = directoryPath + entry->d_name;
    const Peek peek(path);
    const int fd = peek.fd();
    if (fd < 0) continue;
    // A file whose transition lock is taken is being created or opened: not stale.
    TransitionGuard guard(fd, 0);
    if (guard.Held() && StillLinked(fd, path) && IsPrivateObjectFile(fd, path) &&
        !OthersHoldHandles(fd) && unlink(path.c_str()) == 0) {
      ++removed;
    }
  }
  closedir(directory);
  return removed;
}

bool NamedObject::IsHeld(NamedKind kind, const std::string& name) {
  const std::string path = FilePath(kind, name);
  if (path.empty()) return false;
  const Peek peek(path);
  return peek.fd() >= 0 && OthersHoldHandles(peek.fd()) && StillLinked(peek.fd(), path);
}

bool NamedObject::IsAlive() const { return fd_ >= 0 && OthersHoldHandles(fd_); }

void NamedObject::HoldName() {
  holdsName_ = true;
  AddHeldName(this);
}

int NamedObject::OpenFile(ObjectFileOpen how) {
  CloseTracked(&fd_);
  return OpenTracked(
      &fd_, [&] { return OpenObjectFile(path_, how); },
      {[](void* object) { static_cast<NamedObject*>(object)->MapAgainInChild(); }, this});
}

void NamedObject::MapAgainInChild() {
  // The mapping keeps the description it was made through, and with it this object's locks:
  // the child maps the same file again through a description of its own, which holds none, so
  // that the names go when the parent's last handle does. System calls only: the child of a
  // threaded process must not allocate here.
  if (!data_) return;
  const int own = open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (own < 0) return;
  struct stat byOwn {
  }, byFd{};
  if (fstat(own, &byOwn) == 0 && fstat(fd_, &byFd) == 0 && byOwn.st_ino == byFd.st_ino &&
      byOwn.st_dev == byFd.st_dev) {
    // Should it fail, the old mapping stays, and the names with it while the child lives.
    static_cast<void>(mmap(data_, size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, own, 0));
  }
  close(own);
}

void NamedObject::ReleaseName() {
  if (fd_ < 0 || !holdsName_) return;
  TransitionGuard guard(fd_, kReleaseBoundMs);
  // The last handle removes the name; anyone who opened the file meanwhile finds it unlinked
  // once they hold the transition lock, and treats the name as gone.
  if (guard.Held() && !OthersHoldHandles(fd_) && StillLinked(fd_, path_)) unlink(path_.c_str());
}

NamedObject::~NamedObject() {
  if (holdsName_) RemoveHeldName(this);
  if (data_) munmap(data_, size_);
  ReleaseName();
  CloseTracked(&fd_);
}

}  // namespace Vantor::KQCP::os
