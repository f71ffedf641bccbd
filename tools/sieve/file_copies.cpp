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

std::string FileCopies::NewName(std::string_view hint, int& fd) {
  const std::string name = SafeCopyName(hint);
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  for (int n = 1; n < 100000; ++n) {
    const std::string path = folder_ + "/" + (n == 1 ? name : stem + "-" + std::to_string(n) + extension);
    // Exclusive: a file already in the folder, ours or not, is never overwritten.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return path;
    if (errno != EEXIST) break;
  }
  return {};
}

std::string FileCopies::Copy(const std::string& path, const OptionalFileKey& key, std::string_view hint) {
  if (const auto made = made_.find(path); made != made_.end()) return made->second;
  const std::string privateFolder = reader_.PrivateFolder(index_);
  const bool stored = Inside(path, backupFolder_);
  // Ciphertext without its key cannot be copied as the file; device paths are not files here.
  const bool usable = key.has_value() ? stored : (stored && !encrypted_) || Inside(path, privateFolder);
  if (folder_.empty() || !usable || failedSources_.count(path) != 0) return {};
  int fd = -1;
  std::string copy = NewName(hint.empty() ? std::string_view(LastPart(path)) : hint, fd);
  bool ok = !copy.empty();
  if (ok && key) {
    ::close(fd);
    fd = -1;
    ok = reader_.DecrpytFile(index_, path.c_str(), copy.c_str(), key->data()) == 1;
  } else if (ok) {
    ok = CopyPlain(path, fd);
  }
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (!ok) {
    if (!copy.empty()) ::unlink(copy.c_str());
    Warn("cannot copy " + Printable(LastPart(path)) + " into " + Printable(folder_));
    failedSources_.insert(path);
    ++failed_;
    return {};
  }
  Detail("copied " + Printable(LastPart(path)) + " to " + Printable(copy));
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
