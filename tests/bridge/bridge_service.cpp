// "BridgeService" (platform, report fd, command fd): the real service of the bridge tests. It
// answers every request of session "S" with "answer" and the same bytes, and runs commands:
//   broadcast A B C | tell CLIENT A B C (a targeted message) | setdata TEXT | exit
#include <sstream>

#include "com/com_ptr.h"
#include "share/session_fixture.h"
#include "share/share_session_manager.h"
#include "support/child_process.h"

using namespace Vantor::KQCP;
using kqcp_test::Signal;

KQCP_CHILD(BridgeService) {
  IShareSessionManager* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeService, nullptr) != S_OK ||
      manager->CreateServiceSession("S", 0) != S_OK) {
    Signal::Send(args[1], "start-failed");
    return 3;
  }
  com::ComPtr<IShareSessionService> session;
  manager->GetServiceSession("S", 0, session.Put());
  IShareSessionService* service = session.Get();
  auto echo = com::ComPtr<kqcp_test::RecordingListener>::Adopt(
      com::MakeObject<kqcp_test::RecordingListener>(
          [&](IShareSessionOperation* request) {
            const auto r = kqcp_test::Describe(request);
            com::ComPtr<IShareSessionOperation> reply;
            if (service->CreateReply(request, reply.Put()) != S_OK) return;
            reply->SetName("answer");
            if (!r.data.empty()) {
              reply->AllocBuffer(static_cast<std::int32_t>(r.data.size()));
              std::uint8_t* data = nullptr;
              reply->GetBuffer(&data, nullptr);
              std::copy(r.data.begin(), r.data.end(), data);
            }
            service->PostOperation(reply.Get());
          },
          /*keepRecords=*/false));
  service->AddOperationListener(echo.Get());
  Signal::Send(args[1], "ready");
  for (;;) {
    std::istringstream command(Signal::Receive(args[2], 120000));
    std::string verb, target;
    command >> verb;
    if (verb == "exit") return 0;
    std::int32_t a = 0, b = 0, c = 0;
    if (verb == "broadcast") {
      command >> a >> b >> c;
      service->PostMessage(nullptr, a, b, c);
    } else if (verb == "tell") {
      command >> target >> a >> b >> c;
      service->PostMessage(target.c_str(), a, b, c);
    } else if (verb == "setdata") {
      command >> target;
      service->SetSharedData(target.data(), static_cast<std::int32_t>(target.size()));
    } else {
      return 5;  // the test went away
    }
    Signal::Send(args[1], "done " + verb);
  }
}
