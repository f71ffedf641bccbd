// Varints, serial types and records as the file format defines them, and their limits.
#include <gtest/gtest.h>

#include <vector>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {
namespace {

using Bytes = std::vector<std::uint8_t>;

Varint VarintOf(const Bytes& b) { return ReadVarint(b.data(), b.data() + b.size()); }

TEST(RecordDecoder, Varints) {
  EXPECT_EQ(VarintOf({0x81, 0x80, 0x00}).value, 16384u);
  EXPECT_EQ(VarintOf({0x81, 0x80, 0x00}).length, 3u);
  EXPECT_EQ(VarintOf({0xFF, 0xFF, 0x7F}).value, 2097151u);  // the largest three-byte one
  EXPECT_EQ(VarintOf({0x7F, 0xFF}).value, 127u);
  EXPECT_EQ(VarintOf({0x7F, 0xFF}).length, 1u);
  // The ninth byte gives all eight of its bits.
  const Varint nine = VarintOf(Bytes(9, 0xFF));
  EXPECT_EQ(nine.length, 9u);
  EXPECT_EQ(nine.value, ~std::uint64_t{0});
  const Varint ninthPlain = VarintOf({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
  EXPECT_EQ(ninthPlain.value, 1u);
  // Running out of bytes is a failure, not a read past the end.
  EXPECT_EQ(VarintOf({0x81, 0x80}).length, 0u);
  EXPECT_EQ(VarintOf({}).length, 0u);
}

TEST(RecordDecoder, SerialTypesAndIntegers) {
  const std::int64_t sizes[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1, 0, 0, 1, 1};
  for (std::uint64_t type = 0; type < 16; ++type) EXPECT_EQ(SerialTypeSize(type), sizes[type]) << type;
  EXPECT_EQ(SerialTypeSize(85), 36);  // a 36-byte text
  EXPECT_EQ(SerialTypeKind(7), ValueKind::kReal);
  EXPECT_EQ(SerialTypeKind(9), ValueKind::kInteger);
  EXPECT_EQ(SerialTypeKind(12), ValueKind::kBlob);
  EXPECT_EQ(SerialTypeKind(13), ValueKind::kText);
  EXPECT_FALSE(SerialTypeKind(10).has_value());

  // An integer field as DecodeValue reads it; none when it does not decode as one.
  const auto integer = [](std::uint64_t type, const Bytes& b,
                           std::size_t* used = nullptr) -> std::optional<std::int64_t> {
    const std::uint8_t* p = b.data();
    Value value;
    if (!DecodeValue(type, p, b.data() + b.size(), false, value) || value.kind != ValueKind::kInteger) {
      return std::nullopt;
    }
    if (used) *used = static_cast<std::size_t>(p - b.data());
    return value.integer;
  };
  std::size_t used = 0;
  EXPECT_EQ(integer(3, {0x01, 0x00, 0x00}, &used), 65536);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(integer(1, {0xFF}), -1);
  EXPECT_EQ(integer(2, {0x80, 0x00}), -32768);
  EXPECT_EQ(integer(5, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), -2);
  EXPECT_EQ(integer(6, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), INT64_MAX);
  // The sign comes from the first byte at every width.
  EXPECT_EQ(integer(3, {0xFF, 0xFF, 0xFE}), -2);
  EXPECT_EQ(integer(3, {0x7F, 0xFF, 0xFF}), 8388607);
  EXPECT_EQ(integer(4, {0x80, 0x00, 0x00, 0x00}), INT32_MIN);
  EXPECT_EQ(integer(5, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0x7FFFFFFFFFFF);
  EXPECT_EQ(integer(6, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), INT64_MIN);
  EXPECT_EQ(integer(8, {}, &used), 0);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(integer(9, {}), 1);
  EXPECT_FALSE(integer(4, {0x01, 0x02, 0x03}).has_value());  // one byte short
  EXPECT_FALSE(integer(7, Bytes(8, 0)).has_value());         // a real, not an integer
  EXPECT_DOUBLE_EQ(BigEndianDouble(Bytes{0x3F, 0xF8, 0, 0, 0, 0, 0, 0}.data()), 1.5);
}

TEST(RecordDecoder, RecordsAndTheirBounds) {
  // Header: length 5, NULL, text of 3, int8, real. Body: "a?b", -5, 2.5.
  const Bytes record = {0x05, 0x00, 0x13, 0x01, 0x07, 'a', '?', 'b', 0xFB,
                        0x40, 0x04, 0, 0, 0, 0, 0, 0};
  std::vector<Value> values;
  ASSERT_TRUE(DecodeRecord(record.data(), record.data() + record.size(), values));
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].kind, ValueKind::kNull);
  EXPECT_EQ(values[1].bytes, "a?b");
  EXPECT_EQ(values[2].integer, -5);
  EXPECT_DOUBLE_EQ(values[3].real, 2.5);

  // One byte short: a failure, or with cutting allowed a Null marked truncated.
  EXPECT_FALSE(DecodeRecord(record.data(), record.data() + record.size() - 1, values));
  ASSERT_TRUE(DecodeRecord(record.data(), record.data() + record.size() - 1, values, true));
  EXPECT_TRUE(values[3].truncated);
  EXPECT_EQ(values[3].kind, ValueKind::kNull);
  // Cut inside the text: the text is shortened.
  ASSERT_TRUE(DecodeRecord(record.data(), record.data() + 6, values, true));
  EXPECT_EQ(values[1].bytes, "a");
  EXPECT_TRUE(values[1].truncated);

  const Bytes headerPastEnd = {0x09, 0x00, 0x13};
  EXPECT_FALSE(DecodeRecord(headerPastEnd.data(), headerPastEnd.data() + headerPastEnd.size(), values));
  const Bytes reservedType = {0x02, 0x0A, 0x00};
  EXPECT_FALSE(DecodeRecord(reservedType.data(), reservedType.data() + reservedType.size(), values));
  const Bytes zeroHeader = {0x00, 0x01};
  EXPECT_FALSE(DecodeRecord(zeroHeader.data(), zeroHeader.data() + zeroHeader.size(), values));
  // A text claiming 2^40 bytes.
  const Bytes hugeText = {0x07, 0x82, 0x80, 0x80, 0x80, 0x80, 0x0D, 'x'};
  EXPECT_FALSE(DecodeRecord(hugeText.data(), hugeText.data() + hugeText.size(), values));
}

TEST(RecordDecoder, ValueTextIsValidUtf8) {
  Value text;
  text.kind = ValueKind::kText;
  text.bytes = "why?\xFF";
  EXPECT_EQ(ValueText(text, TextEncoding::kUtf8), "why?\xEF\xBF\xBD");
  text.bytes = std::string_view("h\0i\0\x00\xD8", 6);  // "hi" and an unpaired high surrogate
  EXPECT_EQ(ValueText(text, TextEncoding::kUtf16le), "hi\xEF\xBF\xBD");
  text.bytes = std::string_view("\0h\0?", 4);
  EXPECT_EQ(ValueText(text, TextEncoding::kUtf16be), "h?");
  Value number;
  number.kind = ValueKind::kInteger;
  number.integer = -42;
  EXPECT_EQ(ValueText(number, TextEncoding::kUtf8), "-42");
  number.kind = ValueKind::kReal;
  number.real = 0.1;
  EXPECT_EQ(ValueText(number, TextEncoding::kUtf8), "0.1");
  EXPECT_EQ(ValueText(Value{}, TextEncoding::kUtf8), "");
}

}  // namespace
}  // namespace sieve::sqlite
