#include "tether/bplist_view.h"

#include <cstring>

namespace tether {
namespace {

constexpr std::size_t kTrailerSize = 32;
constexpr char kMagic[] = "bplist00";
constexpr std::size_t kMagicSize = 8;

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::uint64_t BplistView::ReadBig(std::uint64_t at, std::size_t width) const {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | data_[at + i];
  return v;
}

bool BplistView::Open(const std::uint8_t* data, std::size_t size) {
  data_ = data;
  size_ = size;
  objects_ = 0;
  if (data == nullptr || size < kMagicSize + kTrailerSize || std::memcmp(data, kMagic, kMagicSize) != 0) return false;
  const std::uint64_t trailer = size - kTrailerSize;
  offsetSize_ = data[trailer + 6];
  refSize_ = data[trailer + 7];
  const std::uint64_t objects = ReadBig(trailer + 8, 8);
  top_ = ReadBig(trailer + 16, 8);
  table_ = ReadBig(trailer + 24, 8);
  if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
  if (table_ < kMagicSize || table_ > trailer || objects == 0 || objects > (trailer - table_) / offsetSize_ ||
      top_ >= objects) {
    return false;
  }
  objects_ = objects;
  return true;
}

std::optional<BplistView::Body> BplistView::BodyOf(Ref object) const {
  if (object >= objects_) return std::nullopt;
  const std::uint64_t at = ReadBig(table_ + object * offsetSize_, offsetSize_);
  // Objects lie between the magic and the offset table.
  if (at < kMagicSize || at >= table_) return std::nullopt;
  const std::uint8_t marker = data_[at];
  Body body;
  body.high = marker >> 4;
  body.low = marker & 0x0F;
  body.count = body.low;
  body.start = at + 1;
  const std::uint64_t room = table_ - body.start;
  std::uint64_t unit = 1;  // bytes per counted element
  switch (marker >> 4) {
    case 0x0:
      if (body.low == 0) body.type = Type::Null;
      else if (body.low == 8 || body.low == 9) body.type = Type::Bool;
      else return std::nullopt;
      return body;
    case 0x1:
    case 0x2:
      if (body.low > 4) return std::nullopt;
      body.type = (marker >> 4) == 0x1 ? Type::Integer : Type::Real;
      body.count = std::uint64_t{1} << body.low;
      return body.count <= room ? std::optional<Body>(body) : std::nullopt;
    case 0x3:
      body.type = Type::Date;
      body.count = 8;
      return body.count <= room ? std::optional<Body>(body) : std::nullopt;
    case 0x8:
      body.type = Type::Uid;
      body.count = std::uint64_t{body.low} + 1;
      return body.count <= room ? std::optional<Body>(body) : std::nullopt;
    case 0x4: body.type = Type::Data; break;
    case 0x5: body.type = Type::String; break;
    case 0x6: body.type = Type::String; unit = 2; break;
    case 0xA: body.type = Type::Array; unit = refSize_; break;
    case 0xC: body.type = Type::Set; unit = refSize_; break;
    case 0xD: body.type = Type::Dict; unit = 2 * refSize_; break;
    default: return std::nullopt;
  }
  if (body.low == 0x0F) {
    if (body.start >= table_ || (data_[body.start] >> 4) != 0x1) return std::nullopt;
    const std::size_t width = std::size_t{1} << (data_[body.start] & 0x03);
    if (width > table_ - body.start - 1) return std::nullopt;
    body.count = ReadBig(body.start + 1, width);
    body.start += 1 + width;
  }
  if (body.count > (table_ - body.start) / unit) return std::nullopt;
  return body;
}

BplistView::Type BplistView::TypeOf(Ref object) const {
  const auto body = BodyOf(object);
  return body ? body->type : Type::Invalid;
}

std::optional<std::uint64_t> BplistView::Integer(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || body->type != Type::Integer) return std::nullopt;
  // 16-byte integers hold values above 2^63 in their low half.
  const std::size_t width = body->count == 16 ? 8 : static_cast<std::size_t>(body->count);
  return ReadBig(body->start + body->count - width, width);
}

std::optional<std::uint64_t> BplistView::Uid(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || body->type != Type::Uid || body->count > 8) return std::nullopt;
  return ReadBig(body->start, static_cast<std::size_t>(body->count));
}

std::optional<std::string> BplistView::String(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || body->type != Type::String) return std::nullopt;
  const std::uint8_t* p = data_ + body->start;
  std::string out;
  if (body->high == 0x5) {
    out.reserve(body->count);
    // ASCII by definition; a stray high byte is taken as Latin-1 so the result stays UTF-8.
    for (std::uint64_t i = 0; i < body->count; ++i) AppendUtf8(out, p[i]);
    return out;
  }
  out.reserve(body->count * 2);
  for (std::uint64_t i = 0; i < body->count; ++i) {
    std::uint32_t unit = (std::uint32_t{p[2 * i]} << 8) | p[2 * i + 1];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < body->count) {
      const std::uint32_t next = (std::uint32_t{p[2 * i + 2]} << 8) | p[2 * i + 3];
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    AppendUtf8(out, unit);
  }
  return out;
}

std::optional<std::string_view> BplistView::Data(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || body->type != Type::Data) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(data_ + body->start), body->count);
}

std::optional<std::uint64_t> BplistView::Count(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || (body->type != Type::Array && body->type != Type::Set && body->type != Type::Dict)) {
    return std::nullopt;
  }
  return body->count;
}

std::optional<BplistView::Ref> BplistView::RefAt(std::uint64_t at) const {
  const Ref ref = ReadBig(at, refSize_);
  if (ref >= objects_) return std::nullopt;
  return ref;
}

std::optional<BplistView::Ref> BplistView::Element(Ref array, std::uint64_t i) const {
  const auto body = BodyOf(array);
  if (!body || (body->type != Type::Array && body->type != Type::Set) || i >= body->count) return std::nullopt;
  return RefAt(body->start + i * refSize_);
}

bool BplistView::KeyEquals(Ref keyObject, std::string_view key) const {
  const auto body = BodyOf(keyObject);
  if (!body || body->type != Type::String) return false;
  if (body->high == 0x5) {
    return body->count == key.size() && std::memcmp(data_ + body->start, key.data(), key.size()) == 0;
  }
  const auto text = String(keyObject);
  return text && *text == key;
}

std::optional<BplistView::Ref> BplistView::Find(Ref dict, std::string_view key) const {
  const auto body = BodyOf(dict);
  if (!body || body->type != Type::Dict) return std::nullopt;
  for (std::uint64_t i = 0; i < body->count; ++i) {
    const auto keyRef = RefAt(body->start + i * refSize_);
    if (keyRef && KeyEquals(*keyRef, key)) return RefAt(body->start + (body->count + i) * refSize_);
  }
  return std::nullopt;
}

std::optional<std::pair<BplistView::Ref, BplistView::Ref>> BplistView::Pair(Ref dict, std::uint64_t i) const {
  const auto body = BodyOf(dict);
  if (!body || body->type != Type::Dict || i >= body->count) return std::nullopt;
  const auto key = RefAt(body->start + i * refSize_);
  const auto value = RefAt(body->start + (body->count + i) * refSize_);
  if (!key || !value) return std::nullopt;
  return std::make_pair(*key, *value);
}

std::optional<std::string_view> BplistView::AsciiString(Ref object) const {
  const auto body = BodyOf(object);
  if (!body || body->type != Type::String || body->high != 0x5) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(data_ + body->start), body->count);
}

}  // namespace tether
