// The text form of binary data: the fixed examples byte for byte, round trips over data shaped
// to force escapes, and the texts the decoder must refuse.
#include "cache/binary_text.h"

#include <gtest/gtest.h>

#include "cache_fixture.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Bytes;

Bytes Encode(const Bytes& data) {
  Bytes text(EncodedCapacity(static_cast<std::int64_t>(data.size())), 0xEE);
  const std::size_t size =
      EncodeBinary(data.data(), static_cast<std::int64_t>(data.size()), text.data());
  EXPECT_EQ(text[size], 0) << "terminator";
  text.resize(size);
  return text;
}

// Decodes as the cache does: -1 length means refused.
std::int64_t Decode(const Bytes& text, Bytes* data) {
  const std::int64_t length = DecodedLength(text.data(), text.size());
  if (length < 0) return length;
  data->assign(static_cast<std::size_t>(length), 0);
  DecodeBinary(text.data(), text.size(), data->data());
  return length;
}

Bytes AllByteValues() {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  return all;
}

TEST(BinaryText, FixedExamplesEncodeByteForByte) {
  struct Case {
    const char* what;
    Bytes data;
    Bytes text;
  };
  const Case cases[] = {
      // Offset 1 has one escape, offset 2 the first with none.
      {"zero, one, apostrophe", {0x00, 0x01, 0x27}, {0x02, 0xFE, 0xFF, 0x25}},
      {"abc", {0x61, 0x62, 0x63}, {0x01, 0x60, 0x61, 0x62}},
      {"empty", {}, {'x'}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(c.data), c.text) << c.what;
    Bytes back;
    EXPECT_EQ(Decode(c.text, &back), static_cast<std::int64_t>(c.data.size())) << c.what;
    EXPECT_EQ(back, c.data) << c.what;
  }
}

TEST(BinaryText, AllByteValuesTakeThreeEscapes) {
  const Bytes text = Encode(AllByteValues());
  ASSERT_EQ(text.size(), 260u);
  EXPECT_EQ(Bytes(text.begin(), text.begin() + 8),
            (Bytes{0x01, 0xFF, 0x01, 0x01, 0x01, 0x02, 0x02, 0x03}));
  Bytes back;
  ASSERT_EQ(Decode(text, &back), 256);
  EXPECT_EQ(back, AllByteValues());
}

TEST(BinaryText, RoundTripsWithoutNulOrApostropheWithinTheBound) {
  std::vector<Bytes> inputs;
  for (std::size_t size : {1u, 2u, 253u, 254u, 255u, 4096u, 100000u}) {
    inputs.push_back(kqcp_test::PatternBytes(size, static_cast<std::uint32_t>(size)));
    // Every value equally often: the best offset still needs escapes.
    Bytes cycle(size);
    for (std::size_t i = 0; i < size; ++i) cycle[i] = static_cast<std::uint8_t>(i);
    inputs.push_back(cycle);
    for (std::uint8_t fill : {0x00, 0x01, 0x27, 0x28, 0xFF}) inputs.emplace_back(size, fill);
  }
  for (const Bytes& data : inputs) {
    const Bytes text = Encode(data);
    const std::size_t n = data.size();
    EXPECT_LE(text.size(), n * 257 / 254 + 1) << "size " << n;
    for (std::uint8_t b : text) {
      ASSERT_NE(b, 0x00);
      ASSERT_NE(b, 0x27);
    }
    Bytes back;
    ASSERT_EQ(Decode(text, &back), static_cast<std::int64_t>(n));
    EXPECT_EQ(back, data);
  }
}

TEST(BinaryText, NegativeLengthEncodesAsEmpty) {
  std::uint8_t text[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(EncodeBinary(nullptr, -5, text), 1u);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(text[1], 0);
}

TEST(BinaryText, MalformedTextsAreRefused) {
  struct Case {
    const char* what;
    Bytes text;
  };
  const Case cases[] = {
      {"empty text", {}},
      {"terminator first", {0x00, 0x41}},
      {"escape then 4", {0x05, 0x41, 0x01, 0x04}},
      {"escape then 0x27", {0x05, 0x01, 0x27}},
      {"escape at the end", {0x05, 0x41, 0x01}},
      {"escape before the terminator", {0x05, 0x01, 0x00, 0x02}},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodedLength(c.text.data(), c.text.size()), -1) << c.what;
  EXPECT_EQ(DecodedLength(nullptr, 4), -1);
}

// The decoding rules one byte at a time, to hold the block-wise decoder against.
std::int64_t ReferenceDecode(const Bytes& text, std::size_t size, Bytes* data) {
  data->clear();
  if (size == 0 || text[0] == 0) return -1;
  for (std::size_t i = 1; i < size && text[i] != 0; ++i) {
    std::uint8_t c = text[i];
    if (c == 0x01) {
      if (++i >= size) return -1;
      if (text[i] == 1)
        c = 0;
      else if (text[i] == 2)
        c = 1;
      else if (text[i] == 3)
        c = 0x27;
      else
        return -1;
    }
    data->push_back(static_cast<std::uint8_t>(c + text[0]));
  }
  return static_cast<std::int64_t>(data->size());
}

TEST(BinaryText, BlockwiseDecodingMatchesTheByteRules) {
  // Escapes, terminators and bad escape codes at every position of a few blocks.
  const Bytes valid = Encode(AllByteValues());
  for (std::size_t at = 1; at < 70; ++at) {
    std::vector<Bytes> texts = {valid, valid, valid, valid};
    texts[0][at] = 0x00;
    texts[1][at] = 0x01;
    texts[2][at] = 0x01;
    if (at + 1 < valid.size()) texts[2][at + 1] = 0x04;
    texts[3].resize(at);  // cut anywhere, even inside an escape
    for (const Bytes& text : texts) {
      Bytes expected, actual;
      const std::int64_t length = ReferenceDecode(text, text.size(), &expected);
      ASSERT_EQ(Decode(text, &actual), length) << "at " << at;
      if (length >= 0) {
        ASSERT_EQ(actual, expected) << "at " << at;
      }
    }
  }
}

TEST(BinaryText, DecodingStopsAtTheTerminator) {
  const Bytes text = {0x05, 0x41, 0x00, 0x42, 0x01, 0x09};
  Bytes back;
  ASSERT_EQ(Decode(text, &back), 1);
  EXPECT_EQ(back, Bytes{0x46});
}

}  // namespace
}  // namespace Vantor::KQCP
