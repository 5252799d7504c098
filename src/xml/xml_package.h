// A package: one element and its byte form, the element's compact XML text followed by
// CR LF CR LF.
#pragma once

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/xml.h"

namespace Vantor::KQCP {

class XMLPackageImpl : public com::RefCounted<com::PlainObject, IXMLPackage> {
 public:
  HRESULT GetData(char* buffer, std::int32_t size, std::int32_t* length) override;
  HRESULT SetElement(IKQXmlElement* element) override;
  HRESULT GetElement(IKQXmlElement** element) override;

 private:
  com::ComPtr<IKQXmlElement> element_;
};

}  // namespace Vantor::KQCP
