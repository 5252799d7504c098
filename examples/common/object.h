// Reference counting and QueryInterface for the example host's and plug-ins' objects, which see
// only the public headers: a class lists its interfaces, as the library's own classes do.
#pragma once

#include <atomic>
#include <tuple>
#include <utility>

#include "kqcp/types.h"

namespace example {

using namespace Vantor::KQCP;

template <class... Interfaces>
class HostObject : public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      ((iid == iid_of<Interfaces>() ? (*out = static_cast<Interfaces*>(this), true) : false) ||
       ...);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++count_; }
  ULONG Release() override {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~HostObject() = default;

 private:
  std::atomic<ULONG> count_{1};
};

// One interface reference.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p, bool addRef = true) : p_(p) {
    if (p_ && addRef) p_->AddRef();
  }
  Ref(const Ref& other) : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T** Put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace example
