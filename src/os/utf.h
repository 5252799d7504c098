// Conversion between UTF-8 and UTF-16. Malformed input becomes U+FFFD rather than failing.
#pragma once

#include <string>
#include <string_view>

namespace Vantor::KQCP::os {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Length of a NUL-terminated UTF-16 string; 0 for null.
std::size_t Utf16Length(const char16_t* text);

}  // namespace Vantor::KQCP::os
