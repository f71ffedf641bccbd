// A file mapped read-only into memory: the carve reads databases of gigabytes
// through the page cache instead of copying them onto the heap.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sieve::cli {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the whole file; false with `error` set when it cannot be opened or
  // mapped. An empty file maps to no bytes.
  bool Open(const std::string& path, std::string& error);
  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace sieve::cli
