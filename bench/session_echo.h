// The service side of the session benchmarks: answers every request with a reply of the same
// name and a payload of the benchmarks' size, except requests named "oneway", which it only
// receives.
#pragma once

#include <cstring>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/share.h"

namespace kqcp_bench {

inline constexpr std::int32_t kSessionPayload = 64;

class SessionEcho
    : public Vantor::KQCP::com::RefCounted<Vantor::KQCP::com::ComponentObject,
                                           Vantor::KQCP::IShareSessionOperationEvents> {
 public:
  explicit SessionEcho(Vantor::KQCP::IShareSessionService* session) : session_(session) {}
  Vantor::KQCP::HRESULT OnRequest(Vantor::KQCP::IShareSessionOperation* request) override {
    char name[16];
    request->GetName(name, sizeof name);
    if (std::strcmp(name, "oneway") == 0) return Vantor::KQCP::S_OK;
    Vantor::KQCP::com::ComPtr<Vantor::KQCP::IShareSessionOperation> reply;
    session_->CreateReply(request, reply.Put());
    reply->SetName(name);
    reply->AllocBuffer(kSessionPayload);
    session_->PostOperation(reply.Get());
    return Vantor::KQCP::S_OK;
  }
  Vantor::KQCP::HRESULT OnResponse(Vantor::KQCP::IShareSessionOperation*) override {
    return Vantor::KQCP::S_OK;
  }

 private:
  Vantor::KQCP::IShareSessionService* session_;
};

}  // namespace kqcp_bench
