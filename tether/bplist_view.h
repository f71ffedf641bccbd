// A read-only view of a binary property list ("bplist00") that decodes objects in
// place, on demand, without building a tree: the file index of a modern phone holds
// hundreds of thousands of small archives, and a tree per row costs more than the
// rest of the listing together. Every offset, count and reference is checked against
// the data; nothing here recurses, so no input can exhaust the stack.
//
// Layout: "bplist00", the objects, an offset table (one big-endian offset per object,
// `offsetSize` bytes each) and a 32-byte trailer: 6 unused bytes, offsetSize,
// refSize, object count, top object and offset-table position (8 bytes each, big-
// endian). An object starts with a marker: type in the high nibble, a small count or
// size in the low one (0xF: an integer object with the real count follows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tether {

class BplistView {
 public:
  enum class Type { Invalid, Null, Bool, Integer, Real, Date, Data, String, Uid, Array, Set, Dict };
  using Ref = std::uint64_t;

  // False when the bytes are not a binary list or its tables fall outside them.
  bool Open(const std::uint8_t* data, std::size_t size);

  Ref Top() const { return top_; }
  std::uint64_t ObjectCount() const { return objects_; }

  Type TypeOf(Ref object) const;
  // Integers: 1, 2, 4 bytes unsigned, 8 bytes two's complement, 16 bytes (the low 8).
  std::optional<std::uint64_t> Integer(Ref object) const;
  std::optional<std::uint64_t> Uid(Ref object) const;
  // ASCII and UTF-16 strings as UTF-8 (unpaired surrogates become U+FFFD).
  std::optional<std::string> String(Ref object) const;
  // The bytes of a data object, pointing into the list's own bytes.
  std::optional<std::string_view> Data(Ref object) const;
  // Number of elements of an array or set, or of pairs of a dictionary.
  std::optional<std::uint64_t> Count(Ref object) const;
  std::optional<Ref> Element(Ref array, std::uint64_t i) const;
  // The value of the first key equal to `key` (keys are compared as UTF-8 strings).
  std::optional<Ref> Find(Ref dict, std::string_view key) const;
  // The i-th key and value of a dictionary.
  std::optional<std::pair<Ref, Ref>> Pair(Ref dict, std::uint64_t i) const;
  // An ASCII string's bytes in place (what archive keys are); nothing for other objects.
  std::optional<std::string_view> AsciiString(Ref object) const;

 private:
  struct Body {
    Type type = Type::Invalid;
    std::uint64_t count = 0;   // low nibble or extended count
    std::uint64_t start = 0;   // first byte after marker and count
    std::uint8_t high = 0;     // the marker's nibbles
    std::uint8_t low = 0;
  };
  std::optional<Body> BodyOf(Ref object) const;
  std::uint64_t ReadBig(std::uint64_t at, std::size_t width) const;
  std::optional<Ref> RefAt(std::uint64_t at) const;
  bool KeyEquals(Ref keyObject, std::string_view key) const;

  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::size_t offsetSize_ = 0, refSize_ = 0;
  std::uint64_t objects_ = 0, top_ = 0, table_ = 0;
};

}  // namespace tether
