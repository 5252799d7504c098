// The caller's handle on one asynchronous request: wraps the host's operation object and
// relays its events to the caller's sink, naming itself instead of the host's object.
#pragma once

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"

namespace Vantor::KQCP {

// The count is atomic: a caller's thread, the message thread and posted requests all hold
// references.
class AsynOperation
    : public com::RefCounted<com::AtomicPlainObject, IKQCPAsynIoOperation, IAsynIoOperationEvents> {
 public:
  explicit AsynOperation(IAsynIoOperationEvents* sink) : sink_(sink) {}
  ~AsynOperation() override;

  void SetHostOperation(IAsynHostOperation* hostOperation) {
    hostOperation_ = com::ComPtr<IAsynHostOperation>(hostOperation);
  }

  HRESULT Op1(AsynValue a) override;
  HRESULT Op2(AsynValue a) override;
  HRESULT Op3(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op4(AsynValue a, AsynValue b) override;
  HRESULT Op5(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op6(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op7(AsynValue a) override;
  HRESULT Op8(AsynValue a, AsynValue b) override;
  HRESULT Op9() override;
  HRESULT Op10(AsynValue a, AsynValue b) override;
  HRESULT Op11(AsynValue a, AsynValue b) override;
  HRESULT Op12(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op13(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op14(AsynValue a, AsynValue b) override;
  HRESULT Op15(AsynValue a, AsynValue b) override;
  HRESULT Op16() override;
  // The host operation, without a reference.
  HRESULT GetHostOperation(IAsynHostOperation** hostOperation) override;

  HRESULT OnOperationEvent(IUnknown* operation) override;

 private:
  // Calls the host operation's operation, or E_FAIL when there is none.
  template <class Call>
  HRESULT Forward(Call call) {
    return hostOperation_ ? call(hostOperation_.Get()) : E_FAIL;
  }

  com::ComPtr<IAsynIoOperationEvents> sink_;
  com::ComPtr<IAsynHostOperation> hostOperation_;
};

}  // namespace Vantor::KQCP
