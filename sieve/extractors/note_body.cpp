#include "sieve/extractors/note_body.h"

#include <zlib.h>

#include <array>

#include "sieve/reader/text.h"

namespace sieve {
namespace {

enum WireType : std::uint8_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

// A base-128 varint of at most ten bytes; false when it runs past end or is longer.
bool ReadVarint(std::span<const std::uint8_t> data, std::size_t& pos, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 70; shift += 7) {
    if (pos >= data.size()) return false;
    const std::uint8_t byte = data[pos++];
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> InflateStream(std::span<const std::uint8_t> data,
                                                       std::size_t maxBytes) {
  if (data.empty() || data.size() > UINT32_MAX) return std::nullopt;
  z_stream stream{};
  // 32 + MAX_WBITS: accept the gzip and the zlib header alike.
  if (inflateInit2(&stream, 32 + MAX_WBITS) != Z_OK) return std::nullopt;
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  std::vector<std::uint8_t> out;
  std::array<std::uint8_t, 16384> chunk{};
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    const std::size_t produced = chunk.size() - stream.avail_out;
    if (out.size() + produced > maxBytes) {
      status = Z_MEM_ERROR;
      break;
    }
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(produced));
    // No progress with input left means the stream is cut short.
    if (status == Z_OK && produced == 0 && stream.avail_in == 0) {
      status = Z_BUF_ERROR;
      break;
    }
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return out;
}

std::optional<std::span<const std::uint8_t>> ProtoReader::FindBytes(std::uint32_t fieldNumber) const {
  std::size_t pos = 0;
  while (pos < data_.size()) {
    std::uint64_t key = 0;
    if (!ReadVarint(data_, pos, key)) return std::nullopt;
    const auto wire = static_cast<std::uint8_t>(key & 7);
    const std::uint64_t number = key >> 3;
    if (number == 0) return std::nullopt;
    std::uint64_t skip = 0;
    switch (wire) {
      case kVarint: {
        std::uint64_t ignored = 0;
        if (!ReadVarint(data_, pos, ignored)) return std::nullopt;
        continue;
      }
      case kFixed64:
        skip = 8;
        break;
      case kFixed32:
        skip = 4;
        break;
      case kLengthDelimited:
        if (!ReadVarint(data_, pos, skip)) return std::nullopt;
        if (skip > data_.size() - pos) return std::nullopt;
        if (number == fieldNumber) return data_.subspan(pos, static_cast<std::size_t>(skip));
        break;
      default:  // groups (3, 4) are not used by this format; 6 and 7 do not exist
        return std::nullopt;
    }
    if (skip > data_.size() - pos) return std::nullopt;
    pos += static_cast<std::size_t>(skip);
  }
  return std::nullopt;
}

std::string NoteBodyText(std::span<const std::uint8_t> zdata) {
  const auto inflated = InflateStream(zdata, kMaxInflatedNoteBody);
  if (!inflated) return {};
  // Store message -> document (2) -> note (3) -> note text (2).
  static constexpr std::uint32_t kPath[] = {2, 3, 2};
  std::span<const std::uint8_t> level(*inflated);
  for (std::uint32_t field : kPath) {
    const auto inner = ProtoReader(level).FindBytes(field);
    if (!inner) return {};
    level = *inner;
  }
  return SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(level.data()), level.size()));
}

}  // namespace sieve
