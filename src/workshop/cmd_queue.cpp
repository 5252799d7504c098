// Command queue. The two locks are never held together, and a command's HasKey and GetKey are
// asked before a lock is taken, so a command may post to the workshop from inside them.
#include "workshop/cmd_queue.h"

#include <new>
#include <utility>

namespace Vantor::KQCP {
namespace {

using VEXO::System::Thread::ScopedLock;

// Asks the command for its key and copies it; the command's string is freed here.
HRESULT ReadKey(ICmd* command, std::u16string* key) {
  BSTR text = nullptr;
  HRESULT hr = command->GetKey(&text);
  if (Failed(hr) || !text) {
    SysFreeString(text);
    return Failed(hr) ? hr : E_INVALIDARG;
  }
  try {
    key->assign(text, SysStringLen(text));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  SysFreeString(text);
  return hr;
}

bool IsKeyed(ICmd* command) { return command->HasKey() >= 0; }

}  // namespace

CmdQueue::~CmdQueue() {
  for (ICmd* command : unkeyed_) command->Release();
  for (auto& [key, commands] : keyLists_) {
    for (ICmd* command : commands) command->Release();
  }
}

HRESULT CmdQueue::Push(ICmd* command) {
  if (!command) return E_POINTER;
  try {
    if (!IsKeyed(command)) {
      ScopedLock guard(unkeyedLock_);
      unkeyed_.push_back(command);
      command->AddRef();
      return S_OK;
    }
    std::u16string key;
    if (HRESULT hr = ReadKey(command, &key); Failed(hr)) return hr;
    ScopedLock guard(keyedLock_);
    CommandList& commands = keyLists_[key];
    keyBusy_.try_emplace(key, false);
    commands.push_back(command);
    command->AddRef();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

ICmd* CmdQueue::PopUnkeyed() {
  ScopedLock guard(unkeyedLock_);
  if (unkeyed_.empty()) return nullptr;
  ICmd* command = unkeyed_.front();
  unkeyed_.pop_front();
  return command;
}

ICmd* CmdQueue::PopKeyed(std::u16string* key) {
  ScopedLock guard(keyedLock_);
  if (keyBusy_.empty()) return nullptr;
  // Resume after the key served last: restarting at the table's beginning would hand a head
  // that stays queued for long (waiting in state 1) every step, and later keys none.
  auto start = keyBusy_.begin();
  if (auto last = keyBusy_.find(lastServed_); last != keyBusy_.end()) {
    if (++last != keyBusy_.end()) start = last;
  }
  auto it = start;
  do {
    if (!it->second) {
      auto list = keyLists_.find(it->first);
      if (list != keyLists_.end() && !list->second.empty()) {
        try {
          if (key) *key = it->first;
          lastServed_ = it->first;
        } catch (const std::bad_alloc&) {
          return nullptr;  // the command stays where it is; a later call takes it
        }
        ICmd* command = list->second.front();
        list->second.pop_front();
        it->second = true;
        return command;
      }
    }
    if (++it == keyBusy_.end()) it = keyBusy_.begin();
  } while (it != start);
  return nullptr;
}

bool CmdQueue::SetKeyBusy(const std::u16string& key, bool busy) {
  ScopedLock guard(keyedLock_);
  try {
    keyBusy_[key] = busy;
    // Both tables hold the same keys.
    keyLists_.try_emplace(key);
  } catch (const std::bad_alloc&) {
    // A busy flag that cannot be recorded is an idle key without entries.
  }
  ForgetIfIdle(key);
  return true;
}

HRESULT CmdQueue::RequeueFront(ICmd* command) {
  if (!command) return E_POINTER;
  if (!IsKeyed(command)) return E_FAIL;
  std::u16string key;
  if (HRESULT hr = ReadKey(command, &key); Failed(hr)) return hr;
  return RequeueFront(command, key);
}

HRESULT CmdQueue::RequeueFront(ICmd* command, const std::u16string& key) {
  if (!command) return E_POINTER;
  ScopedLock guard(keyedLock_);
  try {
    // The key is normally still known (busy while its head is out); should it not be, the
    // command starts a fresh list rather than being lost.
    CommandList& commands = keyLists_[key];
    keyBusy_[key] = false;
    commands.push_front(command);
  } catch (const std::bad_alloc&) {
    ForgetIfIdle(key);
    return E_OUTOFMEMORY;
  }
  command->AddRef();
  return S_OK;
}

void CmdQueue::Tick() {
  // The commands are asked under the lock, so they must not block in GetState, CheckWait or
  // Notify on a thread that needs the queue.
  ScopedLock guard(unkeyedLock_);
  for (ICmd* command : unkeyed_) {
    std::int32_t state = -1;
    command->GetState(&state);
    if (state == kCmdStateCheckWait && command->CheckWait() >= 0) {
      std::uint32_t ignored = 0;
      command->Notify(kCmdNotifyStopOrWait, &ignored);
    }
  }
}

std::size_t CmdQueue::KeyCount() const {
  ScopedLock guard(keyedLock_);
  return keyBusy_.size();
}

void CmdQueue::ForgetIfIdle(const std::u16string& key) {
  auto busy = keyBusy_.find(key);
  if (busy != keyBusy_.end() && busy->second) return;
  auto list = keyLists_.find(key);
  if (list != keyLists_.end() && !list->second.empty()) return;
  if (busy != keyBusy_.end()) keyBusy_.erase(busy);
  if (list != keyLists_.end()) keyLists_.erase(list);
}

}  // namespace Vantor::KQCP
