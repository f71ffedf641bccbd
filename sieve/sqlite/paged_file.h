// A database file held in memory, addressed by 1-based page numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sieve/sqlite/database_header.h"

namespace sieve::sqlite {

struct PagedFile {
  std::span<const std::uint8_t> bytes;
  DatabaseHeader header;

  bool Searchable() const { return header.status == GeometryStatus::kOk; }
  bool HasPage(std::uint32_t page) const { return page >= 1 && page <= header.pageCount; }
  std::size_t PageOffset(std::uint32_t page) const {
    return static_cast<std::size_t>(page - 1) * header.pageSize;
  }
  // The usable bytes of a page (reserved tail excluded). Only for pages HasPage accepts.
  std::span<const std::uint8_t> Page(std::uint32_t page) const {
    return bytes.subspan(PageOffset(page), header.usableSize);
  }
  // Page 1 carries the 100-byte file header before its b-tree page header.
  static std::uint32_t BtreeHeaderOffset(std::uint32_t page) { return page == 1 ? 100 : 0; }
};

}  // namespace sieve::sqlite
