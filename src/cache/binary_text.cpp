// Encoder and decoder of the cache's text form of binary data. Both move 16 bytes at a time
// while no byte of the block needs an escape, and fall back to one byte at a time around the
// few that do.
#include "cache/binary_text.h"

#include <algorithm>
#include <cstring>

namespace Vantor::KQCP {

namespace {

constexpr std::uint8_t kEscape = 0x01;
constexpr std::uint8_t kApostrophe = 0x27;
constexpr std::uint8_t kEmpty = 'x';
constexpr std::size_t kBlock = 16;

using Block = std::uint8_t __attribute__((vector_size(kBlock)));
using BlockMask = std::int8_t __attribute__((vector_size(kBlock)));

Block LoadBlock(const std::uint8_t* p) {
  Block block;
  std::memcpy(&block, p, kBlock);
  return block;
}

void StoreBlock(std::uint8_t* p, Block block) { std::memcpy(p, &block, kBlock); }

bool AnySet(BlockMask mask) {
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// Byte counts in four interleaved tables, so that runs of one value do not wait on each
// other's increments.
void CountBytes(const std::uint8_t* data, std::size_t n, std::uint64_t* count) {
  std::uint32_t partial[4][256] = {};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++partial[0][data[i]];
    ++partial[1][data[i + 1]];
    ++partial[2][data[i + 2]];
    ++partial[3][data[i + 3]];
  }
  for (; i < n; ++i) ++partial[0][data[i]];
  for (int v = 0; v < 256; ++v) {
    count[v] = std::uint64_t{partial[0][v]} + partial[1][v] + partial[2][v] + partial[3][v];
  }
}

// The offset whose shift leaves the fewest bytes needing an escape (0, 1 and the apostrophe);
// the smallest such offset, never the apostrophe itself.
std::uint8_t ChooseOffset(const std::uint8_t* data, std::size_t n) {
  std::uint64_t count[256];
  CountBytes(data, n, count);
  std::uint64_t best = n;
  std::uint8_t offset = 0;
  for (int e = 1; e < 256; ++e) {
    if (e == kApostrophe) continue;
    const std::uint64_t escapes =
        count[e] + count[(e + 1) & 0xFF] + count[(e + kApostrophe) & 0xFF];
    if (escapes < best) {
      best = escapes;
      offset = static_cast<std::uint8_t>(e);
      if (best == 0) break;
    }
  }
  return offset;
}

std::uint8_t* EmitShifted(std::uint8_t c, std::uint8_t* p) {
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
  return p;
}

std::uint8_t Unescape(std::uint8_t code) { return code == 1 ? 0 : code == 2 ? 1 : kApostrophe; }

}  // namespace

std::size_t EncodedCapacity(std::int64_t n) {
  if (n < 0) n = 0;
  return static_cast<std::size_t>(n * 257 / 254 + 3);
}

std::size_t EncodeBinary(const std::uint8_t* data, std::int64_t length, std::uint8_t* out) {
  if (length <= 0) {
    out[0] = kEmpty;
    out[1] = 0;
    return 1;
  }
  const auto n = static_cast<std::size_t>(length);
  const std::uint8_t offset = ChooseOffset(data, n);
  std::uint8_t* p = out;
  *p++ = offset;
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    const Block shifted = LoadBlock(data + i) - offset;
    if (!AnySet((shifted == 0) | (shifted == 1) | (shifted == kApostrophe))) {
      StoreBlock(p, shifted);
      p += kBlock;
      continue;
    }
    for (std::size_t k = 0; k < kBlock; ++k) p = EmitShifted(shifted[k], p);
  }
  for (; i < n; ++i) p = EmitShifted(static_cast<std::uint8_t>(data[i] - offset), p);
  *p = 0;
  return static_cast<std::size_t>(p - out);
}

std::int64_t DecodedLength(const std::uint8_t* text, std::size_t size) {
  if (!text || size == 0 || text[0] == 0) return -1;
  std::int64_t length = 0;
  std::size_t i = 1;
  while (i < size) {
    if (i + kBlock <= size) {
      const Block block = LoadBlock(text + i);
      if (!AnySet((block == 0) | (block == kEscape))) {
        length += kBlock;
        i += kBlock;
        continue;
      }
    }
    for (const std::size_t stop = std::min(i + kBlock, size); i < stop; ++length) {
      if (text[i] == 0) return length;
      if (text[i++] != kEscape) continue;
      if (i >= size || text[i] < 1 || text[i] > 3) return -1;
      ++i;
    }
  }
  return length;
}

void DecodeBinary(const std::uint8_t* text, std::size_t size, std::uint8_t* out) {
  const std::uint8_t offset = text[0];
  std::size_t i = 1;
  while (i < size) {
    if (i + kBlock <= size) {
      const Block block = LoadBlock(text + i);
      if (!AnySet((block == 0) | (block == kEscape))) {
        StoreBlock(out, block + offset);
        out += kBlock;
        i += kBlock;
        continue;
      }
    }
    for (const std::size_t stop = std::min(i + kBlock, size); i < stop;) {
      std::uint8_t c = text[i++];
      if (c == 0) return;
      if (c == kEscape) c = Unescape(text[i++]);
      *out++ = static_cast<std::uint8_t>(c + offset);
    }
  }
}

}  // namespace Vantor::KQCP
