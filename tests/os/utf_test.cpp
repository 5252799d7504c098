// UTF-8 / UTF-16 conversion, including malformed input.
#include "os/utf.h"

#include <gtest/gtest.h>

namespace Vantor::KQCP::os {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string samples[] = {u"",
                                    u"plain ascii",
                                    u"caf\u00e9",
                                    u"\u4e2d\u6587",
                                    u"\U0001F600 smile",
                                    u"mixed \u00e9\u4e2d\U0001F600"};
  for (const auto& sample : samples) {
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(sample)), sample);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::u16string expected;
  } cases[] = {
      {"\xC3", u"\uFFFD"},  // truncated sequence
      {"a\xFF"
       "b",
       u"a\uFFFDb"},                            // invalid lead byte
      {"\xC0\x80", u"\uFFFD\uFFFD"},            // overlong NUL
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.expected) << c.utf8;
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBDy");
}

}  // namespace
}  // namespace Vantor::KQCP::os
