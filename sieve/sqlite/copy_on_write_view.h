// The current view of a database laid over a copy-on-write mapping of its main file: the
// pages a write-ahead log replaces are written over the mapping and only they take memory;
// the rest stay the page cache's. A gigabyte database then costs what its log changed, not a
// gigabyte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sieve::sqlite {

class CopyOnWriteView {
 public:
  // A writable view of `size` bytes whose start holds the first bytes of the file at `path`
  // (as many as Mapped() says, at most `fileBytes`); the rest reads as zeros. Null where the
  // file cannot be mapped or this system has no mapping: the caller then copies.
  static std::unique_ptr<CopyOnWriteView> Map(const std::string& path, std::size_t size, std::size_t fileBytes);
  ~CopyOnWriteView();
  CopyOnWriteView(const CopyOnWriteView&) = delete;
  CopyOnWriteView& operator=(const CopyOnWriteView&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  // Bytes at the start that came from the file (whole pages of the system's own size).
  std::size_t Mapped() const { return mapped_; }
  // Makes the view read-only once it is built.
  void Seal();

 private:
  CopyOnWriteView(std::uint8_t* data, std::size_t size, std::size_t reserved, std::size_t mapped)
      : data_(data), size_(size), reserved_(reserved), mapped_(mapped) {}

  std::uint8_t* data_;
  std::size_t size_;
  std::size_t reserved_;
  std::size_t mapped_;
};

}  // namespace sieve::sqlite
