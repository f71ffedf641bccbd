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

template <typename Found>
bool ProtoReader::Walk(std::uint32_t fieldNumber, Found found) const {
  std::size_t pos = 0;
  while (pos < data_.size()) {
    std::uint64_t key = 0;
    if (!ReadVarint(data_, pos, key)) return false;
    const auto wire = static_cast<std::uint8_t>(key & 7);
    const std::uint64_t number = key >> 3;
    if (number == 0) return false;
    std::uint64_t skip = 0;
    switch (wire) {
      case kVarint: {
        std::uint64_t ignored = 0;
        if (!ReadVarint(data_, pos, ignored)) return false;
        continue;
      }
      case kFixed64:
        skip = 8;
        break;
      case kFixed32:
        skip = 4;
        break;
      case kLengthDelimited:
        if (!ReadVarint(data_, pos, skip)) return false;
        if (skip > data_.size() - pos) return false;
        if (number == fieldNumber && !found(data_.subspan(pos, static_cast<std::size_t>(skip)))) return true;
        break;
      default:  // groups (3, 4) are not used by this format; 6 and 7 do not exist
        return false;
    }
    if (skip > data_.size() - pos) return false;
    pos += static_cast<std::size_t>(skip);
  }
  return true;
}

std::optional<std::span<const std::uint8_t>> ProtoReader::FindBytes(std::uint32_t fieldNumber) const {
  std::optional<std::span<const std::uint8_t>> first;
  Walk(fieldNumber, [&](std::span<const std::uint8_t> bytes) {
    first = bytes;
    return false;
  });
  return first;
}

std::vector<std::span<const std::uint8_t>> ProtoReader::AllBytes(std::uint32_t fieldNumber) const {
  std::vector<std::span<const std::uint8_t>> all;
  Walk(fieldNumber, [&](std::span<const std::uint8_t> bytes) {
    all.push_back(bytes);
    return true;
  });
  return all;
}

namespace {

std::string AsText(std::span<const std::uint8_t> bytes) {
  return SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

constexpr std::string_view kAttachmentMark = "\xEF\xBF\xBC";  // U+FFFC

}  // namespace

std::optional<NoteBody> DecodeNoteBody(std::span<const std::uint8_t> zdata) {
  const auto inflated = InflateStream(zdata, kMaxInflatedNoteBody);
  if (!inflated) return std::nullopt;
  return DecodeNoteMessage(*inflated);
}

std::optional<NoteBody> DecodeNoteMessage(std::span<const std::uint8_t> message) {
  // Store message -> document (2) -> note (3).
  std::span<const std::uint8_t> note(message);
  for (std::uint32_t field : {2u, 3u}) {
    const auto inner = ProtoReader(note).FindBytes(field);
    if (!inner) return std::nullopt;
    note = *inner;
  }
  const auto text = ProtoReader(note).FindBytes(2);
  if (!text) return std::nullopt;
  NoteBody body;
  body.text = AsText(*text);
  // Attribute runs (5) -> attachment info (12) -> identifier (1) and type (2).
  for (std::span<const std::uint8_t> run : ProtoReader(note).AllBytes(5)) {
    const auto info = ProtoReader(run).FindBytes(12);
    if (!info) continue;
    const auto identifier = ProtoReader(*info).FindBytes(1);
    const auto type = ProtoReader(*info).FindBytes(2);
    body.attachments.push_back({identifier ? AsText(*identifier) : std::string(), type ? AsText(*type) : std::string()});
  }
  return body;
}

std::string NameAttachmentMarks(const std::string& text, const std::vector<std::string>& names) {
  std::string out;
  std::size_t from = 0;
  for (const std::string& name : names) {
    const std::size_t mark = text.find(kAttachmentMark, from);
    if (mark == std::string::npos) break;
    out.append(text, from, mark - from).append("[").append(name).append("]");
    from = mark + kAttachmentMark.size();
  }
  return out.append(text, from);
}

std::string NoteBodyText(std::span<const std::uint8_t> zdata) {
  std::optional<NoteBody> body = DecodeNoteBody(zdata);
  return body ? std::move(body->text) : std::string();
}

}  // namespace sieve
