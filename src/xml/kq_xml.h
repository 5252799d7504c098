// The element object: wraps one DOMNode. An element made by Create owns a fresh tree; elements
// returned by navigation view a node of an existing tree and belong to the element that
// returned them (it releases them when it goes).
#pragma once

#include <vector>

#include "com/object.h"
#include "kqcp/xml.h"
#include "xml/shared_tree.h"

namespace Vantor::KQCP {

class KQXml : public com::RefCounted<com::PlainObject, IKQXmlElement> {
 public:
  KQXml() = default;
  // A view of node, which lives in tree; it does not own the node.
  KQXml(VEXO::XML::DOMNode* node, xml::TreeRef tree);
  ~KQXml() override;

  HRESULT Create(const char* name, IKQXmlElement* parent) override;
  HRESULT SetText(const char* text) override;
  HRESULT SetName(const char* name) override;
  HRESULT SetNamespace(const char* ns) override;
  HRESULT SetAttribute(const char* name, const char* value) override;
  HRESULT SetAttributeInt(const char* name, std::int32_t value) override;
  HRESULT RemoveAllAttributes() override;
  HRESULT AddChild(IKQXmlElement* child) override;
  HRESULT RemoveAllChildren() override;
  HRESULT GetText(char* buffer, std::uint32_t length) override;
  HRESULT GetName(char* buffer, std::uint32_t length) override;
  HRESULT GetNamespace(char* buffer, std::uint32_t length) override;
  HRESULT GetAttribute(const char* name, char* buffer, std::uint32_t length) override;
  HRESULT GetFirstChild(std::uint32_t ignored, IKQXmlElement** child) override;
  HRESULT FindElement(const char* path, IKQXmlElement** element) override;
  HRESULT GetChildCount(std::int32_t* count) override;
  HRESULT GetChild(std::uint32_t index, IKQXmlElement** child) override;
  HRESULT GetChildByName(const char* name, IKQXmlElement** child) override;
  HRESULT GetChildCountByName(const char* name, std::int32_t* count) override;
  HRESULT GetChildByNameAt(const char* name, std::int32_t index, IKQXmlElement** child) override;
  HRESULT GetAttributeCount(std::int32_t* count) override;
  HRESULT GetAttributeAt(std::int32_t index, char* nameBuffer, std::uint32_t nameLength,
                         char* valueBuffer, std::uint32_t valueLength) override;
  HRESULT GetAttributeValue(const char* name, char* buffer, std::uint32_t length) override;
  HRESULT Serialize(char* buffer, std::int32_t size, std::int32_t* length) override;
  HRESULT GetParent(IKQXmlElement** parent) override;

  VEXO::XML::DOMNode* Node() const { return node_; }
  bool OwnsNode() const { return ownsNode_; }

 private:
  // A new element over node in tree, kept in the handed-out set and stored in *out.
  HRESULT HandOut(VEXO::XML::DOMNode* node, xml::TreeRef tree, IKQXmlElement** out);
  // The tree the node lives in now.
  xml::SharedTree* CurrentTree() const { return tree_ ? tree_.Get()->Current() : nullptr; }

  VEXO::XML::DOMNode* node_ = nullptr;
  bool ownsNode_ = false;
  xml::TreeRef tree_;
  std::vector<KQXml*> handedOut_;
};

}  // namespace Vantor::KQCP
