/// @file
/// Reference counting and QueryInterface for objects of hosts and plug-ins: a class lists the
/// interfaces it implements and gets the three IUnknown operations, as the library's own classes
/// do.
///   class Hello final : public Vantor::KQCP::Implements<IKQCPPlugin> { ... };
///   IKQCPPlugin* plugin = new Hello;  // born with one reference, owned by the creator
#pragma once

#include <atomic>

#include "kqcp/types.h"

namespace Vantor::KQCP {

namespace detail {

/// Stores the first listed interface whose identifier matches; false when none does.
template <class Self, class... Interfaces>
bool FindInterface(Self* self, REFIID iid, void** out) {
  return ((iid == iid_of<Interfaces>() ? (*out = static_cast<Interfaces*>(self), true) : false) ||
          ...);
}

/// The first type of a pack.
template <class First, class...>
struct FirstOf {
  using Type = First;  ///< that type
};

}  // namespace detail

/// QueryInterface answers IUnknown (through the first interface) and every listed interface,
/// adding a reference; the count is atomic, so references may move between threads; the last
/// Release deletes the object.
template <class... Interfaces>
class Implements : public Interfaces... {
 public:
  /// IUnknown or a listed interface, with a reference added; E_NOINTERFACE (out null) for
  /// others, E_POINTER for a null out. Any thread.
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    using First = typename detail::FirstOf<Interfaces...>::Type;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(static_cast<First*>(this));
    } else if (!detail::FindInterface<Implements, Interfaces...>(this, iid, out)) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  /// Adds a reference; the new count. Any thread.
  ULONG AddRef() override { return ++count_; }

  /// Drops a reference, deleting the object with the last; the new count. Any thread.
  ULONG Release() override {
    const ULONG remaining = --count_;
    if (remaining == 0) {
      // Parked at 1 so that a reference taken and dropped inside the destructor cannot delete
      // the object a second time.
      count_ = 1;
      delete this;
    }
    return remaining;
  }

 protected:
  /// Born with one reference, owned by the creator.
  Implements() = default;
  /// Runs from the last Release.
  virtual ~Implements() = default;

 private:
  std::atomic<ULONG> count_{1};
};

}  // namespace Vantor::KQCP
