// Feeds a package parser in pseudo-random pieces, compares it with a builder fed the same pieces
// without keeping any back, walks what it built, and checks that the package's byte form is
// stable through write, parse, write.
#include "package_round_trip.h"

#include <vector>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/xml.h"
#include "xml/dom_node.h"
#include "xml/dom_parser.h"
#include "xml/xml_package_parser.h"

namespace kqcp_fuzz {

namespace {

using Vantor::KQCP::IKQXmlElement;
using Vantor::KQCP::IXMLPackage;
using Vantor::KQCP::IXMLPackageParser;
using Vantor::KQCP::S_OK;
using Vantor::KQCP::XMLPackageParser;
using Vantor::KQCP::com::ComPtr;
using Vantor::KQCP::com::MakeObject;

constexpr std::size_t kLargestOutput = std::size_t{64} << 20;

// The byte form, growing the buffer until it fits; false when it never does.
bool Write(IXMLPackage* package, std::string* out) {
  for (std::size_t size = 4096; size <= kLargestOutput; size *= 2) {
    std::vector<char> buffer(size);
    std::int32_t length = -1;
    if (package->GetData(buffer.data(), static_cast<std::int32_t>(size), &length) == 0) {
      out->assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
  }
  return false;
}

// The byte form of a tree built without a package, as the package writes it.
bool WriteNode(const VEXO::XML::DOMNode& node, std::string* out) {
  for (std::size_t size = 4096; size <= kLargestOutput; size *= 2) {
    std::vector<char> buffer(size);
    int length = -1;
    if (node.Serialize(buffer.data(), static_cast<int>(size), &length) >= 0) {
      out->assign(buffer.data(), static_cast<std::size_t>(length));
      *out += "\r\n\r\n";
      return true;
    }
  }
  return false;
}

// Touches every navigation operation on a few nodes, the way a receiver reads a package.
void Walk(IKQXmlElement* root) {
  char name[64];
  char attribute[64];
  char value[64];
  std::int32_t count = 0;
  root->GetChildCount(&count);
  IKQXmlElement* child = nullptr;
  for (std::int32_t i = 0; i < count && i < 8; ++i) {
    if (root->GetChild(static_cast<std::uint32_t>(i), &child) != 0) continue;
    // Truncated attribute copies carry no NUL, so they get buffers of their own.
    child->GetAttributeAt(0, attribute, sizeof attribute, value, sizeof value);
    if (child->GetName(name, sizeof name) != 0) continue;
    IKQXmlElement* found = nullptr;
    if (root->FindElement(name, &found) == 0) found->GetText(value, sizeof value);
    IKQXmlElement* parent = nullptr;
    child->GetParent(&parent);
  }
  root->GetAttributeCount(&count);
  root->GetChildByNameAt("a", 1, &child);
}

}  // namespace

std::string CheckPackageRoundTrip(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::uint32_t state = data[0] * 2654435761u + 1;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::size_t left = size - 1;

  auto parser = ComPtr<IXMLPackageParser>::Adopt(MakeObject<XMLPackageParser>());
  if (!parser) return "no parser";
  // The same pieces go straight to Expat through a builder that keeps nothing back.
  VEXO::XML::DOMNode top;
  VEXO::XML::DOMParser direct;
  if (!direct.CreateParser()) return "no direct parser";
  direct.SetTopNode(&top);
  bool directAccepted = true;
  std::int32_t complete = 0;
  bool refused = false;
  while (left > 0 && !complete) {
    state = state * 1103515245u + 12345u;
    std::size_t piece = (state >> 16) % 48;
    if (piece > left) piece = left;
    const bool accepted = parser->Parse(bytes, static_cast<std::int32_t>(piece)) == S_OK;
    directAccepted = directAccepted && direct.Parse(bytes, static_cast<int>(piece), false);
    bytes += piece;
    left -= piece;
    parser->IsComplete(&complete);
    if (!accepted) {
      refused = true;
      break;
    }
  }

  // Bytes kept back inside long tokens change nothing: the completion is the same, and the
  // tree too where the bytes were accepted (before an error, how much text Expat passes on
  // depends on how the bytes were cut).
  if (direct.IsComplete() != (complete != 0)) return "completion differs from direct feeding";
  if (directAccepted && refused) return "refused only when kept back";
  std::string directText;
  const bool directWritten = WriteNode(top, &directText);

  ComPtr<IXMLPackage> package;
  if (parser->GetPackage(package.Put()) != 0) return "no package";
  IKQXmlElement* root = nullptr;
  package->GetElement(&root);
  if (!root) return "package without element";
  Walk(root);
  std::string first;
  const bool written = Write(package.Get(), &first);
  if (directAccepted && (written != directWritten || (written && first != directText))) {
    return "tree differs from direct feeding: " + first + "\n" + directText;
  }
  // The parser may go before the package: the tree stays with the package.
  parser.Reset();
  if (!complete) return {};
  if (!written) return {};  // larger than the check is willing to write

  auto again = ComPtr<IXMLPackageParser>::Adopt(MakeObject<XMLPackageParser>());
  if (again->Parse(first.data(), static_cast<std::int32_t>(first.size())) != S_OK) {
    return "written package refused: " + first;
  }
  std::int32_t done = 0;
  if (again->IsComplete(&done) != S_OK || !done) return "written package incomplete: " + first;
  ComPtr<IXMLPackage> reread;
  std::string second;
  if (again->GetPackage(reread.Put()) != 0 || !Write(reread.Get(), &second)) {
    return "rewrite failed: " + first;
  }
  if (second != first) return "unstable:\n" + first + "\n" + second;
  return {};
}

}  // namespace kqcp_fuzz
