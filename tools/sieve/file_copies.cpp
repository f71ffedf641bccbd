#include "tools/sieve/file_copies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/sieve/file_output.h"
#include "tools/sieve/text_output.h"
#include "tools/sieve/utf8.h"

namespace sieve::cli {
namespace {

bool Inside(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

std::string LastPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies a plain file that the reader vouched for, refusing anything but a regular file.
bool CopyPlain(const std::string& from, int to) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (source < 0) return false;
  struct stat st {};
  bool ok = ::fstat(source, &st) == 0 && S_ISREG(st.st_mode);
  ok = ok && CopyAll(source, to);
  ::close(source);
  return ok;
}

}  // namespace

std::string SafeCopyName(std::string_view hint) {
  std::string name;
  for (std::size_t i = 0; i < hint.size() && name.size() < 200;) {
    const unsigned char c = static_cast<unsigned char>(hint[i]);
    if (c < 0x80) {
      name += (c < 0x20 || c == 0x7F || c == '/' || c == '\\') ? '_' : static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(hint, i);
    if (length == 0 || name.size() + length > 200) break;
    name.append(hint.substr(i, length));
    i += length;
  }
  while (!name.empty() && name.front() == '.') name.erase(0, 1);
  return name.empty() ? "file" : name;
}

FileCopies::FileCopies(CItunesBackupReader& reader, int index, std::string folder)
    : reader_(reader),
      index_(index),
      folder_(std::move(folder)),
      backupFolder_(reader.BackupFolder(index)),
      encrypted_(reader.GetIsEncrypt(index) != 0) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  while (backupFolder_.size() > 1 && backupFolder_.back() == '/') backupFolder_.pop_back();
}

void FileCopies::Prepare() const {
  if (!folder_.empty()) EnsureOutputFolder(folder_);
}

std::string FileCopies::PlaceUnder(const std::string& temporary, std::string_view hint, int& error) {
  const std::string name = SafeCopyName(hint);
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  for (int n = 1; n < 100000; ++n) {
    const std::string path = folder_ + "/" + (n == 1 ? name : stem + "-" + std::to_string(n) + extension);
    // A link never overwrites: a file already in the folder, ours or not, stays.
    if (::link(temporary.c_str(), path.c_str()) == 0) return path;
    if (errno != EEXIST) break;
  }
  error = errno;
  return {};
}

std::string FileCopies::Copy(const std::string& path, const OptionalFileKey& key, std::string_view hint) {
  if (const auto made = made_.find(path); made != made_.end()) return made->second;
  const std::string privateFolder = reader_.PrivateFolder(index_);
  const bool stored = Inside(path, backupFolder_);
  // Ciphertext without its key cannot be copied as the file; device paths are not files here.
  const bool usable = key.has_value() ? stored : (stored && !encrypted_) || Inside(path, privateFolder);
  if (folder_.empty() || !usable || failedSources_.count(path) != 0) return {};
  const std::string name = hint.empty() ? LastPart(path) : std::string(hint);
  // Written under a temporary name and linked to its own name only when complete, so that a
  // full disk, an error or a signal never leaves a part of a file that looks like the whole.
  int fd = -1;
  PrivatePath partial;
  std::string error;
  const std::string temporary = TemporaryBeside(folder_ + "/copy", fd, partial, error);
  bool ok = !temporary.empty();
  if (ok && key) {
    ::close(fd);
    fd = -1;
    ok = reader_.DecrpytFile(index_, path.c_str(), temporary.c_str(), key->data()) == 1;
  } else if (ok) {
    errno = 0;
    ok = CopyPlain(path, fd);
    if (!ok && errno != 0) error = std::strerror(errno);
  }
  if (fd >= 0 && ::close(fd) != 0) {
    if (ok) error = std::strerror(errno);
    ok = false;
  }
  std::string copy;
  if (ok) {
    int placeError = 0;
    copy = PlaceUnder(temporary, name, placeError);
    if (copy.empty()) error = std::strerror(placeError);
  }
  if (!temporary.empty()) ::unlink(temporary.c_str());
  if (copy.empty()) {
    Warn("cannot copy " + Printable(name) + " into " + Printable(folder_) + (error.empty() ? "" : ": " + error));
    failedSources_.insert(path);
    ++failed_;
    return {};
  }
  Detail("copied " + Printable(name) + " to " + Printable(copy));
  made_.emplace(path, copy);
  return copy;
}

void FileCopies::Write(JsonWriter& json, std::string_view name, const std::string& path, const OptionalFileKey& key,
                       std::string_view hint, std::string_view storedName) {
  if (path.empty()) return;
  if (const std::string copy = Copy(path, key, hint); !copy.empty()) json.Field(name, copy);
  if (!storedName.empty() && !encrypted_ && Inside(path, backupFolder_)) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    json.Field(storedName, ec ? path : absolute.string());
  }
}

}  // namespace sieve::cli
