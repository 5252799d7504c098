// Path parsing and lookup below a node.
#include "xml/node_path.h"

#include "xml/dom_node.h"

namespace VEXO::XML {

bool NodePath::IsNameByte(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
         (byte >= 'A' && byte <= 'Z') || byte == '_' || byte >= 128;
}

NodePath::NodePath(std::string_view path) {
  try {
    valid_ = Parse(path);
  } catch (...) {
    valid_ = false;
  }
}

bool NodePath::Parse(std::string_view path) {
  if (path.empty()) return false;
  const std::size_t n = path.size();
  if (path[n - 1] == '/' || path[n - 1] == '@') return false;
  std::size_t start = 0;  // of the current segment, or of the attribute name
  bool inAttribute = false;
  const auto first = static_cast<unsigned char>(path[0]);
  if (first == '/') {
    start = 1;
  } else if (first == '@') {
    inAttribute = true;
    start = 1;
  } else if (IsNameByte(first)) {
    relative_ = true;
  } else {
    return false;
  }
  for (std::size_t i = 1; i < n; ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte == '/') {
      if (inAttribute) return false;
      segments_.push_back(path.substr(start, i - start));
      start = i + 1;
    } else if (byte == '@') {
      // Only once, and only right after a "/"; the segment that "/" began is dropped.
      if (inAttribute || path[i - 1] != '/') return false;
      inAttribute = true;
      start = i + 1;
    } else if (!IsNameByte(byte)) {
      return false;
    }
  }
  if (inAttribute) {
    attribute_ = path.substr(start);
  } else {
    segments_.push_back(path.substr(start));
  }
  return true;
}

int DOMNode::Find(const char* path, DOMNode** found) {
  if (!path || !found) return kDomInvalidPath;
  const NodePath parsed(path);
  if (!parsed.IsValid()) return kDomInvalidPath;
  const auto& segments = parsed.Segments();
  std::size_t next = 0;
  if (!parsed.IsRelative() && !segments.empty()) {
    if (!name_.Equals(segments[0])) return kDomPathRootMismatch;
    next = 1;
  }
  DOMNode* node = this;
  for (; next < segments.size(); ++next) {
    DOMNode* match = nullptr;
    for (DOMNode* child : node->Children()) {
      if (child->name_.Equals(segments[next])) {
        match = child;
        break;
      }
    }
    if (!match) return kDomPathNotFound;
    node = match;
  }
  *found = node;
  return kDomOk;
}

}  // namespace VEXO::XML
