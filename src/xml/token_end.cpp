// The end rules of the tokens that can grow long: tags, comments, processing instructions,
// names and references, and literals.
#include "xml/token_end.h"

namespace VEXO::XML {

namespace {

// Bytes that continue a name. Bytes from 128 on count too: where one of them ends a name,
// what follows is an error, and no package completes before an error.
bool IsNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':' || c >= 0x80;
}

}  // namespace

bool TokenEnd::Start(std::string_view token) {
  quote_ = 0;
  dashes_ = 0;
  question_ = false;
  kind_ = Kind::kEnded;
  // The longest opening that decides the kind is "<!--".
  if (token.size() < kShortest) return true;
  std::size_t skip = 0;
  if (token.starts_with("<!--")) {
    kind_ = Kind::kComment;
    skip = 4;
  } else if (token.starts_with("<?")) {
    kind_ = Kind::kPi;
    skip = 2;
  } else if (token.starts_with("</")) {
    kind_ = Kind::kEndTag;
    skip = 2;
  } else if (token.starts_with("<!") || token.starts_with("&#")) {
    kind_ = Kind::kName;
    skip = 2;
  } else if (token.starts_with("<")) {
    kind_ = Kind::kStartTag;
    skip = 1;
  } else if (token.starts_with("&") || token.starts_with("%")) {
    kind_ = Kind::kName;
    skip = 1;
  } else if (token.starts_with("'") || token.starts_with("\"")) {
    kind_ = Kind::kLiteral;
    quote_ = token[0];
    skip = 1;
  } else if (!token.empty() && IsNameByte(static_cast<unsigned char>(token[0]))) {
    kind_ = Kind::kName;
    skip = 1;
  }
  return Scan(token.substr(skip));
}

bool TokenEnd::Scan(std::string_view more) {
  for (const char byte : more) {
    if (kind_ == Kind::kEnded) return true;
    // A NUL byte means UTF-16 text, whose bytes these rules do not read.
    if (byte == '\0') {
      kind_ = Kind::kEnded;
      break;
    }
    const auto c = static_cast<unsigned char>(byte);
    switch (kind_) {
      case Kind::kStartTag:
        if (quote_ != 0) {
          if (byte == quote_) quote_ = 0;
        } else if (byte == '\'' || byte == '"') {
          quote_ = byte;
        } else if (byte == '>') {
          kind_ = Kind::kEnded;
        }
        break;
      case Kind::kEndTag:
        if (byte == '>') kind_ = Kind::kEnded;
        break;
      case Kind::kComment:
        // "--" without '>' after it is an error, which completes nothing.
        if (byte == '>' && dashes_ >= 2) kind_ = Kind::kEnded;
        dashes_ = byte == '-' ? dashes_ + 1 : 0;
        break;
      case Kind::kPi:
        if (question_ && byte == '>') kind_ = Kind::kEnded;
        question_ = byte == '?';
        break;
      case Kind::kName:
        if (!IsNameByte(c)) kind_ = Kind::kEnded;
        break;
      case Kind::kLiteral:
        if (byte == quote_) kind_ = Kind::kEnded;
        break;
      case Kind::kEnded:
        break;
    }
  }
  return kind_ == Kind::kEnded;
}

}  // namespace VEXO::XML
