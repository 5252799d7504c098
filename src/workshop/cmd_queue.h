// The workshop's command queue: one rotating list of unkeyed commands, and per key an ordered
// list whose head is stepped by at most one worker at a time.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

#include "base/critical_section.h"
#include "kqcp/workshop.h"

namespace Vantor::KQCP {

class CmdQueue {
 public:
  CmdQueue() = default;
  // Releases the commands still queued (normally the workers have drained them).
  virtual ~CmdQueue();
  CmdQueue(const CmdQueue&) = delete;
  CmdQueue& operator=(const CmdQueue&) = delete;

  // Appends the command to the unkeyed list or to its key's list and takes one reference.
  // E_POINTER for null, the command's own failure (or E_INVALIDARG for a null key) when a keyed
  // command cannot say its key, E_OUTOFMEMORY; nothing is queued then.
  HRESULT Push(ICmd* command);
  // The first unkeyed command, or null; the queue's reference passes to the caller.
  ICmd* PopUnkeyed();
  // The head of the next idle key that has commands, in rotation starting after the key served
  // last, or null. The key is busy from now on and is stored in key when given. The queue's
  // reference passes to the caller.
  ICmd* PopKeyed(std::u16string* key = nullptr);
  // Always true.
  bool SetKeyBusy(const std::u16string& key, bool busy);
  // Puts a keyed command back at the head of its key's list and clears the key's busy flag,
  // taking one reference. E_FAIL for an unkeyed command.
  HRESULT RequeueFront(ICmd* command);
  // The same, for a key already known (as PopKeyed reported it).
  HRESULT RequeueFront(ICmd* command, const std::u16string& key);
  // Sends Notify(7) to every unkeyed command in state 2 whose CheckWait is not negative.
  void Tick();

  // Keys currently busy or holding commands.
  std::size_t KeyCount() const;

 private:
  using CommandList = std::list<ICmd*>;

  // Drops a key whose list is empty and that nobody steps, so that keys used once do not pile
  // up in the tables (and in every PopKeyed walk). Called under the keyed lock.
  void ForgetIfIdle(const std::u16string& key);

  mutable VEXO::System::Thread::CriticalSection unkeyedLock_;
  CommandList unkeyed_;
  mutable VEXO::System::Thread::CriticalSection keyedLock_;
  std::unordered_map<std::u16string, bool> keyBusy_;
  std::unordered_map<std::u16string, CommandList> keyLists_;
  std::u16string lastServed_;
};

}  // namespace Vantor::KQCP
