// Small helpers shared by the XML tests: parse text into a tree, write a tree back, and read
// element strings.
#pragma once

#include <string>
#include <string_view>

#include "kqcp/xml.h"
#include "xml/dom_node.h"
#include "xml/dom_parser.h"

namespace kqcp_test {

// Parses the whole text at once (final flag false, as the library does) into top.
inline bool ParseInto(VEXO::XML::DOMNode& top, std::string_view text) {
  VEXO::XML::DOMParser parser;
  if (!parser.CreateParser()) return false;
  parser.SetTopNode(&top);
  return parser.Parse(text.data(), static_cast<int>(text.size()), false);
}

// The writer's output, or "<failed>".
inline std::string Write(const VEXO::XML::DOMNode& node, int size = 1 << 16) {
  std::string buffer(static_cast<std::size_t>(size), '\x7f');
  int length = -2;
  const int result = node.Serialize(buffer.data(), size, &length);
  if (result < 0) return "<failed>";
  if (length != result || buffer[static_cast<std::size_t>(result)] != '\0') return "<bad length>";
  buffer.resize(static_cast<std::size_t>(result));
  return buffer;
}

inline std::string NameOf(Vantor::KQCP::IKQXmlElement* element) {
  char buffer[256];
  if (element->GetName(buffer, sizeof buffer) != 0) return "<no name>";
  return buffer;
}

}  // namespace kqcp_test
