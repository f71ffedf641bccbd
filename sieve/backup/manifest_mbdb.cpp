#include "sieve/backup/manifest_mbdb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "sieve/backup/stored_name.h"

namespace sieve {

namespace {

constexpr std::uint8_t kHeader[6] = {'m', 'b', 'd', 'b', 0x05, 0x00};
constexpr std::uint16_t kAbsent = 0xFFFF;
constexpr std::uint16_t kTypeMask = 0xF000;

// Reads big-endian fields from a byte range; every read checks what is left first,
// and a failed read leaves the cursor where it was.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size, std::size_t offset)
      : data_(data), size_(size), offset_(offset) {}

  std::size_t Offset() const { return offset_; }
  bool AtEnd() const { return offset_ == size_; }

  bool Number(int bytes, std::uint64_t& value) {
    if (Left() < static_cast<std::size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | data_[offset_ + static_cast<std::size_t>(i)];
    offset_ += static_cast<std::size_t>(bytes);
    return true;
  }

  // A 16-bit length, then that many bytes; the length 0xFFFF alone marks an absent field.
  bool Field(std::string_view& bytes, bool& present) {
    std::uint64_t length = 0;
    const std::size_t start = offset_;
    if (!Number(2, length)) return false;
    present = length != kAbsent;
    if (!present) {
      bytes = {};
      return true;
    }
    if (Left() < length) {
      offset_ = start;
      return false;
    }
    bytes = std::string_view(reinterpret_cast<const char*>(data_ + offset_), length);
    offset_ += length;
    return true;
  }

 private:
  std::size_t Left() const { return size_ - offset_; }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_;
};

std::string TextOrNull(std::string_view bytes, bool present) {
  return present ? std::string(bytes) : std::string("NULL");
}

// One whole record into `record`; false when the data ends inside it.
bool ReadRecord(Cursor& in, CManifestRecord& record) {
  std::string_view bytes;
  bool present = false;
  if (!in.Field(bytes, present)) return false;
  record.Domain = TextOrNull(bytes, present);
  if (!in.Field(bytes, present)) return false;
  record.Path = TextOrNull(bytes, present);
  if (!in.Field(bytes, present)) return false;
  record.LinkTarget = std::string(bytes);
  if (!in.Field(bytes, present)) return false;  // content digest: not needed
  if (!in.Field(bytes, present)) return false;
  record.EncryptionKey.assign(bytes.begin(), bytes.end());
  record.HasEncryptionKey = present;

  std::uint64_t v[10] = {};
  static constexpr int kWidths[10] = {2, 8, 4, 4, 4, 4, 4, 8, 1, 1};
  for (int i = 0; i < 10; ++i) {
    if (!in.Number(kWidths[i], v[i])) return false;
  }
  record.Mode = static_cast<std::uint16_t>(v[0]);
  record.Inode = v[1];
  record.UserId = static_cast<std::uint32_t>(v[2]);
  record.GroupId = static_cast<std::uint32_t>(v[3]);
  record.ModifiedTime = static_cast<std::uint32_t>(v[4]);
  record.AccessTime = static_cast<std::uint32_t>(v[5]);
  record.CreatedTime = static_cast<std::uint32_t>(v[6]);
  record.Size = v[7];
  record.ProtectionClass = static_cast<std::uint8_t>(v[8]);
  const std::uint64_t propertyCount = v[9];  // unsigned: up to 255 name/value pairs

  for (std::uint64_t i = 0; i < propertyCount; ++i) {
    if (!in.Field(bytes, present) || !in.Field(bytes, present)) return false;
  }
  record.StoredName = StoredFileName(record.Domain, record.Path);
  return true;
}

}  // namespace

bool CManifestRecord::IsDirectory() const { return (Mode & kTypeMask) == 0x4000; }
bool CManifestRecord::IsRegularFile() const { return (Mode & kTypeMask) == 0x8000; }
bool CManifestRecord::IsSymlink() const { return (Mode & kTypeMask) == 0xA000; }

MbdbResult ParseMbdb(const std::uint8_t* data, std::size_t size, std::vector<CManifestRecord>& out,
                     const MbdbProgress& onRecord) {
  out.clear();
  if (data == nullptr || size < sizeof kHeader || std::memcmp(data, kHeader, sizeof kHeader) != 0) {
    return {MbdbStatus::NotAnIndex, 0};
  }
  Cursor in(data, size, sizeof kHeader);
  while (!in.AtEnd()) {
    const std::size_t start = in.Offset();
    CManifestRecord record;
    if (!ReadRecord(in, record)) return {MbdbStatus::Truncated, start};
    out.push_back(std::move(record));
    if (onRecord && !onRecord(in.Offset(), size)) return {MbdbStatus::Stopped, in.Offset()};
  }
  return {MbdbStatus::Ok, size};
}

MbdbResult ReadMbdbFile(const std::string& path, std::vector<CManifestRecord>& out,
                        const MbdbProgress& onRecord) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    return {missing ? MbdbStatus::Missing : MbdbStatus::ReadError, 0};
  }
  struct stat info {};
  std::vector<std::uint8_t> bytes;
  bool failed = ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
  if (!failed) {
    // The size is only a hint: the loop reads until the end, whatever the file does meanwhile.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == bytes.size()) bytes.resize(bytes.size() * 2);
      const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failed = true;
        break;
      }
      if (got == 0) break;
      used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
  }
  ::close(fd);
  if (failed) return {MbdbStatus::ReadError, 0};
  return ParseMbdb(bytes.data(), bytes.size(), out, onRecord);
}

const char* MbdbStatusText(MbdbStatus status) {
  switch (status) {
    case MbdbStatus::Ok:
      return "ok";
    case MbdbStatus::Missing:
      return "missing";
    case MbdbStatus::NotAnIndex:
      return "not a file index";
    case MbdbStatus::Truncated:
      return "truncated";
    case MbdbStatus::ReadError:
      return "read error";
    case MbdbStatus::Stopped:
      return "stopped";
  }
  return "unknown";
}

}  // namespace sieve
