// Decoding of SQLite's on-disk record format: varints, serial types and whole records.
// Every function takes an explicit end pointer and never reads at or past it, because the
// bytes come from files we do not trust.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::sqlite {

struct Varint {
  std::uint64_t value = 0;
  std::size_t length = 0;  // 0 when the bytes ran out before the varint ended
};

Varint ReadLongVarint(const std::uint8_t* p, const std::uint8_t* end);

// Up to nine bytes, big-endian groups of seven bits; the ninth byte gives all eight bits.
// Inline because the carver calls it at every byte of free space.
inline Varint ReadVarint(const std::uint8_t* p, const std::uint8_t* end) {
  if (p < end && p[0] < 0x80) return {p[0], 1};
  // Two bytes: payload lengths of most records, rowids below 16384; three: rowids below 2^21.
  if (end - p >= 2 && p[1] < 0x80) return {(std::uint64_t{p[0] & 0x7Fu} << 7) | p[1], 2};
  if (end - p >= 3 && p[2] < 0x80) {
    return {(std::uint64_t{p[0] & 0x7Fu} << 14) | (std::uint64_t{p[1] & 0x7Fu} << 7) | p[2], 3};
  }
  return ReadLongVarint(p, end);
}

// Bytes a value of this serial type occupies, or -1 for the reserved types 10 and 11.
// Inline, as the two below: carving asks them for every serial type it tries.
inline std::int64_t SerialTypeSize(std::uint64_t serialType) {
  static constexpr std::int64_t kFixed[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1};
  if (serialType < 12) return kFixed[serialType];
  // Types near 2^64 would give sizes that do not fit; no real value is that long.
  if (serialType > (std::uint64_t{1} << 62)) return -1;
  return static_cast<std::int64_t>((serialType - 12) / 2);
}

enum class ValueKind : std::uint8_t { kNull, kInteger, kReal, kText, kBlob };

// nullopt for the reserved types 10 and 11.
inline std::optional<ValueKind> SerialTypeKind(std::uint64_t serialType) {
  if (serialType == 0) return ValueKind::kNull;
  if (serialType == 7) return ValueKind::kReal;
  if (serialType <= 9) return ValueKind::kInteger;
  if (serialType < 12) return std::nullopt;
  return (serialType & 1) ? ValueKind::kText : ValueKind::kBlob;
}

// The big-endian two's-complement integer of a serial type 1..6 (1, 2, 3, 4, 6 or 8 bytes
// at p, which the caller checked are there). Inline: every integer of every record read
// comes through here.
inline std::int64_t SignedBigEndian(const std::uint8_t* p, std::uint64_t serialType) {
  switch (serialType) {
    case 1: return static_cast<std::int8_t>(p[0]);
    case 2: return static_cast<std::int16_t>((p[0] << 8) | p[1]);
    case 3: {
      const std::uint32_t high = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8;
      return static_cast<std::int32_t>(high) >> 8;
    }
    case 4: {
      const std::uint32_t all = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
      return static_cast<std::int32_t>(all);
    }
    case 5: {
      std::uint64_t value = 0;
      for (int i = 0; i < 6; ++i) value = value << 8 | p[i];
      return static_cast<std::int64_t>(value << 16) >> 16;
    }
    default: {
      std::uint64_t value = 0;
      for (int i = 0; i < 8; ++i) value = value << 8 | p[i];
      return static_cast<std::int64_t>(value);
    }
  }
}

// Eight bytes, big-endian IEEE 754.
double BigEndianDouble(const std::uint8_t* p);
inline std::uint16_t BigEndian16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct Value {
  ValueKind kind = ValueKind::kNull;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string_view bytes;  // text or blob bytes, pointing into the decoded buffer
  bool truncated = false;  // the stored value was longer than the bytes available
};

// Decodes one value of the given serial type at p. With allowCut, a text or blob that runs
// past end is cut at end (truncated set) and a number that does is Null (truncated set);
// without it such a value is a failure. Advances p by the stored size on success. Inline:
// the carver decodes every value of every reading it tries.
inline bool DecodeValue(std::uint64_t serialType, const std::uint8_t*& p, const std::uint8_t* end,
                        bool allowCut, Value& out) {
  const auto kind = SerialTypeKind(serialType);
  const std::int64_t size = SerialTypeSize(serialType);
  if (!kind || size < 0 || end < p) return false;
  out = Value{};
  out.kind = *kind;
  const auto available = static_cast<std::uint64_t>(end - p);
  const bool fits = static_cast<std::uint64_t>(size) <= available;
  if (!fits && !allowCut) return false;
  switch (*kind) {
    case ValueKind::kNull:
      return true;
    case ValueKind::kInteger:
    case ValueKind::kReal:
      if (!fits) {
        out = Value{};
        out.truncated = true;
        p = end;
        return true;
      }
      if (*kind == ValueKind::kReal) {
        out.real = BigEndianDouble(p);
        p += 8;
      } else {
        // Types 8 and 9 are the constants 0 and 1, stored in no bytes.
        out.integer = serialType >= 8 ? static_cast<std::int64_t>(serialType - 8) : SignedBigEndian(p, serialType);
        p += size;
      }
      return true;
    case ValueKind::kText:
    case ValueKind::kBlob: {
      const auto taken = fits ? static_cast<std::size_t>(size) : static_cast<std::size_t>(available);
      out.bytes = std::string_view(reinterpret_cast<const char*>(p), taken);
      out.truncated = !fits;
      p += taken;
      return true;
    }
  }
  return false;
}

// Walks the header of the record in [p, end): calls `field(serialType, body)` for each serial
// type in order, `body` pointing at that field's bytes, which the call steps past (or gives
// false to end the walk as failed). False when the header is malformed.
template <typename Field>
bool ForEachField(const std::uint8_t* p, const std::uint8_t* end, Field&& field) {
  if (p == nullptr || end <= p) return false;
  const Varint headerLength = ReadVarint(p, end);
  if (headerLength.length == 0 || headerLength.value < headerLength.length ||
      headerLength.value > static_cast<std::uint64_t>(end - p)) {
    return false;
  }
  const std::uint8_t* type = p + headerLength.length;
  const std::uint8_t* headerEnd = p + headerLength.value;
  const std::uint8_t* body = headerEnd;
  while (type < headerEnd) {
    const Varint serialType = ReadVarint(type, headerEnd);
    if (serialType.length == 0) return false;
    type += serialType.length;
    if (!field(serialType.value, body)) return false;
  }
  return true;
}

// A whole record (header length, serial types, values) in [p, end). Fails when the header
// is malformed or a value runs past end. With allowCut, values past end are cut instead
// (the payload continued on overflow pages that were not followed).
bool DecodeRecord(const std::uint8_t* p, const std::uint8_t* end, std::vector<Value>& values,
                  bool allowCut = false);

enum class TextEncoding : std::uint8_t { kUtf8 = 1, kUtf16le = 2, kUtf16be = 3 };

// Text of a value as valid UTF-8: text is converted from the database encoding (broken
// sequences become U+FFFD), numbers are written in decimal, blobs are read as UTF-8, Null is "".
std::string ValueText(const Value& value, TextEncoding encoding);

}  // namespace sieve::sqlite
