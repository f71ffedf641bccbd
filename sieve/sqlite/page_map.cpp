#include "sieve/sqlite/page_map.h"

#include <algorithm>

#include "sieve/sqlite/btree_walk.h"
#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

namespace {

constexpr std::uint64_t kLockByteOffset = std::uint64_t{1} << 30;

void MarkSpecialPages(const PagedFile& file, std::vector<PageRole>& roles) {
  const std::uint32_t count = file.header.pageCount;
  const std::uint64_t lockPage = kLockByteOffset / file.header.pageSize + 1;
  if (lockPage <= count) roles[lockPage] = PageRole::kLockByte;
  for (std::uint32_t page = 2; page <= count; ++page) {
    if (roles[page] == PageRole::kUnclaimed && IsPointerMapPage(file.header, page)) roles[page] = PageRole::kPointerMap;
  }
}

}  // namespace

bool IsPointerMapPage(const DatabaseHeader& header, std::uint32_t page) {
  if (header.largestRootPage == 0 || page < 2) return false;
  // Each pointer-map page maps the usable/5 pages that follow it.
  const std::uint32_t stride = header.usableSize / 5 + 1;
  return (page - 2) % stride == 0;
}

std::uint32_t MaxTrunkLeaves(std::uint32_t usableSize) { return usableSize / 4 - 2; }

PageMap PageMap::Build(const PagedFile& file, const std::vector<std::uint32_t>& roots) {
  PageMap map;
  if (!file.Searchable()) return map;
  const std::uint32_t count = file.header.pageCount;
  map.roles_.assign(count + 1u, PageRole::kUnclaimed);
  map.rootOf_.assign(count + 1u, 0);
  std::uint32_t walking = 1;
  MarkSpecialPages(file, map.roles_);

  std::vector<bool> seen(count + 1u, false);
  for (std::uint32_t page = 1; page <= count; ++page) seen[page] = map.roles_[page] != PageRole::kUnclaimed;
  BtreeVisitor visitor;
  // Only cells with overflow chains claim pages: the others are passed over on their
  // payload length, not read whole (this walk holds up everything after it).
  visitor.onPage = [&](std::uint32_t page, const BtreePageHeader& header) {
    map.roles_[page] = PageRole::kBtree;
    map.rootOf_[page] = walking;
    const auto bytes = file.Page(page);
    for (std::uint32_t i = 0; i < header.cellCount; ++i) {
      if (!CellMaySpill(bytes, header, i)) continue;
      const auto cell = ReadCell(bytes, header, i);
      if (!cell || !cell->hasPayload) continue;
      for (const std::uint32_t overflow : OverflowPages(file, *cell)) {
        if (seen[overflow]) break;
        seen[overflow] = true;
        map.roles_[overflow] = PageRole::kOverflow;
      }
    }
  };
  map.damaged_ = !WalkBtree(file, 1, seen, visitor);
  for (const std::uint32_t root : roots) {
    walking = root;
    if (!WalkBtree(file, root, seen, visitor)) map.damaged_ = true;
  }

  const std::uint32_t maxLeaves = MaxTrunkLeaves(file.header.usableSize);
  std::uint32_t trunk = file.header.firstFreelistTrunk;
  while (file.HasPage(trunk) && map.roles_[trunk] == PageRole::kUnclaimed) {
    map.roles_[trunk] = PageRole::kFreelistTrunk;
    const std::uint8_t* data = file.Page(trunk).data();
    const std::uint32_t leaves = std::min(BigEndian32(data + 4), maxLeaves);
    map.trunkLeafCounts_[trunk] = leaves;
    for (std::uint32_t i = 0; i < leaves; ++i) {
      const std::uint32_t leaf = BigEndian32(data + 8 + 4 * i);
      if (file.HasPage(leaf) && map.roles_[leaf] == PageRole::kUnclaimed) {
        map.roles_[leaf] = PageRole::kFreelistLeaf;
      }
    }
    trunk = BigEndian32(data);
  }
  return map;
}

PageRole PageMap::Role(std::uint32_t page) const {
  return page < roles_.size() ? roles_[page] : PageRole::kUnclaimed;
}

std::uint32_t PageMap::TrunkLeafCount(std::uint32_t trunkPage) const {
  const auto found = trunkLeafCounts_.find(trunkPage);
  return found == trunkLeafCounts_.end() ? 0 : found->second;
}

}  // namespace sieve::sqlite
