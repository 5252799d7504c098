// The listeners of a session: each registered once, each holding one reference, called in
// order of addition. Notification re-reads the size after every call, so a listener may add
// or remove listeners of the same session (the lock is recursive).
#pragma once

#include <algorithm>
#include <vector>

#include "base/critical_section.h"
#include "com/com_ptr.h"
#include "kqcp/types.h"

namespace Vantor::KQCP {

template <class Listener>
class ListenerList {
 public:
  // S_OK, or S_FALSE when already present (no reference added); E_POINTER for null.
  HRESULT Add(Listener* listener) {
    if (!listener) return E_POINTER;
    VEXO::System::Thread::ScopedLock guard(lock_);
    if (Find(listener) != listeners_.end()) return S_FALSE;
    listeners_.emplace_back(listener);
    return S_OK;
  }

  HRESULT Remove(Listener* listener) {
    VEXO::System::Thread::ScopedLock guard(lock_);
    auto it = Find(listener);
    if (it == listeners_.end()) return E_FAIL;
    listeners_.erase(it);
    return S_OK;
  }

  template <class Call>
  void Notify(Call call) {
    VEXO::System::Thread::ScopedLock guard(lock_);
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
      com::ComPtr<Listener> listener = listeners_[i];  // survives its own removal
      call(listener.Get());
    }
  }

  void Clear() {
    VEXO::System::Thread::ScopedLock guard(lock_);
    listeners_.clear();
  }

 private:
  typename std::vector<com::ComPtr<Listener>>::iterator Find(Listener* listener) {
    return std::find_if(listeners_.begin(), listeners_.end(),
                        [&](const com::ComPtr<Listener>& held) { return held.Get() == listener; });
  }

  VEXO::System::Thread::CriticalSection lock_;
  std::vector<com::ComPtr<Listener>> listeners_;
};

}  // namespace Vantor::KQCP
