// A holder for one interface reference, so that algorithms need no manual AddRef/Release.
#pragma once

#include <utility>

#include "kqcp/types.h"

namespace Vantor::KQCP::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  // Adds a reference to p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Hands the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }
  // Releases what is held and gives the address for an out-parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // Stores the pointer in out with a new reference.
  void CopyTo(T** out) const {
    if (p_) p_->AddRef();
    *out = p_;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const ComPtr& a, const T* b) { return a.p_ == b; }

 private:
  T* p_ = nullptr;
};

}  // namespace Vantor::KQCP::com
