// Subject names.
#include "subjects.h"

namespace kqcp_bridge {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out.empty() ? "-" : out;
}

std::string Hex64(std::uint64_t value) {
  std::string bytes;
  for (int i = 7; i >= 0; --i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return Hex(bytes);
}

Subjects::Subjects(const std::string& prefix, const std::string& platform) {
  bool plain = true;
  for (const char c : platform) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    plain = plain && safe;
  }
  base_ = prefix + "." + (plain ? platform : "x" + Hex(platform));
}

}  // namespace kqcp_bridge
