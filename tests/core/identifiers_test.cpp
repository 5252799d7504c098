// Every published identifier against its registry text, so a mistyped byte cannot slip in.
#include <gtest/gtest.h>

#include "com/module.h"
#include "com/registration.h"
#include "kqcp/kqcp.h"

namespace Vantor::KQCP {
namespace {

TEST(Identifiers, MatchTheirRegistryText) {
  struct Case {
    const GUID& iid;
    const char* text;
  } cases[] = {
      {IID_IKQCommunityPlatform, "{6BCC89C0-BF3D-42CA-B4D1-4C4181F75D29}"},
      {IID_IAsynIoHost, "{ECB1468E-DF17-4BAA-9105-84FC292F4B61}"},
      {IID_IPlatformHostObject, "{196BED5B-8E10-4B9D-AB54-84775C39038E}"},
      {IID_IAsynIOFrame, "{F3D178A8-1333-4BBD-A3E5-D018F7DC0F88}"},
      {IID_IAsynMessageEvents, "{E0913DE3-B289-4A4D-A244-8D90D67A4B68}"},
      {IID_IKQCPPluginManager, "{3A2F1768-9462-49C0-A946-D898708D5B13}"},
      {IID_IShareSessionManager, "{8AFB40A5-EAE6-48E9-AA16-22BE8A8578E9}"},
      {IID_IKQCacheManager, "{56FFCCF4-6734-487A-914E-831EA3A02715}"},
      {IID_IKQCPLuaHost, "{F350CA33-6BE3-4314-A832-E44C772B7EC4}"},
      {IID_ICmdEvent, "{3AABF76F-9FEA-4BEC-AE83-04360BE05D32}"},
      {IID_IWorkshop, "{AC254E73-8D48-4AAD-B430-199E2DB577A0}"},
      {IID_IKQCPAsynIoOperation, "{90B9F4E6-988B-4BD8-9D61-ABF6BF98F43F}"},
      {IID_IAsynIoOperationEvents, "{A13FF036-B25B-4796-A21B-58ACAA42070E}"},
      {IID_IKQCPAsynTcpSocket, "{A989AFF4-89FF-4067-9E47-D70F426C1DE3}"},
      {IID_IKQCPAsynUdpSocket, "{3D5F06C5-775C-48E7-8DD2-8DD282EE23F6}"},
      {IID_IAsynTimerEvents, "{066765B7-E6C5-4A3C-BB69-E75AA440946F}"},
      {IID_IAsynUdpHost, "{6D99D3C0-92D1-4ACE-9E01-D771F1C1F733}"},
      {IID_IShareSessionProxy, "{105E6628-121F-4906-A258-1D6BA92FF8DD}"},
      {IID_IShareSessionService, "{15414326-C9AD-4743-92FA-7E091B01883B}"},
      {IID_IShareSessionOperation, "{9CC574B7-095E-4BDB-96BF-4BCD894DC45C}"},
      {IID_IKQCache, "{2726AF38-505C-4C46-BA66-E7744512609E}"},
      {IID_IKQXmlElement, "{4E6E0C13-FAF3-4A8E-AAAC-98A0E1D7CF2C}"},
      {IID_IXMLPackage, "{2486C866-8CA8-4849-982C-C4F3AAFFF74C}"},
      {IID_IXMLPackageParser, "{0BA7DE80-F0BB-4E78-951A-DE284129A5EC}"},
      {com::kAppId, "{FBFFAF86-6074-479A-8117-3F41440145FE}"},
      {com::kTypeLibId, "{C69B6258-564C-4203-9BBB-2D38243ECFCA}"},
  };
  for (const auto& c : cases) EXPECT_EQ(com::GuidToString(c.iid), c.text);
}

}  // namespace
}  // namespace Vantor::KQCP
