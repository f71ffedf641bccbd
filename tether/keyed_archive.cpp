#include "tether/keyed_archive.h"

#include <algorithm>

namespace tether {
namespace {

using Type = BplistView::Type;

// Archives nest an object behind at most a couple of references (a key object, an
// NSMutableData, its bytes); anything longer is a loop or damage.
constexpr int kMaxReferenceHops = 8;
// One index row's archive is a few hundred bytes; a bigger one is not a row's.
constexpr std::size_t kMaxArchiveBytes = 1u << 20;

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

}  // namespace

bool KeyedArchive::Parse(const std::uint8_t* data, std::size_t size, std::string* why) {
  objects_.reset();
  root_.reset();
  rootKeys_.clear();
  rootKeysComplete_ = false;
  objectCount_ = 0;
  if (data == nullptr || size == 0 || size > kMaxArchiveBytes) return Fail(why, "archive empty or too large");
  if (!view_.Open(data, size)) return Fail(why, "archive is not a binary property list");
  const Ref top = view_.Top();
  if (view_.TypeOf(top) != Type::Dict) return Fail(why, "archive is not a dictionary");
  const auto objects = view_.Find(top, "$objects");
  const auto count = objects ? view_.Count(*objects) : std::nullopt;
  if (!count || view_.TypeOf(*objects) != Type::Array) return Fail(why, "archive has no $objects");
  objects_ = objects;
  objectCount_ = *count;
  const auto topDict = view_.Find(top, "$top");
  if (!topDict || view_.TypeOf(*topDict) != Type::Dict) return Fail(why, "archive has no $top");
  const auto rootRef = view_.Find(*topDict, "root");
  if (!rootRef || view_.TypeOf(*rootRef) != Type::Uid) return Fail(why, "archive has no root");
  const auto root = Resolve(rootRef);
  if (!root || view_.TypeOf(*root) != Type::Dict) return Fail(why, "archive root is not an object");
  root_ = root;
  const std::uint64_t pairs = view_.Count(*root).value_or(0);
  rootKeys_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(pairs, 64)));
  for (std::uint64_t i = 0; i < pairs; ++i) {
    const auto pair = view_.Pair(*root, i);
    if (!pair) break;
    // A key behind a reference, or not ASCII, is looked up the slow way below.
    if (const auto key = view_.AsciiString(pair->first)) rootKeys_.emplace_back(*key, pair->second);
  }
  rootKeysComplete_ = rootKeys_.size() == pairs;
  return true;
}

std::optional<KeyedArchive::Ref> KeyedArchive::Resolve(std::optional<Ref> object) const {
  // One type look-up per hop: this runs for every field of every row of an index.
  for (int hop = 0; object; ++hop) {
    const Type type = view_.TypeOf(*object);
    if (type == Type::String) {
      const auto text = view_.AsciiString(*object);
      if (text && *text == "$null") return std::nullopt;
      return object;
    }
    if (type != Type::Uid) return type == Type::Invalid ? std::nullopt : object;
    const auto index = view_.Uid(*object);
    if (hop == kMaxReferenceHops || !index || *index >= objectCount_) return std::nullopt;
    object = view_.Element(*objects_, *index);
  }
  return std::nullopt;
}

std::optional<KeyedArchive::Ref> KeyedArchive::RootValue(const char* key) const {
  if (!root_ || key == nullptr) return std::nullopt;
  const std::string_view wanted(key);
  for (const auto& [name, value] : rootKeys_) {
    if (name == wanted) return Resolve(value);
  }
  return rootKeysComplete_ ? std::nullopt : Resolve(view_.Find(*root_, key));
}

bool KeyedArchive::Has(const char* key) const { return RootValue(key).has_value(); }

std::optional<std::uint64_t> KeyedArchive::Unsigned(const char* key) const {
  const auto value = RootValue(key);
  return value ? view_.Integer(*value) : std::nullopt;
}

std::optional<std::int64_t> KeyedArchive::Signed(const char* key) const {
  const auto value = Unsigned(key);
  if (!value) return std::nullopt;
  // Binary lists store negative integers as 8-byte two's complement.
  return static_cast<std::int64_t>(*value);
}

std::optional<std::string> KeyedArchive::String(const char* key) const {
  const auto value = RootValue(key);
  return value ? view_.String(*value) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> KeyedArchive::Data(const char* key) const {
  auto value = RootValue(key);
  if (value && view_.TypeOf(*value) == Type::Dict) value = Resolve(view_.Find(*value, "NS.data"));
  const auto bytes = value ? view_.Data(*value) : std::nullopt;
  if (!bytes) return std::nullopt;
  const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes->data());
  return std::vector<std::uint8_t>(begin, begin + bytes->size());
}

}  // namespace tether
