#include "sieve/sqlite/record_decoder.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "sieve/reader/text.h"

namespace sieve::sqlite {

Varint ReadLongVarint(const std::uint8_t* p, const std::uint8_t* end) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    if (p + i >= end) return {};
    const std::uint8_t byte = p[i];
    if (i == 8) return {(value << 8) | byte, 9};
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return {value, i + 1};
  }
  return {};
}

double BigEndianDouble(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

bool DecodeRecord(const std::uint8_t* p, const std::uint8_t* end, std::vector<Value>& values,
                  bool allowCut) {
  values.clear();
  return ForEachField(p, end, [&](std::uint64_t serialType, const std::uint8_t*& body) {
    Value value;
    if (!DecodeValue(serialType, body, end, allowCut, value)) return false;
    values.push_back(value);
    return true;
  });
}

namespace {

std::string Utf16Text(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
  }
  std::string text = Utf16ToUtf8(units);
  if (bytes.size() % 2 != 0) text += "\xEF\xBF\xBD";  // a lone trailing byte is a broken unit
  return text;
}

std::string RealText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string ValueText(const Value& value, TextEncoding encoding) {
  switch (value.kind) {
    case ValueKind::kNull:
      return {};
    case ValueKind::kInteger:
      return std::to_string(value.integer);
    case ValueKind::kReal:
      return RealText(value.real);
    case ValueKind::kText:
      if (encoding == TextEncoding::kUtf16le) return Utf16Text(value.bytes, false);
      if (encoding == TextEncoding::kUtf16be) return Utf16Text(value.bytes, true);
      return SanitizeUtf8(value.bytes);
    case ValueKind::kBlob:
      return SanitizeUtf8(value.bytes);
  }
  return {};
}

}  // namespace sieve::sqlite
