// The current view of a database laid over a copy-on-write mapping of its main file: the
// pages a write-ahead log replaces are written over the mapping and only they take memory;
// the rest stay the page cache's. A gigabyte database then costs what its log changed, not a
// gigabyte; with a private folder for it, not even that: the replaced pages are written to an
// unnamed file there and mapped in its place, so they too are page cache the system may write
// back, not memory of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sieve/sqlite/spill_file.h"

namespace sieve::sqlite {

class CopyOnWriteView {
 public:
  // A writable view of `size` bytes whose start holds the first bytes of the file at `path`
  // (as many as Mapped() says, at most `fileBytes`); the rest reads as zeros. Null where the
  // file cannot be mapped or this system has no mapping: the caller then copies.
  static std::unique_ptr<CopyOnWriteView> Map(const std::string& path, std::size_t size, std::size_t fileBytes,
                                              const std::string& overlayFolder = {});
  ~CopyOnWriteView();
  CopyOnWriteView(const CopyOnWriteView&) = delete;
  CopyOnWriteView& operator=(const CopyOnWriteView&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  // Bytes at the start that came from the file (whole pages of the system's own size).
  std::size_t Mapped() const { return mapped_; }
  // Puts `bytes` at `at` through the overlay file; false where it cannot (no folder, a part
  // of a system page, too many places): the caller then copies them in. Placements next to
  // each other are gathered and written and mapped as one: Flush before reading them.
  bool Place(std::size_t at, std::span<const std::uint8_t> bytes);
  // Puts the gathered placements in the view (copied in where the overlay fails).
  void Flush();
  // Flushes and makes the view read-only once it is built.
  void Seal();

 private:
  CopyOnWriteView(std::uint8_t* data, std::size_t size, std::size_t reserved, std::size_t mapped)
      : data_(data), size_(size), reserved_(reserved), mapped_(mapped) {}

  std::uint8_t* data_;
  std::size_t size_;
  std::size_t reserved_;
  std::size_t mapped_;
  SpillFile overlay_;
  bool hasOverlay_ = false;
  std::size_t placedEnd_ = 0;  // where the last placement ended, to tell which extend a mapping
  std::size_t mappings_ = 0;
  std::size_t runAt_ = 0;  // where the gathered placements go
  std::vector<std::uint8_t> run_;
};

}  // namespace sieve::sqlite
