#include "tether/keyed_archive.h"

#include <plist/plist.h>

#include <cstring>

#include "tether/plist_shape.h"

namespace tether {
namespace {

// Archives nest an object behind at most a couple of references (a key object, an
// NSMutableData, its bytes); anything longer is a loop or damage.
constexpr int kMaxReferenceHops = 8;
// One index row's archive is a few hundred bytes; a bigger one is not a row's.
constexpr std::size_t kMaxArchiveBytes = 1u << 20;

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

bool IsNullMarker(plist_t node) {
  if (plist_get_node_type(node) != PLIST_STRING) return false;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return text != nullptr && length == 5 && std::memcmp(text, "$null", 5) == 0;
}

}  // namespace

KeyedArchive::~KeyedArchive() { Release(); }

void KeyedArchive::Release() {
  if (plist_ != nullptr) plist_free(static_cast<plist_t>(plist_));
  plist_ = objects_ = root_ = nullptr;
  objectCount_ = 0;
}

bool KeyedArchive::Parse(const std::uint8_t* data, std::size_t size, std::string* why) {
  Release();
  if (data == nullptr || size == 0 || size > kMaxArchiveBytes) return Fail(why, "archive empty or too large");
  if (!PlistShapeAcceptable(data, size, why)) return false;
  plist_t plist = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &plist);
  if (plist == nullptr) return Fail(why, "archive is not a property list");
  plist_ = plist;
  if (plist_get_node_type(plist) != PLIST_DICT) return Fail(why, "archive is not a dictionary");
  plist_t objects = plist_dict_get_item(plist, "$objects");
  if (objects == nullptr || plist_get_node_type(objects) != PLIST_ARRAY) return Fail(why, "archive has no $objects");
  objects_ = objects;
  objectCount_ = plist_array_get_size(objects);
  plist_t top = plist_dict_get_item(plist, "$top");
  if (top == nullptr || plist_get_node_type(top) != PLIST_DICT) return Fail(why, "archive has no $top");
  plist_t rootRef = plist_dict_get_item(top, "root");
  if (rootRef == nullptr || plist_get_node_type(rootRef) != PLIST_UID) return Fail(why, "archive has no root");
  plist_t root = static_cast<plist_t>(Resolve(rootRef));
  if (root == nullptr || plist_get_node_type(root) != PLIST_DICT) return Fail(why, "archive root is not an object");
  root_ = root;
  return true;
}

void* KeyedArchive::Resolve(void* value) const {
  plist_t node = static_cast<plist_t>(value);
  for (int hop = 0; node != nullptr && plist_get_node_type(node) == PLIST_UID; ++hop) {
    if (hop == kMaxReferenceHops) return nullptr;
    std::uint64_t index = 0;
    plist_get_uid_val(node, &index);
    if (index >= objectCount_) return nullptr;
    node = plist_array_get_item(static_cast<plist_t>(objects_), static_cast<std::uint32_t>(index));
  }
  if (node == nullptr || IsNullMarker(node)) return nullptr;
  return node;
}

void* KeyedArchive::RootValue(const char* key) const {
  if (root_ == nullptr || key == nullptr) return nullptr;
  return Resolve(plist_dict_get_item(static_cast<plist_t>(root_), key));
}

bool KeyedArchive::Has(const char* key) const { return RootValue(key) != nullptr; }

std::optional<std::uint64_t> KeyedArchive::Unsigned(const char* key) const {
  plist_t node = static_cast<plist_t>(RootValue(key));
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return value;
}

std::optional<std::int64_t> KeyedArchive::Signed(const char* key) const {
  const auto value = Unsigned(key);
  if (!value) return std::nullopt;
  // Binary lists store negative integers as 8-byte two's complement.
  return static_cast<std::int64_t>(*value);
}

std::optional<std::string> KeyedArchive::String(const char* key) const {
  plist_t node = static_cast<plist_t>(RootValue(key));
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::vector<std::uint8_t>> KeyedArchive::Data(const char* key) const {
  plist_t node = static_cast<plist_t>(RootValue(key));
  if (node != nullptr && plist_get_node_type(node) == PLIST_DICT) {
    node = static_cast<plist_t>(Resolve(plist_dict_get_item(node, "NS.data")));
  }
  if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
  std::uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  if (bytes == nullptr) return std::vector<std::uint8_t>{};
  const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
  return std::vector<std::uint8_t>(begin, begin + length);
}

}  // namespace tether
