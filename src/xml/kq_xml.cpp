// The element operations over DOMNode, the handed-out set and the ownership rules.
#include "xml/kq_xml.h"

#include <cstring>
#include <string_view>

namespace Vantor::KQCP {

using VEXO::XML::DOMNode;
using xml::SharedTree;
using xml::TreeRef;

namespace {

constexpr HRESULT kOk = kXmlOk;
constexpr HRESULT kFail = kXmlFailed;

// The whole string and its NUL, the rest of the buffer zeroed; refused when it does not fit.
HRESULT CopyWhole(std::string_view text, char* buffer, std::uint32_t length) {
  if (!buffer || length < text.size() + 1) return kFail;
  std::memcpy(buffer, text.data(), text.size());
  std::memset(buffer + text.size(), 0, length - text.size());
  return kOk;
}

// As much as fits, the rest zeroed: no NUL when the string fills the buffer.
HRESULT CopyTruncated(std::string_view text, char* buffer, std::uint32_t length) {
  if (!buffer && length != 0) return kFail;
  const std::size_t copied = text.size() < length ? text.size() : length;
  if (copied) std::memcpy(buffer, text.data(), copied);
  if (length > copied) std::memset(buffer + copied, 0, length - copied);
  return kOk;
}

// Whether from holds tree's top or a node above it, following the parent links that Create
// made from one tree's top into another tree. Inside one tree every node lies below its top,
// so only those links need following.
bool HoldsAncestor(const SharedTree* from, const SharedTree* tree) {
  while (tree) {
    if (tree == from) return true;
    SharedTree* holder = nullptr;
    if (!tree->LinkedParent(&holder)) return false;
    tree = holder;
  }
  return false;
}

HRESULT FromDom(int result) {
  return result == VEXO::XML::kDomOk                ? kOk
         : result == VEXO::XML::kDomAttributeExists ? kXmlAttributeExists
                                                    : kFail;
}

}  // namespace

KQXml::KQXml(DOMNode* node, TreeRef tree) : node_(node), tree_(std::move(tree)) {}

KQXml::~KQXml() {
  // Releasing handed-out elements can release theirs in turn; a chain as long as a deep walk
  // down the tree is unwound here in a loop instead of by recursion.
  static thread_local std::vector<KQXml*>* unwinding = nullptr;
  if (unwinding) {
    try {
      unwinding->insert(unwinding->end(), handedOut_.begin(), handedOut_.end());
      handedOut_.clear();
    } catch (...) {
      // Out of memory: fall back to releasing them directly below.
    }
    for (KQXml* element : handedOut_) element->Release();
    return;
  }
  std::vector<KQXml*> pending;
  pending.swap(handedOut_);
  unwinding = &pending;
  while (!pending.empty()) {
    KQXml* element = pending.back();
    pending.pop_back();
    element->Release();
  }
  unwinding = nullptr;
}

HRESULT KQXml::HandOut(DOMNode* node, TreeRef tree, IKQXmlElement** out) {
  auto* element = com::MakeObject<KQXml>(node, std::move(tree));
  if (!element) return kFail;
  try {
    handedOut_.push_back(element);
  } catch (...) {
    element->Release();
    return kFail;
  }
  *out = element;
  return kOk;
}

HRESULT KQXml::Create(const char* name, IKQXmlElement* parent) {
  DOMNode* parentNode = nullptr;
  SharedTree* context = nullptr;
  if (auto* parentElement = dynamic_cast<KQXml*>(parent); parentElement && parentElement->node_) {
    parentNode = parentElement->node_;
    context = parentElement->CurrentTree();
  }
  DOMNode* node = DOMNode::New(name, parentNode);
  if (!node) return kFail;
  SharedTree* tree = SharedTree::New(node);
  if (!tree) return kFail;
  if (!tree->SetContext(context, parentNode)) {
    SharedTree::Release(tree);
    return kFail;
  }
  // Any node held before goes with its tree once nothing else refers to it.
  tree_ = TreeRef::Adopt(tree);
  node_ = node;
  ownsNode_ = true;
  return kOk;
}

HRESULT KQXml::SetText(const char* text) {
  if (!node_) return kFail;
  return node_->SetText(text) ? kOk : kFail;
}

HRESULT KQXml::SetName(const char* name) {
  if (!node_) return kFail;
  return node_->SetName(name) ? kOk : kFail;
}

HRESULT KQXml::SetNamespace(const char* ns) {
  if (!node_) return kFail;
  return node_->SetNamespace(ns) ? kOk : kFail;
}

HRESULT KQXml::SetAttribute(const char* name, const char* value) {
  if (!node_) return kFail;
  return FromDom(node_->SetAttribute(name, value));
}

HRESULT KQXml::SetAttributeInt(const char* name, std::int32_t value) {
  if (!node_) return kFail;
  return FromDom(node_->SetAttribute(name, value));
}

HRESULT KQXml::RemoveAllAttributes() {
  if (!node_) return kFail;
  node_->RemoveAllAttributes();
  return kOk;
}

HRESULT KQXml::AddChild(IKQXmlElement* child) {
  auto* childElement = dynamic_cast<KQXml*>(child);
  if (!node_ || !childElement || !childElement->node_) return kFail;
  // Only a node that is the top of a tree of its own may move: a node already in a tree (a
  // navigation result, an element added before, a parser's root) would end up in two places.
  if (!childElement->ownsNode_) return kFail;
  SharedTree* into = CurrentTree();
  SharedTree* from = childElement->CurrentTree();
  // The child's node is the top of from: when from holds this node or one above it, the child
  // would become its own ancestor.
  if (HoldsAncestor(from, into)) return kFail;
  if (!from->AttachTo(node_, into)) return kFail;
  childElement->ownsNode_ = false;
  return kOk;
}

HRESULT KQXml::RemoveAllChildren() {
  if (!node_) return kFail;
  // Trees made by Create below one of these nodes must not follow their parent link to it.
  CurrentTree()->ForgetLinksBelow(node_);
  node_->RemoveAllChildren();
  return kOk;
}

HRESULT KQXml::GetText(char* buffer, std::uint32_t length) {
  if (!node_) return kFail;
  return CopyWhole(node_->Text().view(), buffer, length);
}

HRESULT KQXml::GetName(char* buffer, std::uint32_t length) {
  if (!node_) return kFail;
  return CopyWhole(node_->Name().view(), buffer, length);
}

HRESULT KQXml::GetNamespace(char* buffer, std::uint32_t length) {
  if (!node_) return kFail;
  return CopyWhole(node_->Namespace().view(), buffer, length);
}

HRESULT KQXml::GetAttribute(const char* name, char* buffer, std::uint32_t length) {
  if (!node_) return kFail;
  const char* value = node_->GetAttribute(name);
  if (!value) return kFail;
  return CopyWhole(value, buffer, length);
}

HRESULT KQXml::GetFirstChild(std::uint32_t /*ignored*/, IKQXmlElement** child) {
  if (!node_ || !child || node_->ChildCount() == 0) return kFail;
  return HandOut(node_->Children()[0], tree_, child);
}

HRESULT KQXml::FindElement(const char* path, IKQXmlElement** element) {
  if (!node_ || !element) return kFail;
  DOMNode* found = nullptr;
  if (node_->Find(path, &found) != VEXO::XML::kDomOk) return kFail;
  return HandOut(found, tree_, element);
}

HRESULT KQXml::GetChildCount(std::int32_t* count) {
  if (!node_ || !count) return kFail;
  *count = static_cast<std::int32_t>(node_->ChildCount());
  return kOk;
}

HRESULT KQXml::GetChild(std::uint32_t index, IKQXmlElement** child) {
  if (!node_ || !child || index >= node_->ChildCount()) return kFail;
  return HandOut(node_->Children()[index], tree_, child);
}

HRESULT KQXml::GetChildByName(const char* name, IKQXmlElement** child) {
  return GetChildByNameAt(name, 0, child);
}

HRESULT KQXml::GetChildCountByName(const char* name, std::int32_t* count) {
  if (!node_ || !count) return kFail;
  *count = 0;
  if (!name) return kFail;
  const std::string_view wanted(name);
  for (const DOMNode* node : node_->Children()) {
    if (node->Name().Equals(wanted)) ++*count;
  }
  return kOk;
}

HRESULT KQXml::GetChildByNameAt(const char* name, std::int32_t index, IKQXmlElement** child) {
  if (!node_ || !name || !child || index < 0) return kFail;
  const std::string_view wanted(name);
  std::int32_t seen = 0;
  for (DOMNode* node : node_->Children()) {
    if (!node->Name().Equals(wanted)) continue;
    if (seen++ == index) return HandOut(node, tree_, child);
  }
  return kFail;
}

HRESULT KQXml::GetAttributeCount(std::int32_t* count) {
  if (!node_ || !count) return kFail;
  *count = static_cast<std::int32_t>(node_->Attributes().size());
  return kOk;
}

HRESULT KQXml::GetAttributeAt(std::int32_t index, char* nameBuffer, std::uint32_t nameLength,
                              char* valueBuffer, std::uint32_t valueLength) {
  if (!node_) return kFail;
  const auto attributes = node_->Attributes();
  const std::size_t at = index <= 0 ? 0 : static_cast<std::size_t>(index);
  if (at >= attributes.size()) return kFail;
  if ((!nameBuffer && nameLength) || (!valueBuffer && valueLength)) return kFail;
  CopyTruncated(attributes[at].name.view(), nameBuffer, nameLength);
  CopyTruncated(attributes[at].value.view(), valueBuffer, valueLength);
  return kOk;
}

HRESULT KQXml::GetAttributeValue(const char* name, char* buffer, std::uint32_t length) {
  if (!node_ || !name) return kFail;
  const VEXO::XML::DOMAttribute* attribute = node_->FindAttribute(name);
  if (!attribute) return kFail;
  return CopyTruncated(attribute->value.view(), buffer, length);
}

HRESULT KQXml::Serialize(char* buffer, std::int32_t size, std::int32_t* length) {
  if (!node_) return kFail;
  int written = 0;
  if (node_->Serialize(buffer, size, &written) < 0) return kFail;
  if (length) *length = written;
  return kOk;
}

HRESULT KQXml::GetParent(IKQXmlElement** parent) {
  if (!node_ || !parent) return kFail;
  DOMNode* parentNode = node_->Parent();
  TreeRef tree = tree_;
  SharedTree* current = CurrentTree();
  if (parentNode && current->Root() == node_) {
    // The top of a tree whose parent link was given to Create: followed only while the node
    // it names still exists.
    SharedTree* holder = nullptr;
    parentNode = current->LinkedParent(&holder);
    if (parentNode) tree = TreeRef(holder);
  }
  if (!parentNode) tree.Reset();
  return HandOut(parentNode, std::move(tree), parent);
}

}  // namespace Vantor::KQCP
