// The text form of cache data: bytes shifted by a chosen offset so that the text holds neither
// NUL bytes nor apostrophes, with three two-byte escapes, and "x" for empty data. Other
// processes read and write the same form, so it must not change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vantor::KQCP {

// Buffer size the encoder needs for n data bytes, terminator included.
std::size_t EncodedCapacity(std::int64_t n);

// Writes the text form of data[0..n) and a NUL terminator to out (EncodedCapacity(n) bytes);
// returns the text length without the terminator. n <= 0 gives "x".
std::size_t EncodeBinary(const std::uint8_t* data, std::int64_t n, std::uint8_t* out);

// Number of data bytes the text decodes to, reading up to the first NUL or `size` bytes,
// whichever comes first; -1 when the text is not a valid encoding (empty, or an escape byte
// followed by anything but 1, 2 or 3).
std::int64_t DecodedLength(const std::uint8_t* text, std::size_t size);

// Decodes text already accepted by DecodedLength into out, which holds that many bytes.
void DecodeBinary(const std::uint8_t* text, std::size_t size, std::uint8_t* out);

}  // namespace Vantor::KQCP
