#include "sieve/sqlite/free_space.h"

#include <algorithm>

#include "sieve/sqlite/btree_page.h"

namespace sieve::sqlite {

namespace {

void VisitBtreePage(const PagedFile& file, std::uint32_t number,
                    const std::function<void(const FreeRegion&)>& visit) {
  const auto page = file.Page(number);
  const auto header = ReadBtreePageHeader(page, PagedFile::BtreeHeaderOffset(number));
  if (!header) return;
  const std::size_t base = file.PageOffset(number);
  const std::uint32_t gapEnd = std::min<std::uint32_t>(header->contentStart,
                                                       static_cast<std::uint32_t>(page.size()));
  if (gapEnd > header->cellPointersEnd) {
    visit({number, RegionKind::kUnallocated, base + header->cellPointersEnd,
           gapEnd - header->cellPointersEnd});
  }
  for (const Freeblock& block : ReadFreeblocks(page, *header)) {
    visit({number, RegionKind::kFreeblock, base + block.offset, block.size, true});
  }
}

}  // namespace

void EnumeratePageRegions(const PagedFile& file, const PageMap& map, std::uint32_t number,
                          const std::function<void(const FreeRegion&)>& visit) {
  const std::size_t usable = file.header.usableSize;
  const std::size_t base = file.PageOffset(number);
  switch (map.Role(number)) {
    case PageRole::kBtree:
      VisitBtreePage(file, number, visit);
      break;
    case PageRole::kFreelistLeaf:
      visit({number, RegionKind::kFreelistLeaf, base, usable});
      break;
    case PageRole::kFreelistTrunk: {
      const std::size_t listEnd = 8 + 4 * static_cast<std::size_t>(map.TrunkLeafCount(number));
      if (listEnd < usable) visit({number, RegionKind::kFreelistTrunk, base + listEnd, usable - listEnd});
      break;
    }
    case PageRole::kUnclaimed:
      if (number != 1) visit({number, RegionKind::kLostPage, base, usable});
      break;
    case PageRole::kOverflow:
    case PageRole::kPointerMap:
    case PageRole::kLockByte:
      break;
  }
}

void EnumerateFreeRegions(const PagedFile& file, const PageMap& map,
                          const std::function<void(const FreeRegion&)>& visit,
                          const std::function<bool(std::uint32_t page)>& wanted) {
  if (!file.Searchable()) return;
  for (std::uint32_t number = 1; number <= map.PageCount(); ++number) {
    if (wanted && !wanted(number)) continue;
    EnumeratePageRegions(file, map, number, visit);
  }
}

}  // namespace sieve::sqlite
