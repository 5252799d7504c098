// BSTR allocation: length prefix, terminator, embedded NULs, null handling.
#include <gtest/gtest.h>

#include <cstring>

#include "kqcp/types.h"

namespace {

TEST(Bstr, KeepsLengthPrefixTerminatorAndEmbeddedNul) {
  const char16_t text[] = {u'a', 0, u'b'};
  auto* s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(bytes, 6u);
  EXPECT_EQ(s[2], u'b');
  EXPECT_EQ(s[3], 0);
  SysFreeString(s);

  auto* hello = SysAllocString(u"hello");
  EXPECT_EQ(SysStringLen(hello), 5u);
  EXPECT_EQ(std::u16string(hello), u"hello");
  SysFreeString(hello);
}

TEST(Bstr, NullInputs) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  auto* zeroed = SysAllocStringLen(nullptr, 2);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(zeroed[0], 0);
  EXPECT_EQ(SysStringLen(zeroed), 2u);
  SysFreeString(zeroed);
  EXPECT_EQ(SysAllocStringLen(u"x", 0x7FFFFFFF), nullptr);
}

}  // namespace
