// Reads a property-list file (XML or binary) and hands out its top-level values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tether {

// Reads a whole regular file of at most maxBytes (a FIFO, device, folder or link is
// refused without blocking). False, with out empty, on any failure.
bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out);

// The text of a string node (a plist_t) up to any NUL it holds; false for another node.
// libplist's own getter aborts on a NUL inside a string, which a binary list (UTF-16
// text) or a device's message can carry.
bool PlistStringValue(void* node, std::string& out);

class CPlist {
 public:
  CPlist() = default;
  ~CPlist();
  CPlist(const CPlist&) = delete;
  CPlist& operator=(const CPlist&) = delete;
  CPlist(CPlist&& other) noexcept;
  CPlist& operator=(CPlist&& other) noexcept;

  // Non-zero when the file was read and parsed and its top level is a dictionary. Lists
  // nested too deeply or holding themselves are refused before parsing (plist_shape.h).
  int ReadPlist(const std::string& path);
  // Same for bytes in memory.
  int ParseBytes(const std::uint8_t* data, std::size_t size);

  // Non-zero when the top-level string `key` exists; out receives its UTF-8 text.
  int GetStringItem(const char* key, std::string& out) const;
  // Writes a top-level date as local "YYYY-MM-DD hh:mm:ss"; a string value is taken as it is.
  int GetDateItem(const char* key, std::string& out) const;
  // 1 for a true boolean (or a non-zero integer), else 0, also when absent.
  int GetboolItem(const char* key) const;
  // Non-zero when the top-level data item exists; out receives a copy of its bytes.
  int GetDataItem(const char* key, std::vector<std::uint8_t>& out) const;
  // Non-zero when a nested string exists, e.g. ("Lockdown", "ProductVersion").
  int GetNestedString(const char* dict, const char* key, std::string& out) const;

  // Non-zero when the top level has the key, whatever its type.
  int HasItem(const char* key) const { return Find(key) != nullptr ? 1 : 0; }

  bool IsLoaded() const { return root_ != nullptr; }

 private:
  void Release();
  void* Find(const char* key) const;

  void* root_ = nullptr;  // plist_t
};

}  // namespace tether
