#include "tether/device/file_streams.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tether {

namespace {

constexpr std::uint8_t kBlockData = 0x0C;
constexpr std::uint8_t kBlockEnd = 0x00;
constexpr std::uint8_t kBlockLocalError = 0x06;
constexpr std::uint8_t kBlockRemoteError = 0x0B;
constexpr std::size_t kChunk = 64 * 1024;
// Longer than any name a backup uses: a length like this is a broken stream.
constexpr std::uint32_t kMaxName = 4096;

DeviceError Broken() {
  return {DeviceErrorKind::Disconnected, 0, "The connection to the device broke during a file transfer."};
}

// The per-file errors of a multi-status reply.
class FileErrors {
 public:
  FileErrors() : dict_(plist_new_dict()) {}
  ~FileErrors() { plist_free(dict_); }
  FileErrors(const FileErrors&) = delete;
  FileErrors& operator=(const FileErrors&) = delete;

  void Add(const std::string& path, int code, const std::string& text) {
    plist_t entry = plist_new_dict();
    plist_dict_set_item(entry, "DLFileErrorCode", plist_new_uint(static_cast<std::uint64_t>(static_cast<std::int64_t>(code))));
    plist_dict_set_item(entry, "DLFileErrorString", plist_new_string(text.c_str()));
    plist_dict_set_item(dict_, path.c_str(), entry);
    ++count_;
  }
  // Answers the message: success, or "Multi status" with every failed item.
  bool Reply(DlLink& link) {
    if (count_ == 0) return link.Status(0);
    plist_t dict = dict_;
    dict_ = plist_new_dict();
    return link.Status(-13, "Multi status", dict);
  }

 private:
  plist_t dict_;
  int count_ = 0;
};

bool SendBlock(DlLink& link, std::uint8_t code, const void* data, std::size_t size) {
  return link.WriteU32(static_cast<std::uint32_t>(size + 1)) && link.WriteAll(&code, 1) &&
         (size == 0 || link.WriteAll(data, size));
}

// Sends one file's blocks; a read error on our side becomes the file's error block.
// False when the connection broke.
bool SendOne(DlLink& link, const BackupRoot& root, const std::string& path, FileErrors& errors) {
  if (!link.WriteU32(static_cast<std::uint32_t>(path.size())) || !link.WriteAll(path.data(), path.size())) {
    return false;
  }
  const int fd = root.OpenExisting(path, O_RDONLY);
  int error = fd < 0 ? -fd : 0;
  if (fd >= 0) {
    char buffer[kChunk];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error = errno;
      if (got <= 0) break;
      if (!SendBlock(link, kBlockData, buffer, static_cast<std::size_t>(got))) {
        ::close(fd);
        return false;
      }
    }
    ::close(fd);
  }
  if (error == 0) return SendBlock(link, kBlockEnd, nullptr, 0);
  const std::string text = error == EINVAL ? "Refused path" : std::strerror(error);
  errors.Add(path, DlErrorFromErrno(error), text);
  return SendBlock(link, kBlockLocalError, text.data(), text.size());
}

bool ReadName(DlLink& link, std::uint32_t size, std::string& name) {
  if (size > kMaxName) return false;
  name.assign(size, '\0');
  return link.ReadExact(name.data(), size);
}

bool WriteAllTo(int fd, const char* data, std::size_t size, int& error) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      error = errno;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

std::int64_t FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
}

DeviceError SendFiles(DlLink& link, const BackupRoot& root, const std::vector<std::string>& paths) {
  FileErrors errors;
  for (const std::string& path : paths) {
    if (!SendOne(link, root, path, errors)) return Broken();
  }
  if (!link.WriteU32(0) || !errors.Reply(link)) return Broken();
  return {};
}

DeviceError ReceiveFiles(DlLink& link, const BackupRoot& root, const std::string& folder,
                         std::uint64_t totalBytes, const std::function<void(std::uint64_t)>& onBytes) {
  const std::int64_t free = FreeBytes(folder);
  if (free >= 0 && totalBytes > static_cast<std::uint64_t>(free)) {
    return {DeviceErrorKind::DiskFull, -105,
            "The backup needs " + std::to_string(totalBytes) + " bytes; " + std::to_string(free) +
                " are free in " + folder + "."};
  }
  FileErrors errors;
  std::uint64_t written = 0;
  std::string deviceName;
  std::string path;
  char buffer[kChunk];
  for (;;) {
    std::uint32_t size = 0;
    if (!link.ReadU32(size)) return Broken();
    if (size == 0) break;
    if (!ReadName(link, size, deviceName) || !link.ReadU32(size) || size == 0 || !ReadName(link, size, path)) {
      return Broken();
    }
    int fd = root.OpenFile(path, O_WRONLY | O_TRUNC, 0600);
    if (fd < 0) errors.Add(path, DlErrorFromErrno(-fd), fd == -EINVAL ? "Refused path" : std::strerror(-fd));
    // Blocks until the end of this file; a refused file's data is read and dropped.
    for (;;) {
      std::uint32_t blockSize = 0;
      std::uint8_t code = 0;
      if (!link.ReadU32(blockSize) || blockSize == 0 || !link.ReadExact(&code, 1)) {
        if (fd >= 0) ::close(fd);
        return Broken();
      }
      std::uint64_t left = blockSize - 1;
      std::string remoteError;
      while (left > 0) {
        const std::size_t take = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
        if (!link.ReadExact(buffer, take)) {
          if (fd >= 0) ::close(fd);
          return Broken();
        }
        left -= take;
        if (code == kBlockRemoteError && remoteError.size() < kMaxName) remoteError.append(buffer, take);
        if (code != kBlockData || fd < 0) continue;
        int error = 0;
        if (!WriteAllTo(fd, buffer, take, error)) {
          ::close(fd);
          root.Remove(path);
          if (error == ENOSPC) {
            link.Status(DlErrorFromErrno(error), "No space left on device");
            return {DeviceErrorKind::DiskFull, -105, "The disk holding " + folder + " is full."};
          }
          link.Status(DlErrorFromErrno(error), std::strerror(error));
          return {DeviceErrorKind::LocalIo, -error, "Writing " + path + " failed: " + std::strerror(error)};
        }
        written += take;
        if (onBytes) onBytes(written);
      }
      if (code == kBlockData) continue;
      if (code == kBlockRemoteError) {
        if (fd >= 0) {
          ::close(fd);
          fd = -1;
          root.Remove(path);
        }
        errors.Add(path, -1, remoteError);
      }
      break;  // the end of this file (0x00, an error text, or a code we do not know)
    }
    if (fd >= 0 && ::close(fd) != 0) {
      const int error = errno;
      root.Remove(path);
      link.Status(DlErrorFromErrno(error), std::strerror(error));
      if (error == ENOSPC) return {DeviceErrorKind::DiskFull, -105, "The disk holding " + folder + " is full."};
      return {DeviceErrorKind::LocalIo, -error, "Writing " + path + " failed: " + std::strerror(error)};
    }
  }
  if (!errors.Reply(link)) return Broken();
  return {};
}

}  // namespace tether
