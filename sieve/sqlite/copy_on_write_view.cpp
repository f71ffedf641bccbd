#include "sieve/sqlite/copy_on_write_view.h"

#include <algorithm>

#if __has_include(<sys/mman.h>) && __has_include(<unistd.h>)
#define SIEVE_HAS_MMAP 1
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace sieve::sqlite {

#ifdef SIEVE_HAS_MMAP

std::unique_ptr<CopyOnWriteView> CopyOnWriteView::Map(const std::string& path, std::size_t size,
                                                      std::size_t fileBytes) {
  const long systemPage = ::sysconf(_SC_PAGESIZE);
  if (size == 0 || systemPage <= 0) return nullptr;
  const auto unit = static_cast<std::size_t>(systemPage);
  const std::size_t reserved = (size + unit - 1) / unit * unit;
  // Anonymous memory reads as zeros and costs nothing until written.
  void* base = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  auto* data = static_cast<std::uint8_t*>(base);
  // Whole system pages of the file only: a partial one would bring file bytes past
  // `fileBytes` into the view, where zeros belong.
  const std::size_t mapped = std::min(fileBytes, size) / unit * unit;
  if (mapped > 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* file = fd < 0 ? MAP_FAILED
                        : ::mmap(data, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0);
    if (fd >= 0) ::close(fd);
    if (file == MAP_FAILED) {
      ::munmap(base, reserved);
      return nullptr;
    }
  }
  return std::unique_ptr<CopyOnWriteView>(new CopyOnWriteView(data, size, reserved, mapped));
}

CopyOnWriteView::~CopyOnWriteView() { ::munmap(data_, reserved_); }

void CopyOnWriteView::Seal() { ::mprotect(data_, reserved_, PROT_READ); }

#else

std::unique_ptr<CopyOnWriteView> CopyOnWriteView::Map(const std::string&, std::size_t, std::size_t) { return nullptr; }
CopyOnWriteView::~CopyOnWriteView() = default;
void CopyOnWriteView::Seal() {}

#endif

}  // namespace sieve::sqlite
