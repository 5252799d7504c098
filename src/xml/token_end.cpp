// The end rules of the tokens that can grow long: tags, comments, processing instructions,
// names and references, and literals.
#include "xml/token_end.h"

#include <cstring>

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
  // The longest opening that decides the kind is "<!--". A NUL byte among the first two means
  // UTF-16 text, whose bytes these rules do not read.
  if (token.size() < kShortest || token[0] == '\0' || token[1] == '\0') return true;
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
  const char* at = more.data();
  const char* const end = at + more.size();
  // Long stretches (a quoted value, a comment's text) are skipped with memchr.
  auto skipTo = [&](char wanted) {
    const void* found = std::memchr(at, wanted, static_cast<std::size_t>(end - at));
    at = found ? static_cast<const char*>(found) : end;
  };
  while (at < end && kind_ != Kind::kEnded) {
    switch (kind_) {
      case Kind::kStartTag:
        if (quote_ != 0) {
          skipTo(quote_);
          if (at < end) quote_ = 0;
        } else if (*at == '\'' || *at == '"') {
          quote_ = *at;
        } else if (*at == '>') {
          kind_ = Kind::kEnded;
        }
        break;
      case Kind::kEndTag:
        skipTo('>');
        if (at < end) kind_ = Kind::kEnded;
        break;
      case Kind::kComment:
        // "--" without '>' after it is an error, which completes nothing.
        if (*at == '>' && dashes_ >= 2) kind_ = Kind::kEnded;
        dashes_ = *at == '-' ? dashes_ + 1 : 0;
        break;
      case Kind::kPi:
        if (question_ && *at == '>') kind_ = Kind::kEnded;
        question_ = *at == '?';
        break;
      case Kind::kName:
        if (!IsNameByte(static_cast<unsigned char>(*at))) kind_ = Kind::kEnded;
        break;
      case Kind::kLiteral:
        skipTo(quote_);
        if (at < end) kind_ = Kind::kEnded;
        break;
      case Kind::kEnded:
        break;
    }
    if (at < end) ++at;
  }
  return kind_ == Kind::kEnded;
}

}  // namespace VEXO::XML
