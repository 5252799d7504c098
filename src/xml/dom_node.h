// One element of an XML tree: name, text, namespace, attributes in ascending name order and
// owned children. Nodes built by DOMParser live in the arena of the tree's top node; nodes made
// with New live on the heap. Destruction, writing and path lookup never recurse, so any depth
// is safe.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "xml/dom_string.h"

namespace VEXO::XML {

class DOMArena;
class DOMParser;

// Results of the node operations.
inline constexpr int kDomOk = 0;
inline constexpr int kDomFailed = 1;  // memory exhausted, or a refused argument
inline constexpr int kDomAttributeExists = 3000;
inline constexpr int kDomInvalidPath = 3001;
inline constexpr int kDomPathRootMismatch = 3002;
inline constexpr int kDomPathNotFound = 3004;

struct DOMAttribute {
  DOMString name;
  DOMString value;
};

class DOMNode {
 public:
  DOMNode() = default;
  // Destroys the subtree (every child, at any depth); the parent is not touched.
  virtual ~DOMNode();
  DOMNode(const DOMNode&) = delete;
  DOMNode& operator=(const DOMNode&) = delete;

  // A heap node with that name and parent link, not yet among the parent's children; null when
  // memory is exhausted. Destroy it with delete, or hand it to AttachChild.
  static DOMNode* New(const char* name, DOMNode* parent);

  // Compact XML text of the node and its subtree, NUL-terminated: the length without the NUL
  // (also stored in *length), or -1 for a null buffer or text that does not fit.
  virtual int Serialize(char* buffer, int size, int* length) const;

  // Null counts as empty. False when memory is exhausted.
  bool SetText(const char* text);
  bool SetName(const char* name);
  bool SetNamespace(const char* ns);
  bool AppendText(std::string_view text) { return text_.Append(text); }
  const char* GetText() const { return text_.c_str(); }
  const char* GetName() const { return name_.c_str(); }
  const char* GetNamespace() const { return namespace_.c_str(); }
  const DOMString& Text() const { return text_; }
  const DOMString& Name() const { return name_; }
  const DOMString& Namespace() const { return namespace_; }

  // kDomOk when added, kDomAttributeExists when the name is there already (its value stays).
  // "xmlns" also always replaces the namespace field.
  int SetAttribute(const char* name, const char* value);
  int SetAttribute(const char* name, std::int32_t value);
  // The value, or null. "xmlns" reads the namespace field.
  const char* GetAttribute(const char* name) const;
  // The map entry itself (no xmlns rule), or null.
  const DOMAttribute* FindAttribute(std::string_view name) const;
  void RemoveAllAttributes();
  std::span<const DOMAttribute> Attributes() const;

  // Sets the child's parent link and appends it; the node then owns the child. kDomFailed
  // (and the child stays with the caller) when memory is exhausted.
  int AttachChild(DOMNode* child);
  // Destroys every child with its subtree.
  void RemoveAllChildren();
  std::span<DOMNode* const> Children() const;
  std::size_t ChildCount() const { return children_ ? children_->size : 0; }

  // The parent link: the node this one is attached to, or the one given to New.
  DOMNode* Parent() const { return parent_; }

  // Bytes held by the arena of the nodes parsed below this node (0 for other nodes).
  std::size_t ArenaBytesReserved() const;

  // Finds the node a path names (see NodePath): kDomOk and the node, or kDomInvalidPath,
  // kDomPathRootMismatch, kDomPathNotFound.
  int Find(const char* path, DOMNode** found);

 private:
  friend class DOMParser;

  // Attributes and children are length-prefixed arrays like the strings: capacity 0 marks an
  // exactly sized arena array, copied to the heap before it changes.
  struct AttributeArray {
    std::uint32_t size;
    std::uint32_t capacity;
    DOMAttribute* Items() { return reinterpret_cast<DOMAttribute*>(this + 1); }
  };
  struct ChildArray {
    std::uint32_t size;
    std::uint32_t capacity;
    DOMNode** Items() { return reinterpret_cast<DOMNode**>(this + 1); }
  };

  DOMAttribute* FindSlot(std::string_view name, bool& found) const;
  // Room for one more attribute at position index; null when memory is exhausted.
  DOMAttribute* InsertAttributeSlot(std::size_t index);
  void FreeAttributes();
  void FreeChildren();
  // Destroys the children's subtrees without recursion.
  void DestroyDescendants();
  // Frees what this node owns apart from its children.
  void DestroyOwnParts();
  DOMArena* Arena();

  DOMNode* parent_ = nullptr;
  DOMString text_;
  DOMString name_;
  DOMString namespace_;
  AttributeArray* attributes_ = nullptr;
  ChildArray* children_ = nullptr;
  // The arena of the nodes DOMParser built below this node (owned; set on top nodes only).
  DOMArena* arena_ = nullptr;
  bool inArena_ = false;
};

}  // namespace VEXO::XML
