// The package byte form.
#include "xml/xml_package.h"

#include <cstring>

namespace Vantor::KQCP {

namespace {
constexpr char kTerminator[] = "\r\n\r\n";
constexpr std::int32_t kTerminatorSize = 4;
}  // namespace

HRESULT XMLPackageImpl::GetData(char* buffer, std::int32_t size, std::int32_t* length) {
  if (!element_) return kXmlFailed;
  std::int32_t written = 0;
  if (element_->Serialize(buffer, size, &written) != kXmlOk) return kXmlFailed;
  // The terminator and the NUL must fit behind the text.
  if (written < 0 || size - written < kTerminatorSize + 1) return kXmlFailed;
  std::memcpy(buffer + written, kTerminator, kTerminatorSize + 1);
  if (length) *length = written + kTerminatorSize;
  return kXmlOk;
}

HRESULT XMLPackageImpl::SetElement(IKQXmlElement* element) {
  // A replaced element is released, so nothing leaks.
  element_ = com::ComPtr<IKQXmlElement>(element);
  return kXmlOk;
}

HRESULT XMLPackageImpl::GetElement(IKQXmlElement** element) {
  if (!element) return kXmlFailed;
  *element = element_.Get();
  return kXmlOk;
}

}  // namespace Vantor::KQCP
