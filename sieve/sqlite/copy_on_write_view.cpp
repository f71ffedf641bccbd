#include "sieve/sqlite/copy_on_write_view.h"

#include <algorithm>
#include <cstring>

#if __has_include(<sys/mman.h>) && __has_include(<unistd.h>)
#define SIEVE_HAS_MMAP 1
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace sieve::sqlite {

#ifdef SIEVE_HAS_MMAP

std::unique_ptr<CopyOnWriteView> CopyOnWriteView::Map(const std::string& path, std::size_t size,
                                                      std::size_t fileBytes, const std::string& overlayFolder) {
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
  std::unique_ptr<CopyOnWriteView> view(new CopyOnWriteView(data, size, reserved, mapped));
  view->hasOverlay_ = !overlayFolder.empty() && view->overlay_.Create(overlayFolder);
  return view;
}

bool CopyOnWriteView::Place(std::size_t at, std::span<const std::uint8_t> bytes) {
  // Each placement not next to the one before is a mapping of its own, and a process may
  // hold only so many (65530 by default).
  constexpr std::size_t kMostMappings = 16384;
  // A log's pages come one by one, most in runs of neighbours: a write and a mapping for
  // each cost more than the carve's search of them. The run is gathered in a bounded buffer.
  constexpr std::size_t kMostRunBytes = 1 << 20;
  const auto unit = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  if (!hasOverlay_ || !overlay_.ok() || bytes.empty() || at % unit != 0 || bytes.size() % unit != 0 ||
      at + bytes.size() > reserved_) {
    return false;
  }
  if (run_.empty() || at != runAt_ + run_.size() || run_.size() + bytes.size() > kMostRunBytes) {
    Flush();
    const bool extends = at == placedEnd_ && mappings_ > 0;
    if (!hasOverlay_ || (!extends && mappings_ == kMostMappings)) return false;
    mappings_ += extends ? 0 : 1;
    runAt_ = at;
  }
  run_.insert(run_.end(), bytes.begin(), bytes.end());
  placedEnd_ = at + bytes.size();
  return true;
}

void CopyOnWriteView::Flush() {
  if (run_.empty()) return;
  const std::uint64_t offset = overlay_.Write(run_.data(), run_.size());
  void* placed = !overlay_.ok() ? MAP_FAILED
                                : ::mmap(data_ + runAt_, run_.size(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED,
                                         overlay_.fd(), static_cast<off_t>(offset));
  if (placed == MAP_FAILED) {
    // A failed fixed mapping may have taken the old one away: memory of its own, copied into.
    ::mmap(data_ + runAt_, run_.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    std::memcpy(data_ + runAt_, run_.data(), run_.size());
    hasOverlay_ = false;
  }
  run_.clear();
}

CopyOnWriteView::~CopyOnWriteView() { ::munmap(data_, reserved_); }

void CopyOnWriteView::Seal() {
  Flush();
  std::vector<std::uint8_t>().swap(run_);
  ::mprotect(data_, reserved_, PROT_READ);
}

#else

std::unique_ptr<CopyOnWriteView> CopyOnWriteView::Map(const std::string&, std::size_t, std::size_t, const std::string&) {
  return nullptr;
}
bool CopyOnWriteView::Place(std::size_t, std::span<const std::uint8_t>) { return false; }
void CopyOnWriteView::Flush() {}
CopyOnWriteView::~CopyOnWriteView() = default;
void CopyOnWriteView::Seal() {}

#endif

}  // namespace sieve::sqlite
