#include "sieve/sqlite/btree_page.h"

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

bool IsBtreePageType(std::uint8_t type) {
  return type == kInteriorIndexPage || type == kInteriorTablePage || type == kLeafIndexPage ||
         type == kLeafTablePage;
}

std::optional<BtreePageHeader> ReadBtreePageHeader(std::span<const std::uint8_t> page,
                                                   std::uint32_t headerOffset) {
  if (page.size() < headerOffset + 8u) return std::nullopt;
  const std::uint8_t* h = page.data() + headerOffset;
  if (!IsBtreePageType(h[0])) return std::nullopt;
  BtreePageHeader header;
  header.type = h[0];
  header.headerOffset = headerOffset;
  header.firstFreeblock = BigEndian16(h + 1);
  header.cellCount = BigEndian16(h + 3);
  const std::uint32_t start = BigEndian16(h + 5);
  header.contentStart = start == 0 ? 65536 : start;
  const std::uint32_t headerSize = header.IsLeaf() ? 8 : 12;
  if (page.size() < headerOffset + headerSize) return std::nullopt;
  if (!header.IsLeaf()) header.rightChild = BigEndian32(h + 8);
  header.cellPointersStart = headerOffset + headerSize;
  header.cellPointersEnd = header.cellPointersStart + 2 * header.cellCount;
  if (header.cellPointersEnd > page.size()) return std::nullopt;
  return header;
}

std::uint32_t LocalPayloadSize(std::uint64_t payloadSize, std::uint32_t usableSize,
                               bool tableLeaf) {
  const std::uint64_t maxLocal = tableLeaf ? usableSize - 35 : (usableSize - 12) * 64 / 255 - 23;
  if (payloadSize <= maxLocal) return static_cast<std::uint32_t>(payloadSize);
  const std::uint64_t minLocal = (usableSize - 12) * 32 / 255 - 23;
  const std::uint64_t k = minLocal + (payloadSize - minLocal) % (usableSize - 4);
  return static_cast<std::uint32_t>(k <= maxLocal ? k : minLocal);
}

std::optional<CellInfo> ReadCell(std::span<const std::uint8_t> page, const BtreePageHeader& header,
                                 std::uint32_t index) {
  if (index >= header.cellCount) return std::nullopt;
  const std::uint32_t pointer = header.cellPointersStart + 2 * index;
  CellInfo cell;
  cell.offset = BigEndian16(page.data() + pointer);
  if (cell.offset < header.cellPointersEnd || cell.offset >= page.size()) return std::nullopt;
  const std::uint8_t* p = page.data() + cell.offset;
  const std::uint8_t* end = page.data() + page.size();

  if (!header.IsLeaf()) {
    if (end - p < 4) return std::nullopt;
    cell.childPage = BigEndian32(p);
    p += 4;
  }
  if (header.type == kInteriorTablePage) {
    const Varint rowid = ReadVarint(p, end);
    if (rowid.length == 0) return std::nullopt;
    cell.rowid = static_cast<std::int64_t>(rowid.value);
    return cell;
  }
  const Varint payload = ReadVarint(p, end);
  if (payload.length == 0) return std::nullopt;
  p += payload.length;
  if (header.type == kLeafTablePage) {
    const Varint rowid = ReadVarint(p, end);
    if (rowid.length == 0) return std::nullopt;
    cell.rowid = static_cast<std::int64_t>(rowid.value);
    p += rowid.length;
  }
  const auto usable = static_cast<std::uint32_t>(page.size());
  cell.hasPayload = true;
  cell.payloadSize = payload.value;
  cell.payloadOffset = static_cast<std::uint32_t>(p - page.data());
  cell.localSize = LocalPayloadSize(payload.value, usable, header.type == kLeafTablePage);
  const bool spills = cell.localSize < payload.value;
  const std::uint64_t needed = cell.localSize + (spills ? 4u : 0u);
  if (needed > static_cast<std::uint64_t>(end - p)) return std::nullopt;
  if (spills) cell.overflowPage = BigEndian32(p + cell.localSize);
  return cell;
}

bool CellMaySpill(std::span<const std::uint8_t> page, const BtreePageHeader& header, std::uint32_t index) {
  if (index >= header.cellCount || header.type == kInteriorTablePage) return false;
  const std::uint32_t offset = BigEndian16(page.data() + header.cellPointersStart + 2 * index);
  if (offset < header.cellPointersEnd || offset >= page.size()) return false;
  const std::uint8_t* p = page.data() + offset + (header.IsLeaf() ? 0 : 4);
  const std::uint8_t* end = page.data() + page.size();
  if (p >= end) return false;
  const Varint payload = ReadVarint(p, end);
  const auto usable = static_cast<std::uint32_t>(page.size());
  return payload.length != 0 && LocalPayloadSize(payload.value, usable, header.type == kLeafTablePage) < payload.value;
}

std::vector<Freeblock> ReadFreeblocks(std::span<const std::uint8_t> page,
                                      const BtreePageHeader& header) {
  std::vector<Freeblock> blocks;
  const auto usable = static_cast<std::uint32_t>(page.size());
  std::uint32_t offset = header.firstFreeblock;
  std::uint32_t minOffset = header.cellPointersEnd;
  while (offset != 0) {
    if (offset < minOffset || offset + 4 > usable) break;
    const std::uint32_t next = BigEndian16(page.data() + offset);
    const std::uint32_t size = BigEndian16(page.data() + offset + 2);
    if (size < 4 || offset + size > usable) break;
    blocks.push_back({offset, size});
    minOffset = offset + size;
    offset = next;
  }
  return blocks;
}

}  // namespace sieve::sqlite
