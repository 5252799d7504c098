// Watches the bytes of an XML token that Expat has begun but not finished, and tells when they
// may hold the token's end. The package parser keeps later bytes back while they cannot end it,
// since Expat would scan the whole token again for each of them.
#pragma once

#include <string_view>

namespace VEXO::XML {

class TokenEnd {
 public:
  // The fewest bytes of a token that tell its kind.
  static constexpr std::size_t kShortest = 4;

  // Starts on a token whose bytes so far are token (its first byte is the token's first).
  // True when they may end it already, or are too few to tell.
  bool Start(std::string_view token);
  // Further bytes of the same token; true once they may hold its end (and from then on).
  // Errors count as ends: what matters is only that a finished token is never missed.
  bool Scan(std::string_view more);

 private:
  enum class Kind {
    kEnded,     // ended, or of a kind this class does not follow
    kStartTag,  // <name attributes: '>' outside a quoted value
    kEndTag,    // </name: '>'
    kComment,   // <!--: "-->"
    kPi,        // <?: "?>"
    kName,      // a name, also after "<!", "&", "&#" or "%": the first byte that is no name byte
    kLiteral,   // a quoted string: the same quote
  };

  Kind kind_ = Kind::kEnded;
  char quote_ = 0;         // the open quote of a start tag's value or of a literal
  int dashes_ = 0;         // '-' just seen in a comment
  bool question_ = false;  // '?' just seen in a processing instruction
};

}  // namespace VEXO::XML
