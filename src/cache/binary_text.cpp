// Encoder and decoder of the cache's text form of binary data.
#include "cache/binary_text.h"

namespace Vantor::KQCP {

namespace {

constexpr std::uint8_t kEscape = 0x01;
constexpr std::uint8_t kApostrophe = 0x27;
constexpr std::uint8_t kEmpty = 'x';

// The offset whose shift leaves the fewest bytes needing an escape (0, 1 and the apostrophe);
// the smallest such offset, and never the apostrophe itself, so the first byte stays printable
// for SQL literals.
std::uint8_t ChooseOffset(const std::uint8_t* data, std::int64_t n) {
  std::int64_t count[256] = {};
  for (std::int64_t i = 0; i < n; ++i) ++count[data[i]];
  std::int64_t best = n;
  std::uint8_t offset = 0;
  for (int e = 1; e < 256; ++e) {
    if (e == kApostrophe) continue;
    const std::int64_t escapes = count[e] + count[(e + 1) & 0xFF] + count[(e + kApostrophe) & 0xFF];
    if (escapes < best) {
      best = escapes;
      offset = static_cast<std::uint8_t>(e);
      if (best == 0) break;
    }
  }
  return offset;
}

}  // namespace

std::size_t EncodedCapacity(std::int64_t n) {
  if (n < 0) n = 0;
  return static_cast<std::size_t>(n * 257 / 254 + 3);
}

std::size_t EncodeBinary(const std::uint8_t* data, std::int64_t n, std::uint8_t* out) {
  if (n <= 0) {
    out[0] = kEmpty;
    out[1] = 0;
    return 1;
  }
  const std::uint8_t offset = ChooseOffset(data, n);
  std::uint8_t* p = out;
  *p++ = offset;
  for (std::int64_t i = 0; i < n; ++i) {
    const auto c = static_cast<std::uint8_t>(data[i] - offset);
    if (c == 0) {
      *p++ = kEscape;
      *p++ = 1;
    } else if (c == 1) {
      *p++ = kEscape;
      *p++ = 2;
    } else if (c == kApostrophe) {
      *p++ = kEscape;
      *p++ = 3;
    } else {
      *p++ = c;
    }
  }
  *p = 0;
  return static_cast<std::size_t>(p - out);
}

std::int64_t DecodedLength(const std::uint8_t* text, std::size_t size) {
  if (!text || size == 0 || text[0] == 0) return -1;
  std::int64_t length = 0;
  for (std::size_t i = 1; i < size && text[i] != 0; ++i, ++length) {
    if (text[i] != kEscape) continue;
    ++i;
    if (i >= size || text[i] < 1 || text[i] > 3) return -1;
  }
  return length;
}

void DecodeBinary(const std::uint8_t* text, std::size_t size, std::uint8_t* out) {
  const std::uint8_t offset = text[0];
  for (std::size_t i = 1; i < size && text[i] != 0; ++i) {
    std::uint8_t c = text[i];
    if (c == kEscape) {
      const std::uint8_t code = text[++i];
      c = code == 1 ? 0 : code == 2 ? 1 : kApostrophe;
    }
    *out++ = static_cast<std::uint8_t>(c + offset);
  }
}

}  // namespace Vantor::KQCP
