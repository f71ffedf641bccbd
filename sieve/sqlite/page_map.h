// What each page of a database file is used for, found by walking every b-tree from its
// root, the overflow chains of their cells, and the freelist.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

enum class PageRole : std::uint8_t {
  kUnclaimed,  // reached by nothing: left over, e.g. after an interrupted vacuum
  kBtree,
  kOverflow,
  kFreelistTrunk,
  kFreelistLeaf,
  kPointerMap,  // auto-vacuum bookkeeping
  kLockByte     // the page holding byte offset 2^30, never used for data
};

class PageMap {
 public:
  // roots: the root pages named in the schema; page 1 is always walked.
  static PageMap Build(const PagedFile& file, const std::vector<std::uint32_t>& roots);

  PageRole Role(std::uint32_t page) const;
  // The root of the b-tree a b-tree page belongs to; 0 for any other page.
  std::uint32_t RootOf(std::uint32_t page) const { return page < rootOf_.size() ? rootOf_[page] : 0; }
  // Number of leaf page numbers a trunk page lists (as far as it holds them).
  std::uint32_t TrunkLeafCount(std::uint32_t trunkPage) const;
  std::uint32_t PageCount() const { return roles_.empty() ? 0 : static_cast<std::uint32_t>(roles_.size() - 1); }
  // A b-tree led to a page the walk could not read: pages nothing claims may then be
  // live pages cut off from their tree rather than free ones.
  bool Damaged() const { return damaged_; }

 private:
  std::vector<PageRole> roles_;  // indexed by page number; entry 0 unused
  std::vector<std::uint32_t> rootOf_;
  std::unordered_map<std::uint32_t, std::uint32_t> trunkLeafCounts_;
  bool damaged_ = false;
};

// Whether `page` is a pointer-map page of an auto-vacuum file with this header: page 2 and
// every (usable / 5 + 1)th page after it. They never hold records, in any version.
bool IsPointerMapPage(const DatabaseHeader& header, std::uint32_t page);

// Leaf page numbers one trunk page can hold.
std::uint32_t MaxTrunkLeaves(std::uint32_t usableSize);

}  // namespace sieve::sqlite
