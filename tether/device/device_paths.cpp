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

// Copies the entry `name` of folder `from` to `to`/`toName` without following links
// (a link is skipped); folders with everything in them, up to a depth no backup has
// (a device could nest folders by moving them into each other).
int CopyEntry(int from, const char* name, int to, const char* toName, std::size_t depth = 0) {
  if (depth > 4 * kMaxParts) return -ELOOP;
  struct stat st {};
  if (::fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -errno;
  if (S_ISDIR(st.st_mode)) {
    if (::mkdirat(to, toName, 0700) != 0 && errno != EEXIST) return -errno;
    const int source = ::openat(from, name, kFolderFlags);
    if (source < 0) return -errno;
    const int target = ::openat(to, toName, kFolderFlags);
    if (target < 0) {
      const int error = errno;
      ::close(source);
      return error == ENOTDIR ? -ELOOP : -error;
    }
    DIR* dir = ::fdopendir(source);
    if (dir == nullptr) {
      const int error = errno;
      ::close(source);
      ::close(target);
      return -error;
    }
    int result = 0;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string child = entry->d_name;
      if (child == "." || child == "..") continue;
      const int copied = CopyEntry(::dirfd(dir), child.c_str(), target, child.c_str(), depth + 1);
      if (copied != 0) result = copied;
    }
    ::closedir(dir);
    ::close(target);
    return result;
  }
  if (!S_ISREG(st.st_mode)) return 0;
  const int in = ::openat(from, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return -errno;
  const int out = ::openat(to, toName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return -error;
  }
  int result = 0;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) result = -errno;
      break;
    }
    for (ssize_t done = 0; done < got && result == 0;) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) result = -errno;
      else done += put;
    }
    if (result != 0) break;
  }
  ::close(in);
  if (::close(out) != 0 && result == 0) result = -errno;
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

int EmptyBackupFolder(const std::string& folder) {
  if (folder.empty()) return -EINVAL;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -errno;
  const int fd = ::open(folder.c_str(), kFolderFlags);
  if (fd < 0) return errno == ENOTDIR ? -ELOOP : -errno;
  return EmptyFolder(fd);
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

int BackupRoot::OpenExisting(std::string_view devicePath, int flags) const {
  std::string last;
  const int folder = ParentOf(devicePath, false, last);
  if (folder < 0) return folder;
  const int fd = ::openat(folder, last.c_str(), (flags & ~O_CREAT) | O_NOFOLLOW | O_CLOEXEC);
  const int error = errno;
  ::close(folder);
  return fd >= 0 ? fd : -error;
}

int BackupRoot::OpenFolder(std::string_view devicePath) const {
  if (devicePath.empty() || devicePath == ".") {
    if (fd_ < 0) return -EBADF;
    const int fd = ::openat(fd_, ".", kFolderFlags);
    return fd >= 0 ? fd : -errno;
  }
  const int fd = OpenExisting(devicePath, kFolderFlags);
  return fd == -ENOTDIR ? -ELOOP : fd;
}

int BackupRoot::Replace(std::string_view from, std::string_view to, EntryWork work) const {
  std::string fromName;
  std::string toName;
  const int fromFolder = ParentOf(from, false, fromName);
  if (fromFolder < 0) return fromFolder;
  // Something in the way would make the work fail; the device means to replace it.
  int result = Remove(to);
  const int toFolder = result == 0 ? ParentOf(to, true, toName) : result;
  if (toFolder < 0) {
    ::close(fromFolder);
    return toFolder;
  }
  result = work(fromFolder, fromName.c_str(), toFolder, toName.c_str());
  ::close(fromFolder);
  ::close(toFolder);
  return result;
}

int BackupRoot::Rename(std::string_view from, std::string_view to) const {
  return Replace(from, to, [](int fromFolder, const char* fromName, int toFolder, const char* toName) {
    return ::renameat(fromFolder, fromName, toFolder, toName) == 0 ? 0 : -errno;
  });
}

int BackupRoot::Copy(std::string_view from, std::string_view to) const {
  return Replace(from, to, [](int fromFolder, const char* fromName, int toFolder, const char* toName) {
    return CopyEntry(fromFolder, fromName, toFolder, toName);
  });
}

}  // namespace tether
