// Where deleted rows survive in a database file: the unallocated gap and the freeblocks of
// every b-tree page, whole freelist leaf pages, the unused tail of freelist trunk pages,
// and pages that belong to nothing at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

enum class RegionKind : std::uint8_t {
  kUnallocated,    // between a b-tree page's cell pointer array and its cell content
  kFreeblock,      // one entry of a b-tree page's freeblock chain (starts with its 4-byte header)
  kFreelistLeaf,   // a whole page on the freelist, old content kept
  kFreelistTrunk,  // the part of a freelist trunk page after its list of leaf pages
  kLostPage        // a page that no b-tree, overflow chain or freelist claims
};

struct FreeRegion {
  std::uint32_t page = 0;
  RegionKind kind = RegionKind::kUnallocated;
  std::size_t fileOffset = 0;  // first byte of the region in the file
  std::size_t length = 0;      // never reaches past the page's usable bytes
  bool oneFreeblock = false;   // one entry of a b-tree page's freeblock chain, whatever the page is now
};

// The regions of one page of a searchable file (a page HasPage accepts), in order.
void EnumeratePageRegions(const PagedFile& file, const PageMap& map, std::uint32_t page,
                          const std::function<void(const FreeRegion&)>& visit);

// Every region of the searchable pages, in page order; with `wanted`, of the pages it
// accepts only (the others are not read).
void EnumerateFreeRegions(const PagedFile& file, const PageMap& map,
                          const std::function<void(const FreeRegion&)>& visit,
                          const std::function<bool(std::uint32_t page)>& wanted = {});

}  // namespace sieve::sqlite
