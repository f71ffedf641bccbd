#include "tether/plist.h"

#include <plist/plist.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "tether/plist_shape.h"

namespace tether {
namespace {

// Property lists of a backup are small; a bigger file is not one of ours.
constexpr std::size_t kMaxPlistBytes = 64u * 1024u * 1024u;

// Seconds between 1970-01-01 and 2001-01-01, the epoch of plist dates.
constexpr std::int64_t kMacEpochOffset = 978307200;

std::string FormatLocal(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

int StringOf(plist_t node, std::string& out) { return PlistStringValue(node, out) ? 1 : 0; }

}  // namespace

bool PlistStringValue(void* node, std::string& out) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return false;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr) return false;
  out.assign(text, ::strnlen(text, static_cast<std::size_t>(length)));
  return true;
}

bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  out.clear();
  // O_NONBLOCK: a FIFO planted under a backup's file name must not hang the open;
  // O_NOFOLLOW: a link there is not the backup's own file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            static_cast<std::uint64_t>(st.st_size) <= maxBytes;
  if (ok) {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < out.size()) {
      const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        ok = false;  // shrank under us, or a read error
      }
    }
  }
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

CPlist::~CPlist() { Release(); }

CPlist::CPlist(CPlist&& other) noexcept : root_(other.root_) { other.root_ = nullptr; }

CPlist& CPlist::operator=(CPlist&& other) noexcept {
  if (this != &other) {
    Release();
    root_ = other.root_;
    other.root_ = nullptr;
  }
  return *this;
}

void CPlist::Release() {
  if (root_ != nullptr) plist_free(static_cast<plist_t>(root_));
  root_ = nullptr;
}

int CPlist::ReadPlist(const std::string& path) {
  Release();
  std::vector<std::uint8_t> bytes;
  if (!ReadRegularFile(path, kMaxPlistBytes, bytes)) return 0;
  return ParseBytes(bytes.data(), bytes.size());
}

int CPlist::ParseBytes(const std::uint8_t* data, std::size_t size) {
  Release();
  if (data == nullptr || size == 0 || size > kMaxPlistBytes) return 0;
  if (!PlistShapeAcceptable(data, size)) return 0;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &root);
  if (root == nullptr) return 0;
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return 0;
  }
  root_ = root;
  return 1;
}

void* CPlist::Find(const char* key) const {
  if (root_ == nullptr || key == nullptr) return nullptr;
  return plist_dict_get_item(static_cast<plist_t>(root_), key);
}

int CPlist::GetStringItem(const char* key, std::string& out) const {
  return StringOf(static_cast<plist_t>(Find(key)), out);
}

int CPlist::GetDateItem(const char* key, std::string& out) const {
  plist_t node = static_cast<plist_t>(Find(key));
  if (node == nullptr) return 0;
  if (plist_get_node_type(node) == PLIST_STRING) return GetStringItem(key, out);
  if (plist_get_node_type(node) != PLIST_DATE) return 0;
  std::int32_t sec = 0;
  std::int32_t usec = 0;
  plist_get_date_val(node, &sec, &usec);
  out = FormatLocal(static_cast<std::int64_t>(sec) + kMacEpochOffset);
  return 1;
}

int CPlist::GetboolItem(const char* key) const {
  plist_t node = static_cast<plist_t>(Find(key));
  if (node == nullptr) return 0;
  if (plist_get_node_type(node) == PLIST_BOOLEAN) {
    std::uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0 ? 1 : 0;
  }
  if (plist_get_node_type(node) == PLIST_UINT) {
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value != 0 ? 1 : 0;
  }
  return 0;
}

int CPlist::GetDataItem(const char* key, std::vector<std::uint8_t>& out) const {
  plist_t node = static_cast<plist_t>(Find(key));
  if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return 0;
  char* value = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(node, &value, &length);
  if (value == nullptr) return 0;
  out.assign(reinterpret_cast<std::uint8_t*>(value), reinterpret_cast<std::uint8_t*>(value) + length);
  std::free(value);
  return 1;
}

int CPlist::GetNestedString(const char* dict, const char* key, std::string& out) const {
  plist_t parent = static_cast<plist_t>(Find(dict));
  if (parent == nullptr || plist_get_node_type(parent) != PLIST_DICT || key == nullptr) return 0;
  return StringOf(plist_dict_get_item(parent, key), out);
}

}  // namespace tether
