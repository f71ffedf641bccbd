#include "sieve/extractors/typedstream.h"

#include <string.h>

#include <algorithm>
#include <string_view>

#include "sieve/reader/text.h"

namespace sieve::typedstream {

namespace {

constexpr std::int8_t kInt16 = -127;  // 0x81
constexpr std::int8_t kInt32 = -126;  // 0x82
constexpr std::int8_t kFloat = -125;  // 0x83
constexpr std::int8_t kNew = -124;    // 0x84
constexpr std::int8_t kNil = -123;    // 0x85
constexpr std::int8_t kEnd = -122;    // 0x86
constexpr std::int64_t kReferenceBase = -110;  // 0x92 names the first item of a table

// Archives of messages are small; these bounds only keep hostile data from costing much.
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxItems = 1 << 16;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool Header() {
    std::uint8_t version = 0;
    if (!Byte(version) || version != 4) return false;
    std::uint8_t length = 0;
    constexpr std::string_view kSignature = "streamtyped";
    if (!Byte(length) || length != kSignature.size() || Remaining() < length) return false;
    if (memcmp(data_.data() + pos_, kSignature.data(), length) != 0) return false;
    pos_ += length;
    std::int64_t system = 0;
    return Integer(system);
  }

  // Reads top-level groups until the data ends; false when something went wrong.
  bool Body(Archive& archive) {
    archive_ = &archive;
    while (Remaining() > 0) {
      std::string types;
      if (!SharedString(types) || !Values(types, archive.topLevel, 0)) return false;
    }
    return true;
  }

 private:
  std::size_t Remaining() const { return data_.size() - pos_; }

  bool Byte(std::uint8_t& out) {
    if (Remaining() < 1) return false;
    out = data_[pos_++];
    return true;
  }
  bool Tag(std::int8_t& out) {
    std::uint8_t byte = 0;
    if (!Byte(byte)) return false;
    out = static_cast<std::int8_t>(byte);
    return true;
  }
  template <typename T>
  bool Fixed(T& out) {
    if (Remaining() < sizeof(T)) return false;
    memcpy(&out, data_.data() + pos_, sizeof(T));  // the archives are little-endian, as is every host we build for
    pos_ += sizeof(T);
    return true;
  }
  // An integer whose first byte was already read as `tag`.
  bool IntegerAfter(std::int8_t tag, std::int64_t& out) {
    if (tag == kInt16) {
      std::int16_t value = 0;
      if (!Fixed(value)) return false;
      out = value;
    } else if (tag == kInt32) {
      std::int32_t value = 0;
      if (!Fixed(value)) return false;
      out = value;
    } else if (tag == kFloat || tag == kNew || tag == kNil || tag == kEnd) {
      return false;
    } else {
      out = tag;
    }
    return true;
  }
  bool Integer(std::int64_t& out) {
    std::int8_t tag = 0;
    return Tag(tag) && IntegerAfter(tag, out);
  }
  bool Reference(std::int8_t tag, std::size_t tableSize, std::size_t& index) {
    std::int64_t value = 0;
    if (!IntegerAfter(tag, value) || value < kReferenceBase) return false;
    index = static_cast<std::size_t>(value - kReferenceBase);
    return index < tableSize;
  }
  bool Counted(std::string& out) {
    std::int64_t length = 0;
    if (!Integer(length) || length < 0 || static_cast<std::uint64_t>(length) > Remaining()) return false;
    out.assign(reinterpret_cast<const char*>(data_.data() + pos_), static_cast<std::size_t>(length));
    pos_ += static_cast<std::size_t>(length);
    return true;
  }
  bool SharedString(std::string& out) {
    std::int8_t tag = 0;
    if (!Tag(tag)) return false;
    if (tag == kNil) {
      out.clear();
      return true;
    }
    if (tag == kNew) {
      if (!Counted(out) || strings_.size() >= kMaxItems) return false;
      strings_.push_back(out);
      return true;
    }
    std::size_t index = 0;
    if (!Reference(tag, strings_.size(), index)) return false;
    out = strings_[index];
    return true;
  }

  // A class and its superclasses, as a chain of names.
  bool Class(std::vector<std::string>& chain, int depth) {
    if (depth > kMaxDepth) return false;
    std::int8_t tag = 0;
    if (!Tag(tag)) return false;
    if (tag == kNil) return true;
    if (tag != kNew) {
      std::size_t index = 0;
      if (!Reference(tag, items_.size(), index) || !items_[index].isClass) return false;
      const auto& known = items_[index].chain;
      chain.insert(chain.end(), known.begin(), known.end());
      return true;
    }
    std::string name;
    std::int64_t version = 0;
    if (!SharedString(name) || !Integer(version) || items_.size() >= kMaxItems) return false;
    // The class takes its place in the table before its superclass is read.
    const std::size_t item = items_.size();
    items_.push_back({true, {}, 0});
    std::vector<std::string> own{name};
    if (!Class(own, depth + 1)) return false;
    items_[item].chain = own;
    chain.insert(chain.end(), own.begin(), own.end());
    return true;
  }

  bool ObjectValue(Value& out, int depth) {
    if (depth > kMaxDepth) return false;
    std::int8_t tag = 0;
    if (!Tag(tag)) return false;
    if (tag == kNil) {
      out.kind = Value::Kind::kNil;
      return true;
    }
    if (tag != kNew) {
      std::size_t index = 0;
      if (!Reference(tag, items_.size(), index) || items_[index].isClass) return false;
      out.kind = Value::Kind::kObject;
      out.object = items_[index].object;
      return true;
    }
    if (items_.size() >= kMaxItems) return false;
    const std::size_t object = archive_->objects.size();
    archive_->objects.emplace_back();
    items_.push_back({false, {}, object});
    out.kind = Value::Kind::kObject;
    out.object = object;
    std::vector<std::string> chain;
    if (!Class(chain, depth + 1)) return false;
    archive_->objects[object].classChain = std::move(chain);
    for (;;) {
      if (Remaining() == 0) return false;
      if (static_cast<std::int8_t>(data_[pos_]) == kEnd) {
        ++pos_;
        return true;
      }
      std::string types;
      std::vector<Value> values;
      if (!SharedString(types)) return false;
      const bool ok = Values(types, values, depth + 1);
      // Kept even when cut short, so that a text read before the damage survives.
      auto& kept = archive_->objects[object].values;
      kept.insert(kept.end(), std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
      if (!ok) return false;
    }
  }

  bool Number(char type, Value& out) {
    std::int8_t tag = 0;
    if (!Tag(tag)) return false;
    if (tag == kFloat) {
      out.kind = Value::Kind::kReal;
      if (type == 'f') {
        float value = 0;
        if (!Fixed(value)) return false;
        out.real = value;
        return true;
      }
      return Fixed(out.real);
    }
    out.kind = Value::Kind::kInteger;
    if (!IntegerAfter(tag, out.integer)) return false;
    if (type == 'f' || type == 'd') {
      out.kind = Value::Kind::kReal;
      out.real = static_cast<double>(out.integer);
    }
    return true;
  }

  // One value per type character; arrays and structs are read element by element.
  bool Values(std::string_view types, std::vector<Value>& out, int depth) {
    if (depth > kMaxDepth) return false;
    for (std::size_t i = 0; i < types.size(); ++i) {
      if (out.size() >= kMaxItems) return false;
      const char type = types[i];
      Value value;
      switch (type) {
        case '@':
          if (!ObjectValue(value, depth)) {
            out.push_back(std::move(value));
            return false;
          }
          break;
        case '+':
          value.kind = Value::Kind::kBytes;
          if (!Counted(value.bytes)) return false;
          break;
        case '*':
        case '%':
        case ':': {
          std::int8_t tag = 0;
          if (!Tag(tag)) return false;
          value.kind = Value::Kind::kBytes;
          if (tag == kNil) {
            value.kind = Value::Kind::kNil;
          } else if (tag != kNew || !SharedString(value.bytes)) {
            return false;
          }
          break;
        }
        case '#': {
          std::vector<std::string> chain;
          if (!Class(chain, depth)) return false;
          value.kind = Value::Kind::kBytes;
          value.bytes = chain.empty() ? std::string() : chain.front();
          break;
        }
        case 'c': case 'C': case 's': case 'S': case 'i': case 'I': case 'l': case 'L':
        case 'q': case 'Q': case 'f': case 'd': case 'B':
          if (!Number(type, value)) return false;
          break;
        case '[': {
          // "[12c]": a count, then the element type; char arrays are stored raw.
          std::size_t end = types.find(']', i);
          if (end == std::string_view::npos) return false;
          std::size_t digits = i + 1;
          std::uint64_t count = 0;
          while (digits < end && types[digits] >= '0' && types[digits] <= '9' && count < kMaxItems) {
            count = count * 10 + static_cast<std::uint64_t>(types[digits++] - '0');
          }
          const std::string_view element = types.substr(digits, end - digits);
          if (count > kMaxItems || element.empty()) return false;
          if (element == "c" || element == "C") {
            if (count > Remaining()) return false;
            value.kind = Value::Kind::kBytes;
            value.bytes.assign(reinterpret_cast<const char*>(data_.data() + pos_), static_cast<std::size_t>(count));
            pos_ += static_cast<std::size_t>(count);
            out.push_back(std::move(value));
          } else {
            for (std::uint64_t n = 0; n < count; ++n) {
              if (!Values(element, out, depth + 1)) return false;
            }
          }
          i = end;
          continue;
        }
        case '{': {
          // "{name=types}": the fields in order, nested structs included.
          int level = 0;
          std::size_t end = i;
          for (; end < types.size(); ++end) {
            if (types[end] == '{') ++level;
            if (types[end] == '}' && --level == 0) break;
          }
          const std::size_t equals = types.find('=', i);
          if (end >= types.size() || equals == std::string_view::npos || equals > end) return false;
          if (!Values(types.substr(equals + 1, end - equals - 1), out, depth + 1)) return false;
          i = end;
          continue;
        }
        default:
          return false;  // a type this reader does not know: the rest cannot be framed
      }
      out.push_back(std::move(value));
    }
    return true;
  }

  struct Item {
    bool isClass = false;
    std::vector<std::string> chain;  // for a class: its name and its superclasses'
    std::size_t object = 0;          // for an object: its index in the archive
  };

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  std::vector<std::string> strings_;
  std::vector<Item> items_;
  Archive* archive_ = nullptr;
};

}  // namespace

bool Object::IsA(std::string_view className) const {
  return std::find(classChain.begin(), classChain.end(), className) != classChain.end();
}

std::optional<Archive> Decode(std::span<const std::uint8_t> data) {
  Reader reader(data);
  if (!reader.Header()) return std::nullopt;
  Archive archive;
  archive.complete = reader.Body(archive);
  return archive;
}

std::optional<std::string> AttributedText(std::span<const std::uint8_t> data) {
  const auto archive = Decode(data);
  if (!archive) return std::nullopt;
  for (const Value& top : archive->topLevel) {
    if (top.kind != Value::Kind::kObject || !archive->objects[top.object].IsA("NSAttributedString")) continue;
    for (const Value& part : archive->objects[top.object].values) {
      if (part.kind != Value::Kind::kObject) continue;
      const Object& string = archive->objects[part.object];
      if (!string.IsA("NSString")) continue;
      for (const Value& bytes : string.values) {
        if (bytes.kind == Value::Kind::kBytes) return SanitizeUtf8(bytes.bytes);
      }
    }
  }
  return std::nullopt;
}

}  // namespace sieve::typedstream
