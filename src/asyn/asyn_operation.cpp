// Asynchronous operation wrapper: forwarded operations run on the caller's thread.
#include "asyn/asyn_operation.h"

namespace Vantor::KQCP {

AsynOperation::~AsynOperation() {
  // The sink first, then the host operation.
  sink_.Reset();
  hostOperation_.Reset();
}

HRESULT AsynOperation::Op1(AsynValue a) {
  return Forward([&](IAsynHostOperation* h) { return h->Op1(a); });
}
HRESULT AsynOperation::Op2(AsynValue a) {
  return Forward([&](IAsynHostOperation* h) { return h->Op2(a); });
}
HRESULT AsynOperation::Op4(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op4(a, b); });
}
HRESULT AsynOperation::Op7(AsynValue a) {
  return Forward([&](IAsynHostOperation* h) { return h->Op7(a); });
}
HRESULT AsynOperation::Op8(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op8(a, b); });
}
HRESULT AsynOperation::Op9() {
  return Forward([&](IAsynHostOperation* h) { return h->Op9(); });
}
HRESULT AsynOperation::Op10(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op10(a, b); });
}
HRESULT AsynOperation::Op11(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op11(a, b); });
}
HRESULT AsynOperation::Op14(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op14(a, b); });
}
HRESULT AsynOperation::Op15(AsynValue a, AsynValue b) {
  return Forward([&](IAsynHostOperation* h) { return h->Op15(a, b); });
}
HRESULT AsynOperation::Op16() {
  return Forward([&](IAsynHostOperation* h) { return h->Op16(); });
}

HRESULT AsynOperation::GetHostOperation(IAsynHostOperation** hostOperation) {
  if (!hostOperation) return E_POINTER;
  *hostOperation = hostOperation_.Get();
  return S_OK;
}

HRESULT AsynOperation::OnOperationEvent(IUnknown* operation) {
  if (!hostOperation_ || operation != static_cast<IUnknown*>(hostOperation_.Get())) return E_FAIL;
  if (!sink_) return E_FAIL;
  return sink_->OnOperationEvent(static_cast<IKQCPAsynIoOperation*>(this));
}

}  // namespace Vantor::KQCP
