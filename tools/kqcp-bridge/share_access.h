// The library seen through its public interfaces only: the platform's share-session manager,
// a reference holder, and listeners that hand what arrives to a function.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kqcp/kqcp.h"
#include "wire.h"

namespace kqcp_bridge {

// Holds one reference to an interface.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  static Ref Adopt(T* p) {
    Ref ref;
    ref.p_ = p;
    return ref;
  }
  T** Put() {
    *this = Ref();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// The process's share-session manager, the platform initialised on first use; null when the
// library cannot give one.
Vantor::KQCP::IShareSessionManager* ShareManager();

// The manager's counters (zeros when unavailable).
Vantor::KQCP::ShareStatistics ShareCounters();

// Reads every field of an operation; data empty and hasBuffer false when it has no buffer.
WireOperation ReadOperation(Vantor::KQCP::IShareSessionOperation* operation);

// Sets name, kind, id and buffer from what crossed; false when the library refused one.
bool FillOperation(Vantor::KQCP::IShareSessionOperation* operation, const WireOperation& from,
                   bool setId);

class OperationListener
    : public Vantor::KQCP::Implements<Vantor::KQCP::IShareSessionOperationEvents> {
 public:
  using Fn = std::function<void(Vantor::KQCP::IShareSessionOperation*)>;
  explicit OperationListener(Fn fn) : fn_(std::move(fn)) {}
  Vantor::KQCP::HRESULT OnRequest(Vantor::KQCP::IShareSessionOperation* operation) override;
  Vantor::KQCP::HRESULT OnResponse(Vantor::KQCP::IShareSessionOperation* operation) override;

 private:
  Fn fn_;
};

class MessageListener : public Vantor::KQCP::Implements<Vantor::KQCP::IShareSessionMessageEvents> {
 public:
  using Fn = std::function<void(std::int32_t, std::int32_t, std::int32_t)>;
  explicit MessageListener(Fn fn) : fn_(std::move(fn)) {}
  Vantor::KQCP::HRESULT OnShareMessage(std::int32_t reserved, std::int32_t value1,
                                       std::int32_t value2, std::int32_t value3) override;

 private:
  Fn fn_;
};

// Session names of platform found among the calling user's named objects (the session data
// mutexes, as the README names their files), with the names given added; each is checked by the
// caller through GetProxySession before use.
std::vector<std::string> FindSessionNames(const std::string& platform,
                                          const std::vector<std::string>& given);

}  // namespace kqcp_bridge
