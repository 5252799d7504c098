// What the example host's and plug-ins' objects share: reference counting and QueryInterface from
// the public helper (a class lists its interfaces), and a holder for one interface reference.
#pragma once

#include <utility>

#include "kqcp/implements.h"
#include "kqcp/types.h"

namespace example {

using namespace Vantor::KQCP;

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
