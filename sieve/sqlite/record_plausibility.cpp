#include "sieve/sqlite/record_plausibility.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "sieve/reader/text.h"

namespace sieve::sqlite {

namespace {

constexpr bool Printable(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

std::uint16_t Unit(std::string_view text, std::size_t index, TextEncoding encoding) {
  const auto a = static_cast<std::uint8_t>(text[2 * index]);
  const auto b = static_cast<std::uint8_t>(text[2 * index + 1]);
  return encoding == TextEncoding::kUtf16be ? static_cast<std::uint16_t>(a << 8 | b)
                                            : static_cast<std::uint16_t>(b << 8 | a);
}

bool Utf16WellFormed(std::string_view text, bool cut, TextEncoding encoding) {
  if (text.size() % 2 != 0 && !cut) return false;
  const std::size_t units = text.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t unit = Unit(text, i, encoding);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a low surrogate with no high one before it
    if (unit < 0xD800 || unit > 0xDBFF) continue;
    if (i + 1 == units) return cut;  // a high surrogate whose partner was cut off, or is missing
    const std::uint16_t next = Unit(text, ++i, encoding);
    if (next < 0xDC00 || next > 0xDFFF) return false;
  }
  return true;
}

// The stored big-endian bytes of a number of serial type 5 (6 bytes), 6 or 7 (8 bytes).
std::span<const std::uint8_t> StoredBytes(std::uint64_t serialType, const Value& value, std::uint8_t (&out)[8]) {
  std::uint64_t bits = 0;
  if (value.kind == ValueKind::kReal) {
    std::memcpy(&bits, &value.real, sizeof bits);
  } else {
    bits = static_cast<std::uint64_t>(value.integer);
  }
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  const std::size_t size = serialType == 5 ? 6 : 8;
  return std::span<const std::uint8_t>(out + 8 - size, size);
}

}  // namespace

// A value cut short may end inside a UTF-8 sequence: leave that last sequence out.
std::string_view WholeUtf8Sequences(std::string_view text) {
  std::size_t lead = text.size();
  while (lead > 0 && text.size() - lead < 3 && (static_cast<std::uint8_t>(text[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0 && static_cast<std::uint8_t>(text[lead - 1]) >= 0xC0) return text.substr(0, lead - 1);
  return text;
}

bool TextWellFormed(const Value& value, TextEncoding encoding) {
  if (value.kind != ValueKind::kText) return true;
  if (encoding == TextEncoding::kUtf8) return IsValidUtf8(value.truncated ? WholeUtf8Sequences(value.bytes) : value.bytes);
  return Utf16WellFormed(value.bytes, value.truncated, encoding);
}

bool Utf16ShiftedByOne(const Value& value, TextEncoding encoding) {
  if (value.kind != ValueKind::kText || encoding == TextEncoding::kUtf8) return false;
  const std::size_t units = value.bytes.size() / 2;
  if (units < 2) return false;
  std::size_t shifted = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t unit = Unit(value.bytes, i, encoding);
    shifted += (unit & 0xFF) == 0 && Printable(static_cast<std::uint8_t>(unit >> 8));
  }
  return 2 * shifted > units;
}

bool NumberHoldsText(std::uint64_t serialType, const Value& value, TextEncoding encoding) {
  if (serialType < 5 || serialType > 7) return false;
  if (value.kind != ValueKind::kInteger && value.kind != ValueKind::kReal) return false;
  std::uint8_t buffer[8];
  const auto bytes = StoredBytes(serialType, value, buffer);
  if (encoding == TextEncoding::kUtf8) {
    for (const std::uint8_t byte : bytes) {
      if (!Printable(byte)) return false;
    }
    return true;
  }
  // UTF-16 characters of ASCII: a zero byte and a printable one, in either phase.
  for (std::size_t zeroPhase = 0; zeroPhase < 2; ++zeroPhase) {
    bool all = true;
    for (std::size_t i = 0; i < bytes.size() && all; ++i) {
      all = i % 2 == zeroPhase ? bytes[i] == 0 : Printable(bytes[i]);
    }
    if (all) return true;
  }
  return false;
}

bool IntegerOversized(std::uint64_t serialType, const Value& value) {
  if (serialType < 2 || serialType > 6 || value.kind != ValueKind::kInteger) return false;
  // The largest magnitude each smaller size holds, as SQLite measures it (~v for negatives).
  static constexpr std::uint64_t kSmallerHolds[] = {0, 0, 0x7F, 0x7FFF, 0x7FFFFF, 0x7FFFFFFF, 0x7FFFFFFFFFFF};
  const std::uint64_t magnitude = value.integer < 0 ? ~static_cast<std::uint64_t>(value.integer)
                                                    : static_cast<std::uint64_t>(value.integer);
  return magnitude <= kSmallerHolds[serialType];
}

bool DamagedValuesPlausible(const CarvedRecord& record, TextEncoding encoding) {
  const std::size_t count = std::min(record.serialTypes.size(), record.values.size());
  for (std::size_t column = static_cast<std::size_t>(record.lostLeadingColumns); column < count; ++column) {
    const Value& value = record.values[column];
    if (!TextWellFormed(value, encoding) || Utf16ShiftedByOne(value, encoding) ||
        NumberHoldsText(record.serialTypes[column], value, encoding) ||
        IntegerOversized(record.serialTypes[column], value)) {
      return false;
    }
  }
  return true;
}

bool SaysEnoughUnchecked(const CarvedRecord& record, const RecordShape& shape) {
  std::size_t dataColumns = 0;
  std::size_t known = 0;
  for (std::size_t column = 0; column < shape.columns.size(); ++column) {
    if (static_cast<int>(column) == shape.rowidAliasColumn) continue;
    ++dataColumns;
    known += column >= static_cast<std::size_t>(record.lostLeadingColumns) && column < record.values.size() &&
             record.values[column].kind != ValueKind::kNull;
  }
  return known >= std::min<std::size_t>(2, dataColumns);
}

bool LostTypeGuessed(const CarvedRecord& record, const RecordShape& shape) {
  if (record.lostLeadingColumns == 0 || shape.rowidAliasColumn == 0 || !shape.firstColumnTypes.empty() ||
      shape.columns.empty()) {
    return false;
  }
  return (shape.columns[0] & (kText | kBlob)) != 0;
}

}  // namespace sieve::sqlite
