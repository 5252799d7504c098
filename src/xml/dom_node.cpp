// Node fields, attributes in name order, children and destruction of whole subtrees.
#include "xml/dom_node.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "xml/dom_arena.h"

namespace VEXO::XML {

DOMNode::~DOMNode() {
  DestroyDescendants();
  DestroyOwnParts();
}

DOMNode* DOMNode::New(const char* name, DOMNode* parent) {
  auto* node = new (std::nothrow) DOMNode;
  if (!node) return nullptr;
  if (!node->SetName(name)) {
    delete node;
    return nullptr;
  }
  node->parent_ = parent;
  return node;
}

void DOMNode::DestroyDescendants() {
  // Walks down to a leaf, destroys it, and climbs back through the parent link; every child's
  // parent link is the node holding it, so no stack is needed.
  DOMNode* node = this;
  for (;;) {
    if (node->children_ && node->children_->size > 0) {
      node = node->children_->Items()[--node->children_->size];
      continue;
    }
    if (node == this) return;
    DOMNode* up = node->parent_;
    if (node->inArena_) {
      node->~DOMNode();
    } else {
      delete node;
    }
    node = up;
  }
}

void DOMNode::DestroyOwnParts() {
  FreeAttributes();
  FreeChildren();
  text_.Clear();
  name_.Clear();
  namespace_.Clear();
  delete arena_;
  arena_ = nullptr;
}

DOMArena* DOMNode::Arena() {
  if (!arena_) arena_ = new (std::nothrow) DOMArena;
  return arena_;
}

std::size_t DOMNode::ArenaBytesReserved() const { return arena_ ? arena_->BytesReserved() : 0; }

bool DOMNode::SetText(const char* text) { return text_.Assign(text ? text : ""); }
bool DOMNode::SetName(const char* name) { return name_.Assign(name ? name : ""); }
bool DOMNode::SetNamespace(const char* ns) { return namespace_.Assign(ns ? ns : ""); }

std::span<const DOMAttribute> DOMNode::Attributes() const {
  if (!attributes_) return {};
  return {attributes_->Items(), attributes_->size};
}

std::span<DOMNode* const> DOMNode::Children() const {
  if (!children_) return {};
  return {children_->Items(), children_->size};
}

DOMAttribute* DOMNode::FindSlot(std::string_view name, bool& found) const {
  found = false;
  if (!attributes_) return nullptr;
  DOMAttribute* items = attributes_->Items();
  std::size_t low = 0;
  std::size_t high = attributes_->size;
  // Plain byte order: string_view compares as unsigned bytes.
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    const int order = items[mid].name.view().compare(name);
    if (order == 0) {
      found = true;
      return &items[mid];
    }
    if (order < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return items + low;
}

const DOMAttribute* DOMNode::FindAttribute(std::string_view name) const {
  bool found = false;
  const DOMAttribute* slot = FindSlot(name, found);
  return found ? slot : nullptr;
}

const char* DOMNode::GetAttribute(const char* name) const {
  if (!name) return nullptr;
  const std::string_view key(name);
  if (key == "xmlns") return namespace_.c_str();
  const DOMAttribute* attribute = FindAttribute(key);
  return attribute ? attribute->value.c_str() : nullptr;
}

DOMAttribute* DOMNode::InsertAttributeSlot(std::size_t index) {
  const std::uint32_t size = attributes_ ? attributes_->size : 0;
  if (!attributes_ || attributes_->capacity <= size) {
    const std::uint32_t capacity = size < 2 ? 4 : size * 2;
    auto* grown = static_cast<AttributeArray*>(
        std::malloc(sizeof(AttributeArray) + sizeof(DOMAttribute) * capacity));
    if (!grown) return nullptr;
    grown->size = size;
    grown->capacity = capacity;
    for (std::uint32_t i = 0; i < size; ++i) {
      auto* moved = new (&grown->Items()[i]) DOMAttribute;
      moved->name.Take(attributes_->Items()[i].name);
      moved->value.Take(attributes_->Items()[i].value);
    }
    FreeAttributes();
    attributes_ = grown;
  }
  DOMAttribute* items = attributes_->Items();
  new (&items[size]) DOMAttribute;
  for (std::size_t i = size; i > index; --i) {
    items[i].name.Take(items[i - 1].name);
    items[i].value.Take(items[i - 1].value);
  }
  ++attributes_->size;
  return &items[index];
}

int DOMNode::SetAttribute(const char* name, const char* value) {
  if (!name) return kDomFailed;
  const std::string_view key(name);
  const std::string_view text(value ? value : "");
  if (key == "xmlns" && !namespace_.Assign(text)) return kDomFailed;
  bool found = false;
  DOMAttribute* slot = FindSlot(key, found);
  if (found) return kDomAttributeExists;
  DOMString newName;
  DOMString newValue;
  if (!newName.Assign(key) || !newValue.Assign(text)) return kDomFailed;
  const std::size_t index = slot ? static_cast<std::size_t>(slot - attributes_->Items()) : 0;
  DOMAttribute* added = InsertAttributeSlot(index);
  if (!added) return kDomFailed;
  added->name.Take(newName);
  added->value.Take(newValue);
  return kDomOk;
}

int DOMNode::SetAttribute(const char* name, std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  return SetAttribute(name, text);
}

void DOMNode::FreeAttributes() {
  if (!attributes_) return;
  for (std::uint32_t i = 0; i < attributes_->size; ++i) attributes_->Items()[i].~DOMAttribute();
  if (attributes_->capacity != 0) std::free(attributes_);
  attributes_ = nullptr;
}

void DOMNode::RemoveAllAttributes() { FreeAttributes(); }

int DOMNode::AttachChild(DOMNode* child) {
  if (!child || child == this) return kDomFailed;
  const std::uint32_t size = children_ ? children_->size : 0;
  if (!children_ || children_->capacity <= size) {
    const std::uint32_t capacity = size < 4 ? 8 : size * 2;
    auto* grown =
        static_cast<ChildArray*>(std::malloc(sizeof(ChildArray) + sizeof(DOMNode*) * capacity));
    if (!grown) return kDomFailed;
    grown->size = size;
    grown->capacity = capacity;
    if (size) std::memcpy(grown->Items(), children_->Items(), sizeof(DOMNode*) * size);
    FreeChildren();
    children_ = grown;
  }
  children_->Items()[children_->size++] = child;
  child->parent_ = this;
  return kDomOk;
}

void DOMNode::FreeChildren() {
  if (children_ && children_->capacity != 0) std::free(children_);
  children_ = nullptr;
}

void DOMNode::RemoveAllChildren() {
  DestroyDescendants();
  FreeChildren();
}

}  // namespace VEXO::XML
