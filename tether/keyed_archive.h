// An NSKeyedArchiver archive: a binary property list whose "$objects" array holds
// every object once and whose values refer to each other by UID (an index into
// "$objects"); "$top" names the root. Backups of iOS 10 and later keep one per
// index row (an MBFile). References come from untrusted bytes, so every one is
// checked against the array and chains of references are cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tether {

class KeyedArchive {
 public:
  KeyedArchive() = default;
  ~KeyedArchive();
  KeyedArchive(const KeyedArchive&) = delete;
  KeyedArchive& operator=(const KeyedArchive&) = delete;

  // Parses the archive; false (with a short reason) when the bytes are not a property
  // list, have no "$objects" array or no "$top" dictionary whose "root" is a reference
  // to a dictionary inside it.
  bool Parse(const std::uint8_t* data, std::size_t size, std::string* why = nullptr);

  // Values of the root object's keys. A value may be stored in place or behind a
  // reference; an absent key, "$null" or a value of another type gives nothing.
  std::optional<std::uint64_t> Unsigned(const char* key) const;
  std::optional<std::int64_t> Signed(const char* key) const;
  std::optional<std::string> String(const char* key) const;
  // Raw bytes, or the "NS.data" of an NSData / NSMutableData object.
  std::optional<std::vector<std::uint8_t>> Data(const char* key) const;
  // True when the root has the key with any non-null value.
  bool Has(const char* key) const;

 private:
  void Release();
  void* Resolve(void* node) const;  // follows references; null for "$null" or a bad one
  void* RootValue(const char* key) const;

  void* plist_ = nullptr;   // plist_t of the whole archive
  void* objects_ = nullptr; // its "$objects" array
  void* root_ = nullptr;    // the root object (a dictionary)
  std::uint32_t objectCount_ = 0;
};

}  // namespace tether
