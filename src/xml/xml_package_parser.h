// Takes the bytes of a package in pieces of any size and builds its tree. The tree is shared
// with the packages and elements taken from the parser: Reset and Release only drop the
// parser's hold on it.
#pragma once

#include <memory>

#include "com/object.h"
#include "kqcp/xml.h"
#include "xml/dom_parser.h"
#include "xml/shared_tree.h"

namespace Vantor::KQCP {

class XMLPackageParser : public com::RefCounted<com::PlainObject, IXMLPackageParser> {
 public:
  XMLPackageParser();
  ~XMLPackageParser() override;

  HRESULT Reset() override;
  HRESULT Parse(const char* bytes, std::int32_t length) override;
  HRESULT IsComplete(std::int32_t* complete) override;
  HRESULT GetPackage(IXMLPackage** package) override;
  HRESULT GetRootElement(IKQXmlElement** element) override;

 private:
  // A fresh root and builder; false (and none) when memory is exhausted.
  bool Start();
  // Passes on the bytes the builder kept back.
  void CatchUp();

  VEXO::XML::DOMNode* root_ = nullptr;  // owned by tree_
  xml::TreeRef tree_;
  std::unique_ptr<VEXO::XML::DOMParser> parser_;
};

}  // namespace Vantor::KQCP
