#include "tools/sieve/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sieve::cli {

MappedFile::~MappedFile() {
  if (size_ > 0) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

bool MappedFile::Open(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
    ::close(fd);
    return false;
  }
  size_ = static_cast<std::size_t>(info.st_size);
  if (size_ > 0) {
    void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
      error = std::strerror(errno);
      size_ = 0;
      ::close(fd);
      return false;
    }
    // Pages are read once, front to back.
    ::madvise(mapped, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const std::uint8_t*>(mapped);
  }
  ::close(fd);
  return true;
}

}  // namespace sieve::cli
