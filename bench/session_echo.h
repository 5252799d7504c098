// The service side of the session benchmarks: answers every request with a reply of the same
// name and a payload of the benchmarks' size, except requests named "oneway", which it only
// receives.
#pragma once

#include <cstring>
#include <string>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/share.h"
#include "share/share_session_manager.h"

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

// Starts this process as the service of platform with session "bench" answered by a
// SessionEcho; the listener returned must be kept. Null when Start failed.
inline Vantor::KQCP::com::ComPtr<SessionEcho> StartEchoService(const std::string& platform) {
  using namespace Vantor::KQCP;
  auto* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(platform.c_str(), kShareModeService, nullptr) != S_OK) return {};
  manager->CreateServiceSession("bench", 0);
  com::ComPtr<IShareSessionService> session;
  manager->GetServiceSession("bench", 0, session.Put());
  auto listener = com::ComPtr<SessionEcho>::Adopt(com::MakeObject<SessionEcho>(session.Get()));
  session->AddOperationListener(listener.Get());
  return listener;
}

}  // namespace kqcp_bench
