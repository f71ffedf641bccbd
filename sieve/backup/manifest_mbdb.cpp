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

// One record as views into the index bytes; nothing is copied until it is known to be whole.
struct RawRecord {
  std::string_view domain, path, link, key;
  bool hasDomain = false, hasPath = false, hasKey = false;
  std::uint64_t fixed[10] = {};  // mode .. property count, in file order
};

constexpr int kFixedWidths[10] = {2, 8, 4, 4, 4, 4, 4, 8, 1, 1};
constexpr int kPropertyCount = 9;

// False when the data ends inside the record.
bool ReadRawRecord(Cursor& in, RawRecord& r) {
  std::string_view skipped;
  bool present = false;
  if (!in.Field(r.domain, r.hasDomain) || !in.Field(r.path, r.hasPath) || !in.Field(r.link, present) ||
      !in.Field(skipped, present) || !in.Field(r.key, r.hasKey)) {
    return false;
  }
  for (int i = 0; i < 10; ++i) {
    if (!in.Number(kFixedWidths[i], r.fixed[i])) return false;
  }
  // Unsigned: up to 255 name/value pairs, none of them kept.
  for (std::uint64_t i = 0; i < r.fixed[kPropertyCount]; ++i) {
    if (!in.Field(skipped, present) || !in.Field(skipped, present)) return false;
  }
  return true;
}

std::string TextOrNull(std::string_view bytes, bool present) {
  return present ? std::string(bytes) : std::string("NULL");
}

CManifestRecord ToRecord(const RawRecord& r) {
  CManifestRecord record;
  record.Domain = TextOrNull(r.domain, r.hasDomain);
  record.Path = TextOrNull(r.path, r.hasPath);
  record.LinkTarget = std::string(r.link);
  record.EncryptionKey.assign(r.key.begin(), r.key.end());
  record.HasEncryptionKey = r.hasKey;
  record.Mode = static_cast<std::uint16_t>(r.fixed[0]);
  record.Inode = r.fixed[1];
  record.UserId = static_cast<std::uint32_t>(r.fixed[2]);
  record.GroupId = static_cast<std::uint32_t>(r.fixed[3]);
  record.ModifiedTime = static_cast<std::uint32_t>(r.fixed[4]);
  record.AccessTime = static_cast<std::uint32_t>(r.fixed[5]);
  record.CreatedTime = static_cast<std::uint32_t>(r.fixed[6]);
  record.Size = r.fixed[7];
  record.ProtectionClass = static_cast<std::uint8_t>(r.fixed[8]);
  record.StoredName = StoredFileName(record.Domain, record.Path);
  return record;
}

// A first pass that copies nothing, so the list is allocated once at its final size.
std::size_t CountWholeRecords(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  Cursor in(data, size, offset);
  RawRecord raw;
  std::size_t count = 0;
  while (!in.AtEnd() && ReadRawRecord(in, raw)) ++count;
  return count;
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
  out.reserve(CountWholeRecords(data, size, sizeof kHeader));
  Cursor in(data, size, sizeof kHeader);
  RawRecord raw;
  while (!in.AtEnd()) {
    const std::size_t start = in.Offset();
    if (!ReadRawRecord(in, raw)) return {MbdbStatus::Truncated, start};
    out.push_back(ToRecord(raw));
    if (onRecord && !onRecord(in.Offset(), size)) return {MbdbStatus::Stopped, in.Offset()};
  }
  return {MbdbStatus::Ok, size};
}

MbdbResult ReadMbdbFile(const std::string& path, std::vector<CManifestRecord>& out,
                        const MbdbProgress& onRecord) {
  out.clear();
  // Non-blocking and without following links: a FIFO or a link planted as the index is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
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
