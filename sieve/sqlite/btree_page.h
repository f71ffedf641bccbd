// One b-tree page: its header, cell pointers, cells and freeblock chain, each checked
// against the page's usable size before any byte is read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sieve::sqlite {

enum PageType : std::uint8_t {
  kInteriorIndexPage = 2,
  kInteriorTablePage = 5,
  kLeafIndexPage = 10,
  kLeafTablePage = 13
};

bool IsBtreePageType(std::uint8_t type);

struct BtreePageHeader {
  std::uint8_t type = 0;
  std::uint32_t headerOffset = 0;  // 100 on page 1, else 0
  std::uint32_t firstFreeblock = 0;
  std::uint32_t cellCount = 0;
  std::uint32_t contentStart = 0;  // a stored 0 means 65536
  std::uint32_t rightChild = 0;    // interior pages only
  std::uint32_t cellPointersStart = 0;
  std::uint32_t cellPointersEnd = 0;  // first byte after the cell pointer array

  bool IsLeaf() const { return type == kLeafIndexPage || type == kLeafTablePage; }
};

// nullopt when the type byte is not a b-tree type or the header or its pointer array do not
// fit the page. `page` holds the page's usable bytes.
std::optional<BtreePageHeader> ReadBtreePageHeader(std::span<const std::uint8_t> page,
                                                   std::uint32_t headerOffset);

// Bytes of a payload that stay on the b-tree page; the rest goes to overflow pages.
std::uint32_t LocalPayloadSize(std::uint64_t payloadSize, std::uint32_t usableSize,
                               bool tableLeaf);

struct CellInfo {
  std::uint32_t offset = 0;         // cell start within the page
  std::uint32_t childPage = 0;      // interior cells
  std::uint64_t payloadSize = 0;    // leaf and index cells
  std::int64_t rowid = 0;           // table cells
  std::uint32_t payloadOffset = 0;  // within the page
  std::uint32_t localSize = 0;
  std::uint32_t overflowPage = 0;   // first overflow page, 0 when the payload is all local
  bool hasPayload = false;
};

// Cell i of the page; nullopt when its pointer or its bytes fall outside the page.
std::optional<CellInfo> ReadCell(std::span<const std::uint8_t> page, const BtreePageHeader& header,
                                 std::uint32_t index);

// Whether cell i may have a payload longer than its page holds (an overflow chain): its
// payload length alone, read without the rest of the cell. False only when ReadCell would
// give no cell or one without overflow pages; most cells of most files need no more.
bool CellMaySpill(std::span<const std::uint8_t> page, const BtreePageHeader& header, std::uint32_t index);

struct Freeblock {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// The freeblock chain in page order. The walk stops at the first entry that lies outside the
// content area, is smaller than its own 4-byte header, or does not lie after the previous one
// (which also ends cycles).
std::vector<Freeblock> ReadFreeblocks(std::span<const std::uint8_t> page,
                                      const BtreePageHeader& header);

}  // namespace sieve::sqlite
