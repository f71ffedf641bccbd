// An NSKeyedArchiver archive: a binary property list whose "$objects" array holds
// every object once and whose values refer to each other by UID (an index into
// "$objects"); "$top" names the root. Backups of iOS 10 and later keep one per
// index row (an MBFile). References come from untrusted bytes, so every one is
// checked against the array and chains of references are cut short. The archive is
// read in place (bplist_view.h): no tree is built, and nothing refers to the bytes
// after Parse returns but the view, so they must outlive the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tether/bplist_view.h"

namespace tether {

class KeyedArchive {
 public:
  // Parses the archive; false (with a short reason) when the bytes are not a binary
  // property list, have no "$objects" array or no "$top" dictionary whose "root" is a
  // reference to a dictionary inside it.
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
  using Ref = BplistView::Ref;
  // Follows references; nothing for "$null" or a bad one.
  std::optional<Ref> Resolve(std::optional<Ref> object) const;
  std::optional<Ref> RootValue(const char* key) const;

  BplistView view_;
  // The root's keys and values, taken once: a row's dozen look-ups would otherwise each
  // walk the root's keys again.
  std::vector<std::pair<std::string_view, Ref>> rootKeys_;
  bool rootKeysComplete_ = false;  // every key of the root is in rootKeys_
  std::optional<Ref> objects_;  // the "$objects" array
  std::optional<Ref> root_;     // the root object (a dictionary)
  std::uint64_t objectCount_ = 0;
};

}  // namespace tether
