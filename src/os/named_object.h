// Named kernel objects with the lifetime of Windows names: a name exists exactly while some
// live process holds a handle to it. Each object is a file in the user's private folder (see
// user_namespace.h) holding its shared state; every handle holds a shared open-file-description
// lock on byte 0 of that file, which the kernel drops when the process dies, so an unlocked
// file is a stale leftover. Create, Open and Close decide under an exclusive lock on byte 1, so
// two racing creators never both win and a stale file is replaced by the next Create and never
// seen by Open. That lock is waited for only so long: a peer stopped inside its own Create or
// Close (or a hostile one) must not stall everyone who uses the name. When a process exits
// normally or unloads the library, the names whose last holder it is are removed; a forked
// child holds none of its parent's names (see object_descriptors.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "os/user_namespace.h"

namespace Vantor::KQCP::os {

enum class NamedKind { kSharedMemory, kMutex, kSemaphore };

enum class NamedResult {
  kOk,
  kAlreadyExists,  // Create: a live process holds the name
  kNotFound,       // Open: nobody holds the name
  kFailed,         // a system call failed
  kBusy,           // another process kept the name's transition lock past the bound
};

// How long Create and Open wait for another process's creation, opening or closing of the same
// name (microseconds, normally) when the caller names no bound of its own.
inline constexpr std::uint32_t kTransitionBoundMs = 1000;
// Closing waits less: a close that cannot decide leaves the file for the next sweep.
inline constexpr std::uint32_t kReleaseBoundMs = 50;

class NamedObject {
 public:
  // Fills the new object's state while no other process can open it yet.
  using Initializer = std::function<bool(void* data, std::size_t size)>;

  // Brings the name into existence with size bytes of zeroed state; fails with kAlreadyExists
  // when a live process holds it, and with kBusy when another process's transition on the name
  // did not end within boundMs.
  static std::shared_ptr<NamedObject> Create(NamedKind kind, const std::string& name,
                                             std::size_t size, const Initializer& init,
                                             NamedResult* result,
                                             std::uint32_t boundMs = kTransitionBoundMs);
  // Opens a name that a live process holds; the whole object is mapped. With holdName false
  // the object is mapped without holding the name: the name goes when its holders close,
  // whatever this object does, and IsAlive tells whether that has happened. kBusy as Create.
  static std::shared_ptr<NamedObject> Open(NamedKind kind, const std::string& name,
                                           NamedResult* result, bool holdName = true,
                                           std::uint32_t boundMs = kTransitionBoundMs);
  // Closing the last handle of a name removes its file.
  ~NamedObject();
  NamedObject(const NamedObject&) = delete;
  NamedObject& operator=(const NamedObject&) = delete;

  // True while some handle other than this object holds the name of this very object (a name
  // re-created after its holders went is a different object). One system call.
  bool IsAlive() const;
  // True while a live process holds the name, without opening or mapping the object for use.
  static bool IsHeld(NamedKind kind, const std::string& name);

  void* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  const std::string& Name() const { return name_; }

  // How the files of a kind begin ("kqcp.shm.", "kqcp.mtx.", "kqcp.sem.").
  static const char* KindPrefix(NamedKind kind);
  // The file that backs a name (for diagnostics and tests); empty when the user's folder
  // cannot be used.
  static std::string FilePath(NamedKind kind, const std::string& name);

  // Removes the files in the user's folder that processes which ended without closing their
  // handles left behind (killed processes, mostly). Names that any live process holds, and
  // names being created or opened right now, are untouched. Returns how many were removed, or
  // -1 when the user's folder cannot be used.
  static int RemoveStale();

  // Removes the file of this name when no other handle holds it (at exit: the object stays
  // mapped, but the name is gone).
  void ReleaseName();

 private:
  NamedObject() = default;

  // Lets the exit hook find this object while it holds its name.
  void HoldName();
  // Opens the object file into fd_ (closing one opened before); see object_descriptors.h.
  int OpenFile(ObjectFileOpen how);
  // In a forked child, before fd_ is closed there.
  void MapAgainInChild();

  int fd_ = -1;
  bool holdsName_ = false;
  void* data_ = nullptr;
  std::size_t size_ = 0;
  std::string name_;
  std::string path_;
};

}  // namespace Vantor::KQCP::os
