// Walking a b-tree from its root page, and reading a cell's whole payload across its
// overflow pages. Both visit each page at most once, so hostile cycles end.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sieve/sqlite/btree_page.h"
#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

struct BtreeVisitor {
  std::function<void(std::uint32_t page, const BtreePageHeader&)> onPage;
  // Cells of leaf pages and of interior index pages (the ones that carry payloads).
  std::function<void(std::uint32_t page, const BtreePageHeader&, const CellInfo&)> onPayloadCell;
};

// Visits every page reachable from root that `seen` has not marked yet, marking each one.
// `seen` is indexed by page number and must hold pageCount + 1 entries. False when the walk
// was led to a page it could not read as one of the tree's (past the end, or no b-tree
// header): the tree goes on somewhere the walk cannot follow.
bool WalkBtree(const PagedFile& file, std::uint32_t root, std::vector<bool>& seen,
               const BtreeVisitor& visitor);

// The overflow page numbers a cell's payload continues on, in order. The list ends early at
// a page number out of range or already listed.
std::vector<std::uint32_t> OverflowPages(const PagedFile& file, const CellInfo& cell);

// The cell's payload, local part followed by the overflow pages' parts, at most maxBytes.
// Returns false when the chain breaks before the payload is complete; `out` then holds what
// was read.
bool ReadPayload(const PagedFile& file, std::uint32_t page, const CellInfo& cell,
                 std::size_t maxBytes, std::vector<std::uint8_t>& out);

}  // namespace sieve::sqlite
