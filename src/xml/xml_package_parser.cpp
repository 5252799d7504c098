// Receiving packages: pieces go to the DOM builder without the final flag. Bytes it keeps back
// inside a long token cannot complete a package; they are passed on before the tree is handed out.
#include "xml/xml_package_parser.h"

#include <new>

#include "xml/kq_xml.h"
#include "xml/xml_package.h"

namespace Vantor::KQCP {

using VEXO::XML::DOMNode;
using VEXO::XML::DOMParser;

XMLPackageParser::XMLPackageParser() { Start(); }

XMLPackageParser::~XMLPackageParser() = default;

bool XMLPackageParser::Start() {
  parser_.reset();
  tree_.Reset();
  root_ = nullptr;
  auto* root = new (std::nothrow) DOMNode;
  if (!root) return false;
  xml::SharedTree* tree = xml::SharedTree::New(root);
  if (!tree) return false;
  tree_ = xml::TreeRef::Adopt(tree);
  root_ = root;
  parser_.reset(new (std::nothrow) DOMParser);
  if (!parser_) return false;
  try {
    if (!parser_->CreateParser(nullptr, nullptr)) {
      parser_.reset();
      return false;
    }
  } catch (...) {
    parser_.reset();
    return false;
  }
  parser_->SetTopNode(root_);
  return true;
}

HRESULT XMLPackageParser::Reset() {
  Start();
  return S_OK;
}

HRESULT XMLPackageParser::Parse(const char* bytes, std::int32_t length) {
  if (!parser_) return E_FAIL;
  return parser_->Feed(bytes, length) ? S_OK : E_FAIL;
}

void XMLPackageParser::CatchUp() {
  // Bytes kept back inside a long token cannot complete the package, but the caller may read
  // the tree as far as it goes; a refusal among them shows in the next Parse.
  if (parser_) parser_->Flush();
}

HRESULT XMLPackageParser::IsComplete(std::int32_t* complete) {
  const bool done = parser_ && parser_->IsComplete();
  if (complete) *complete = done ? 1 : 0;
  return done ? S_OK : E_FAIL;
}

HRESULT XMLPackageParser::GetPackage(IXMLPackage** package) {
  if (!parser_ || !package) return kXmlFailed;
  CatchUp();
  IKQXmlElement* element = nullptr;
  if (GetRootElement(&element) != kXmlOk) return kXmlFailed;
  auto* made = com::MakeObject<XMLPackageImpl>();
  if (!made) {
    element->Release();
    return kXmlFailed;
  }
  made->SetElement(element);
  element->Release();  // the package holds the only reference
  *package = made;
  return kXmlOk;
}

HRESULT XMLPackageParser::GetRootElement(IKQXmlElement** element) {
  if (!element || !root_) return kXmlFailed;
  CatchUp();
  auto* made = com::MakeObject<KQXml>(root_, tree_);
  if (!made) return kXmlFailed;
  *element = made;
  return kXmlOk;
}

}  // namespace Vantor::KQCP
