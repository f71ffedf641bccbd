#include "tether/device/device_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tether {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Deeper than any backup: a path this deep is not one.
constexpr std::size_t kMaxParts = 64;

// Removes everything inside the open folder `fd` (closed here), never following a link.
int EmptyFolder(int fd) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  int result = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) continue;
    if (errno != EISDIR && errno != EPERM) {
      result = -errno;
      continue;
    }
    const int child = ::openat(::dirfd(dir), name.c_str(), kFolderFlags);
    if (child < 0) {
      result = -errno;
      continue;
    }
    const int emptied = EmptyFolder(child);
    if (emptied != 0) result = emptied;
    if (::unlinkat(::dirfd(dir), name.c_str(), AT_REMOVEDIR) != 0) result = -errno;
  }
  ::closedir(dir);
  return result;
}

}  // namespace

std::vector<std::string> DevicePathParts(std::string_view path) {
  std::vector<std::string> parts;
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return {};
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (part.empty() || part == "." || part == ".." || parts.size() == kMaxParts) return {};
    parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
    if (path.empty()) return {};  // a trailing slash names no file
  }
  return parts;
}

BackupRoot::BackupRoot(const std::string& folder) : fd_(::open(folder.c_str(), kFolderFlags)) {}

BackupRoot::~BackupRoot() {
  if (fd_ >= 0) ::close(fd_);
}

int BackupRoot::ParentOf(std::string_view devicePath, bool create, std::string& last) const {
  if (fd_ < 0) return -EBADF;
  const std::vector<std::string> parts = DevicePathParts(devicePath);
  if (parts.empty()) return -EINVAL;
  int folder = ::dup(fd_);
  if (folder < 0) return -errno;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (create && ::mkdirat(folder, parts[i].c_str(), 0700) != 0 && errno != EEXIST) {
      const int error = errno;
      ::close(folder);
      return -error;
    }
    // O_NOFOLLOW on a link gives ELOOP (or ENOTDIR with O_DIRECTORY): never through a link.
    const int next = ::openat(folder, parts[i].c_str(), kFolderFlags);
    const int error = errno;
    ::close(folder);
    if (next < 0) return error == ENOTDIR ? -ELOOP : -error;
    folder = next;
  }
  last = parts.back();
  return folder;
}

int BackupRoot::OpenFile(std::string_view devicePath, int flags, mode_t mode) const {
  std::string last;
  const int folder = ParentOf(devicePath, true, last);
  if (folder < 0) return folder;
  const int fd = ::openat(folder, last.c_str(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  const int error = errno;
  ::close(folder);
  return fd >= 0 ? fd : -error;
}

int BackupRoot::MakeFolder(std::string_view devicePath) const {
  std::string last;
  const int folder = ParentOf(devicePath, true, last);
  if (folder < 0) return folder;
  int result = 0;
  if (::mkdirat(folder, last.c_str(), 0700) != 0 && errno != EEXIST) result = -errno;
  if (result == 0) {
    // What is there must be a folder, not a link to one.
    const int check = ::openat(folder, last.c_str(), kFolderFlags);
    if (check < 0) {
      result = errno == ENOTDIR ? -ELOOP : -errno;
    } else {
      ::close(check);
    }
  }
  ::close(folder);
  return result;
}

int BackupRoot::Remove(std::string_view devicePath) const {
  std::string last;
  const int folder = ParentOf(devicePath, false, last);
  if (folder == -ENOENT) return 0;
  if (folder < 0) return folder;
  int result = 0;
  if (::unlinkat(folder, last.c_str(), 0) != 0) {
    if (errno == ENOENT) {
      result = 0;
    } else if (errno == EISDIR || errno == EPERM) {
      const int child = ::openat(folder, last.c_str(), kFolderFlags);
      if (child < 0) {
        result = -errno;
      } else {
        result = EmptyFolder(child);
        if (result == 0 && ::unlinkat(folder, last.c_str(), AT_REMOVEDIR) != 0) result = -errno;
      }
    } else {
      result = -errno;
    }
  }
  ::close(folder);
  return result;
}

}  // namespace tether
