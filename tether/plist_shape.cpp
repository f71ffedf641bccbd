#include "tether/plist_shape.h"

#include <cstring>
#include <vector>

namespace tether {
namespace {

// Binary property lists ("bplist00"): objects anywhere in the file, an offset table
// that locates them, and a 32-byte trailer at the very end:
//   6 unused bytes, offset-entry size (1 byte), object-reference size (1 byte),
//   object count, top object, offset-table position (8 bytes each, big-endian).
// A container's marker byte has the type in its high nibble (0xA array, 0xB ordered
// set, 0xC set, 0xD dictionary) and the count in its low one; a count of 0xF means an
// integer object (marker 0x1n, 2^n big-endian bytes) follows with the real count.
// A dictionary holds its key references, then as many value references.
constexpr std::size_t kTrailerSize = 32;
constexpr char kBinaryMagic[] = "bplist";

std::uint64_t BigEndian(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

class BinaryShape {
 public:
  BinaryShape(const std::uint8_t* data, std::size_t size, const PlistLimits& limits)
      : data_(data), size_(size), limits_(limits) {}

  bool Check(std::string* why);

 private:
  struct Children {
    std::uint64_t first = 0;  // file offset of the first reference
    std::uint64_t count = 0;  // number of references
  };
  // Offset of an object, or false when the table entry points outside the data.
  bool OffsetOf(std::uint64_t object, std::uint64_t& offset) const;
  // The references a container holds; count 0 for a leaf. False when they run past the data.
  bool ChildrenOf(std::uint64_t object, Children& out) const;
  std::uint64_t Ref(const Children& c, std::uint64_t i) const {
    return BigEndian(data_ + c.first + i * refSize_, refSize_);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  PlistLimits limits_;
  std::size_t offsetSize_ = 0, refSize_ = 0;
  std::uint64_t objects_ = 0, top_ = 0, table_ = 0;
};

bool BinaryShape::OffsetOf(std::uint64_t object, std::uint64_t& offset) const {
  offset = BigEndian(data_ + table_ + object * offsetSize_, offsetSize_);
  return offset < table_;
}

bool BinaryShape::ChildrenOf(std::uint64_t object, Children& out) const {
  out = {};
  std::uint64_t at = 0;
  if (!OffsetOf(object, at)) return false;
  const std::uint8_t marker = data_[at];
  const unsigned type = marker >> 4;
  if (type != 0xA && type != 0xB && type != 0xC && type != 0xD) return true;
  std::uint64_t count = marker & 0x0F;
  std::uint64_t next = at + 1;
  if (count == 0x0F) {
    if (next >= table_ || (data_[next] >> 4) != 0x1) return false;
    const std::size_t width = std::size_t{1} << (data_[next] & 0x03);
    if (width > table_ - next - 1) return false;
    count = BigEndian(data_ + next + 1, width);
    next += 1 + width;
  }
  if (type == 0xD) {
    if (count > (table_ - next) / 2) return false;
    count *= 2;
  }
  if (count > (table_ - next) / refSize_) return false;
  out = {next, count};
  return true;
}

bool BinaryShape::Check(std::string* why) {
  if (size_ < std::strlen(kBinaryMagic) + 2 + kTrailerSize) return Fail(why, "binary property list too short");
  const std::uint8_t* trailer = data_ + size_ - kTrailerSize;
  offsetSize_ = trailer[6];
  refSize_ = trailer[7];
  objects_ = BigEndian(trailer + 8, 8);
  top_ = BigEndian(trailer + 16, 8);
  table_ = BigEndian(trailer + 24, 8);
  const std::uint64_t tableEnd = size_ - kTrailerSize;
  if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
    return Fail(why, "binary property list has bad table sizes");
  }
  if (objects_ == 0 || objects_ > limits_.maxObjects || top_ >= objects_ || table_ >= tableEnd ||
      objects_ > (tableEnd - table_) / offsetSize_) {
    return Fail(why, "binary property list has a bad object table");
  }

  // Depth-first walk without recursion. Every object is finished once, with its
  // height remembered, so a list that shares objects costs no more than its size.
  enum : std::uint8_t { kNew, kOpen, kDone };
  std::vector<std::uint8_t> state(objects_, kNew);
  std::vector<std::uint32_t> height(objects_, 0);
  struct Frame {
    std::uint64_t object;
    Children children;
    std::uint64_t next;
  };
  std::vector<Frame> stack;
  Children rootChildren;
  if (!ChildrenOf(top_, rootChildren)) return Fail(why, "binary property list object lies outside the data");
  stack.push_back({top_, rootChildren, 0});
  state[top_] = kOpen;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.children.count) {
      std::uint32_t h = 1;
      for (std::uint64_t i = 0; i < frame.children.count; ++i) {
        const std::uint64_t child = Ref(frame.children, i);
        if (height[child] + 1 > h) h = height[child] + 1;
      }
      height[frame.object] = h;
      state[frame.object] = kDone;
      stack.pop_back();
      continue;
    }
    const std::uint64_t child = Ref(frame.children, frame.next++);
    if (child >= objects_) return Fail(why, "binary property list refers to a missing object");
    if (state[child] == kOpen) return Fail(why, "binary property list contains itself");
    if (state[child] == kDone) {
      if (stack.size() + height[child] > limits_.maxDepth) return Fail(why, "property list nests too deeply");
      continue;
    }
    Children children;
    if (!ChildrenOf(child, children)) return Fail(why, "binary property list object lies outside the data");
    if (stack.size() + 1 > limits_.maxDepth) return Fail(why, "property list nests too deeply");
    state[child] = kOpen;
    stack.push_back({child, children, 0});
  }
  return true;
}

// XML lists: every element that opens without closing itself adds a level. Counting
// all elements, not only <dict> and <array>, can only overestimate the depth.
bool XmlShapeAcceptable(const std::uint8_t* data, std::size_t size, std::string* why, const PlistLimits& limits) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '<' || i + 1 >= size) continue;
    const std::uint8_t next = data[i + 1];
    if (next == '?' || next == '!') continue;  // declarations, comments, DOCTYPE
    std::size_t end = i + 1;
    while (end < size && data[end] != '>') ++end;
    if (end == size) break;  // an unclosed tag is libplist's to reject
    if (next == '/') {
      if (depth > 0) --depth;
    } else if (data[end - 1] != '/') {
      if (++depth > limits.maxDepth) return Fail(why, "property list nests too deeply");
    }
    i = end;
  }
  return true;
}

}  // namespace

bool PlistShapeAcceptable(const std::uint8_t* data, std::size_t size, std::string* why, const PlistLimits& limits) {
  if (data == nullptr || size == 0) return Fail(why, "empty property list");
  const std::size_t magic = std::strlen(kBinaryMagic);
  if (size >= magic && std::memcmp(data, kBinaryMagic, magic) == 0) {
    return BinaryShape(data, size, limits).Check(why);
  }
  return XmlShapeAcceptable(data, size, why, limits);
}

}  // namespace tether
