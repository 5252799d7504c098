// The two object templates behind every class of the library. A class lists its interfaces and
// inherits reference counting and a table-driven QueryInterface:
//   class Workshop : public RefCounted<ComponentObject, IWorkshop, ICmdEvent> { ... };
//   class KQCommunityPlatform_ : public SingletonObject<IKQCommunityPlatform> { ... };
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "com/module.h"
#include "kqcp/implements.h"
#include "kqcp/types.h"

namespace Vantor::KQCP::com {

// The interface lookup (detail::FindInterface) is the one hosts and plug-ins get from the public
// helper, so both answer alike.

// A process-wide object: add-reference and release return 1, QueryInterface answers only the
// listed identifiers (not IUnknown's) and adds no reference.
template <class... Interfaces>
class SingletonObject : public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return detail::FindInterface<SingletonObject, Interfaces...>(this, iid, out) ? S_OK
                                                                                 : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }

 protected:
  SingletonObject() = default;
  virtual ~SingletonObject() = default;
};

// Counting policies for RefCounted.
// A component object: atomic count, answers IUnknown through its first interface, QueryInterface
// adds a reference, and the object holds the module lock while it exists.
struct ComponentObject {
  using Counter = std::atomic<std::int32_t>;
  static constexpr bool kAnswersUnknown = true;
  static constexpr bool kQueryAddsReference = true;
  static constexpr bool kHoldsModule = true;
};
// A plain object, used by one thread at a time: plain count, QueryInterface answers only the
// listed identifiers and adds no reference.
struct PlainObject {
  using Counter = std::int32_t;
  static constexpr bool kAnswersUnknown = false;
  static constexpr bool kQueryAddsReference = false;
  static constexpr bool kHoldsModule = false;
};

// A plain object whose references may change on several threads at once (a socket wrapper
// that its own posted messages keep alive).
struct AtomicPlainObject : PlainObject {
  using Counter = std::atomic<std::int32_t>;
};

// A reference-counted object. It is born with one reference, owned by its creator; the last
// Release destroys it.
template <class Policy, class... Interfaces>
class RefCounted : public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    bool found = false;
    if constexpr (Policy::kAnswersUnknown) {
      using First = typename detail::FirstOf<Interfaces...>::Type;
      if (iid == IID_IUnknown) {
        *out = static_cast<IUnknown*>(static_cast<First*>(this));
        found = true;
      }
    }
    if (!found) found = detail::FindInterface<RefCounted, Interfaces...>(this, iid, out);
    if (!found) return E_NOINTERFACE;
    if constexpr (Policy::kQueryAddsReference) AddRef();
    return S_OK;
  }

  ULONG AddRef() override { return static_cast<ULONG>(++count_); }

  ULONG Release() override {
    std::int32_t remaining = --count_;
    if (remaining == 0) {
      // Parked at 1 so that a reference taken and dropped inside the destructor cannot
      // destroy the object a second time.
      count_ = 1;
      delete this;
    }
    return static_cast<ULONG>(remaining);
  }

  std::int32_t ReferenceCount() const { return count_; }

 protected:
  RefCounted() {
    if constexpr (Policy::kHoldsModule) TheModule().Lock();
  }
  virtual ~RefCounted() {
    if constexpr (Policy::kHoldsModule) TheModule().Unlock();
  }

 private:
  typename Policy::Counter count_{1};
};

// Creates an object with its one reference, or null when it cannot be allocated or its
// constructor fails. No exception leaves.
template <class T, class... Args>
T* MakeObject(Args&&... args) noexcept {
  try {
    return new (std::nothrow) T(std::forward<Args>(args)...);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace Vantor::KQCP::com
