#include "sieve/sqlite/btree_walk.h"

#include <algorithm>
#include <unordered_set>

#include "sieve/sqlite/fetch_line.h"
#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

bool WalkBtree(const PagedFile& file, std::uint32_t root, std::vector<bool>& seen,
               const BtreeVisitor& visitor) {
  bool whole = true;
  std::vector<std::uint32_t> pending{root};
  while (!pending.empty()) {
    const std::uint32_t number = pending.back();
    pending.pop_back();
    // The next page's lines are fetched while this one is read: the tree's pages lie all
    // over the file, and a page read line by line waited on memory at each.
    if (!pending.empty() && file.HasPage(pending.back())) {
      constexpr std::size_t kMostBytes = 4096;
      const auto next = file.Page(pending.back());
      FetchLines(next.data(), next.data() + std::min(next.size(), kMostBytes));
    }
    if (!file.HasPage(number) || number >= seen.size()) {
      whole = false;
      continue;
    }
    if (seen[number]) continue;
    seen[number] = true;
    const auto page = file.Page(number);
    const auto header = ReadBtreePageHeader(page, PagedFile::BtreeHeaderOffset(number));
    if (!header) {
      whole = false;
      continue;
    }
    if (visitor.onPage) visitor.onPage(number, *header);
    // A leaf's cells lead nowhere: read only for a visitor that asks for them.
    if (header->IsLeaf() && !visitor.onPayloadCell) continue;
    for (std::uint32_t i = 0; i < header->cellCount; ++i) {
      const auto cell = ReadCell(page, *header, i);
      if (!cell) continue;
      if (!header->IsLeaf()) pending.push_back(cell->childPage);
      if (cell->hasPayload && visitor.onPayloadCell) visitor.onPayloadCell(number, *header, *cell);
    }
    if (!header->IsLeaf()) pending.push_back(header->rightChild);
  }
  return whole;
}

std::vector<std::uint32_t> OverflowPages(const PagedFile& file, const CellInfo& cell) {
  std::vector<std::uint32_t> pages;
  if (cell.overflowPage == 0 || cell.payloadSize <= cell.localSize) return pages;
  const std::uint32_t perPage = file.header.usableSize - 4;
  const std::uint64_t needed = std::min<std::uint64_t>(
      (cell.payloadSize - cell.localSize + perPage - 1) / perPage, file.header.pageCount);
  std::unordered_set<std::uint32_t> listed;
  std::uint32_t next = cell.overflowPage;
  while (pages.size() < needed && file.HasPage(next) && listed.insert(next).second) {
    pages.push_back(next);
    next = BigEndian32(file.Page(next).data());
  }
  return pages;
}

bool ReadPayload(const PagedFile& file, std::uint32_t page, const CellInfo& cell,
                 std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::uint64_t wanted = std::min<std::uint64_t>(cell.payloadSize, maxBytes);
  const auto local = file.Page(page).subspan(cell.payloadOffset,
                                             std::min<std::uint64_t>(cell.localSize, wanted));
  out.assign(local.begin(), local.end());
  if (out.size() >= wanted) return cell.payloadSize <= maxBytes;
  for (const std::uint32_t overflow : OverflowPages(file, cell)) {
    const auto content = file.Page(overflow).subspan(4);
    const auto take = std::min<std::uint64_t>(content.size(), wanted - out.size());
    out.insert(out.end(), content.begin(), content.begin() + static_cast<std::ptrdiff_t>(take));
    if (out.size() >= wanted) break;
  }
  return out.size() == cell.payloadSize;
}

}  // namespace sieve::sqlite
