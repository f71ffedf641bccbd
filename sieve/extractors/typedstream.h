// A reader of Apple's "typedstream" archives (NSArchiver's format), in which Messages keeps
// a message's text as an NSAttributedString when the text column is empty.
//
// Facts relied on (little-endian archives, version 4):
// - Header: a version byte (4), a counted signature "streamtyped", the system version as an
//   integer (1000).
// - Integers: one signed byte, or 0x81 then an int16, 0x82 then an int32. 0x83 starts a
//   float (4 bytes) or double (8 bytes). 0x84 announces a new item, 0x85 is nil, 0x86 ends an
//   object. Any other byte (or an extended integer) is a reference: its value plus 110 is the
//   index of an item seen before.
// - Strings (type encodings, class names) are shared: new ones (0x84, a length, the bytes)
//   join a string table that references index. Objects and classes share a second table,
//   in the order they are announced: an object before its class, a class before its
//   superclass.
// - A class is its name, a version integer and its superclass (a class or nil).
// - An object is its class, then groups of values, each a type encoding (an Objective-C
//   type string such as "@", "+", "iI", "*") followed by a value per type character, until
//   0x86. "+" is counted raw bytes (NSString's UTF-8); "*" a C string (0x84 and a shared
//   string, or nil); "@" an object; integer and float codes as above.
//
// Every byte is untrusted: lengths are checked against the data, nesting and item counts are
// bounded, and a reference must name an item already read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sieve::typedstream {

struct Value {
  enum class Kind : std::uint8_t { kInteger, kReal, kBytes, kObject, kNil };
  Kind kind = Kind::kNil;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string bytes;        // "+" data or a C string
  std::size_t object = 0;   // index into Archive::objects for kObject
};

struct Object {
  std::vector<std::string> classChain;  // the class first, then its superclasses
  std::vector<Value> values;            // every value of every group, in order

  bool IsA(std::string_view className) const;
};

struct Archive {
  std::vector<Object> objects;     // objects only (classes are folded into classChain)
  std::vector<Value> topLevel;     // values of the archive's top-level groups
  bool complete = false;           // false: the data ended or went wrong part way; what came before is kept
};

// nullopt when the header is not a typedstream's.
std::optional<Archive> Decode(std::span<const std::uint8_t> data);

// The text of an archived NSAttributedString (or its mutable kind): the "+" bytes of the string
// object it holds, as valid UTF-8. nullopt when the archive holds none.
std::optional<std::string> AttributedText(std::span<const std::uint8_t> data);

}  // namespace sieve::typedstream
