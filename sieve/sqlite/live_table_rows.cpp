#include "sieve/sqlite/live_table_rows.h"

#include "sieve/sqlite/btree_walk.h"

namespace sieve::sqlite {

void ForEachLiveTableRow(const PagedFile& file, std::uint32_t root, int rowidAliasColumn,
                         const std::function<void(std::int64_t, const std::vector<Value>&)>& visit) {
  if (root == 0 || !file.Searchable()) return;
  std::vector<bool> seen(file.header.pageCount + 1u, false);
  std::vector<std::uint8_t> payload;
  std::vector<Value> values;
  BtreeVisitor visitor;
  visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
    if (header.type != kLeafTablePage) return;
    const bool complete = ReadPayload(file, page, cell, file.bytes.size(), payload);
    if (!DecodeRecord(payload.data(), payload.data() + payload.size(), values, !complete)) return;
    if (rowidAliasColumn >= 0 && static_cast<std::size_t>(rowidAliasColumn) < values.size()) {
      values[static_cast<std::size_t>(rowidAliasColumn)].kind = ValueKind::kInteger;
      values[static_cast<std::size_t>(rowidAliasColumn)].integer = cell.rowid;
    }
    visit(cell.rowid, values);
  };
  WalkBtree(file, root, seen, visitor);
}

}  // namespace sieve::sqlite
