// The end rules of long unfinished tokens: every token is seen to end by its last byte, from any
// split into the bytes Expat holds and the bytes that follow, and not before.
#include "xml/token_end.h"

#include <gtest/gtest.h>

#include <string>

namespace VEXO::XML {
namespace {

TEST(TokenEnd, SeesEachTokenEndAtItsLastByteAndNotBefore) {
  // Each text is a token followed by nothing else; names end at the byte after them.
  const std::string tokens[] = {
      "<a b='x>y\"' c=\"p'q>\">",
      "<a b='1'/>",
      "</abc   >",
      "<!-- a - b - c -->",
      "<?pi a > b ? c?>",
      "&amp;",
      "&#x1F;",
      "%pe;",
      "'lit\"er>al'",
      "\"lit'er>al\"",
      "name.with-all_the:bytes\xc3\xa9 ",
      "<!DOCTYPE ",
  };
  for (const std::string& token : tokens) {
    for (std::size_t split = 1; split <= token.size(); ++split) {
      TokenEnd watch;
      const bool endedInHead = watch.Start(token.substr(0, split));
      if (split < TokenEnd::kShortest) {
        EXPECT_TRUE(endedInHead) << "too short to tell: " << token;
        continue;
      }
      EXPECT_EQ(endedInHead, split == token.size()) << token << " split " << split;
      if (split == token.size()) continue;
      // The rest, one byte at a time.
      for (std::size_t at = split; at < token.size(); ++at) {
        EXPECT_EQ(watch.Scan(token.substr(at, 1)), at + 1 == token.size()) << token << " " << at;
      }
    }
  }
}

TEST(TokenEnd, ErrorsAndUnknownTokensCountAsEnded) {
  using namespace std::string_literals;
  const std::string ended[] = {"&am p", "]]]]", "    ", "", "<a", "<\0a\0"s, "\0<\0a"s};
  for (const std::string& text : ended) {
    TokenEnd watch;
    const bool now = watch.Start(text);
    EXPECT_TRUE(now || watch.Scan(">;x' \"")) << text;
  }
}

}  // namespace
}  // namespace VEXO::XML
