#include "sieve/sqlite/live_rows.h"

#include <algorithm>
#include <cstring>

#include "sieve/sqlite/btree_walk.h"

namespace sieve::sqlite {

namespace {

// A multiply-xorshift mix over 8-byte words: the fingerprints cover every live row and every
// carved record, so a byte-at-a-time hash would cost more than the carving.
constexpr std::uint64_t kMul = 0x9e3779b97f4a7c15ull;

inline std::uint64_t Step(std::uint64_t h, std::uint64_t word) {
  h = (h ^ word) * kMul;
  return h ^ (h >> 32);
}

std::uint64_t Mix(std::uint64_t h, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (; size >= 8; p += 8, size -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = Step(h, word);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, p, size);
  return Step(h, tail ^ (std::uint64_t{size} << 56));
}

std::uint64_t MixValue(std::uint64_t h, const Value& value) {
  h = Step(h, static_cast<std::uint64_t>(value.kind) | (value.truncated ? 0x100u : 0u));
  switch (value.kind) {
    case ValueKind::kNull: return h;
    case ValueKind::kInteger: return Step(h, static_cast<std::uint64_t>(value.integer));
    case ValueKind::kReal: {
      std::uint64_t bits;
      std::memcpy(&bits, &value.real, 8);
      return Step(h, bits);
    }
    case ValueKind::kText:
    case ValueKind::kBlob: return Mix(Step(h, value.bytes.size()), value.bytes.data(), value.bytes.size());
  }
  return h;
}

}  // namespace

std::uint64_t RowFingerprint(const std::vector<Value>& values, std::size_t columns, int skipColumn,
                             bool skipFirst, const std::int64_t* rowid) {
  std::uint64_t h = rowid ? Step(0x243f6a8885a308d3ull, static_cast<std::uint64_t>(*rowid)) : 0x13198a2e03707344ull;
  const Value null;
  for (std::size_t column = skipFirst ? 1 : 0; column < columns; ++column) {
    if (static_cast<int>(column) == skipColumn) continue;
    h = MixValue(h, column < values.size() ? values[column] : null);
  }
  return h;
}

LiveRows LiveRows::Build(const PagedFile& file, const std::vector<TableShape>& tables) {
  LiveRows live;
  live.tables_.resize(tables.size());
  if (!file.Searchable()) return live;
  std::vector<std::uint8_t> payload;
  std::vector<Value> values;
  for (std::size_t index = 0; index < tables.size(); ++index) {
    const TableShape& table = tables[index];
    if (table.rootPage == 0 || !file.HasPage(table.rootPage)) continue;
    Table& keys = live.tables_[index];
    const std::size_t columns = table.shape.columns.size();
    const int alias = table.shape.rowidAliasColumn;
    const bool indexCells = table.shape.indexCell;
    std::vector<bool> seen(file.header.pageCount + 1u, false);
    BtreeVisitor visitor;
    visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
      if (indexCells ? header.type == kLeafTablePage : header.type != kLeafTablePage) return;
      const bool complete = ReadPayload(file, page, cell, file.bytes.size(), payload);
      if (!DecodeRecord(payload.data(), payload.data() + payload.size(), values, !complete)) return;
      if (alias >= 0 && static_cast<std::size_t>(alias) < values.size()) {
        values[static_cast<std::size_t>(alias)].kind = ValueKind::kInteger;
        values[static_cast<std::size_t>(alias)].integer = cell.rowid;
      }
      ++live.rows_;
      if (!indexCells) keys.withRowid.Insert(RowFingerprint(values, columns, -1, false, &cell.rowid));
      keys.withoutRowid.Insert(RowFingerprint(values, columns, alias, false, nullptr));
      keys.withoutFirst.Insert(RowFingerprint(values, columns, alias, true, nullptr));
      if (cell.overflowPage == 0) return;
      // What a carver sees of this row should a stale copy of its cell lie in free space.
      const std::uint8_t* local = file.Page(page).data() + cell.payloadOffset;
      if (!DecodeRecord(local, local + cell.localSize, values, true)) return;
      keys.cut.Insert(RowFingerprint(values, columns, alias, false, nullptr));
      keys.cutWithoutFirst.Insert(RowFingerprint(values, columns, alias, true, nullptr));
    };
    WalkBtree(file, table.rootPage, seen, visitor);
  }
  return live;
}

bool LiveRows::IsLive(std::size_t table, const CarvedRecord& record, int alias) const {
  if (table >= tables_.size()) return false;
  const Table& keys = tables_[table];
  const std::size_t columns = record.values.size();
  const bool lostFirst = record.lostLeadingColumns > 0;
  if (record.truncated) {
    return (lostFirst ? keys.cutWithoutFirst : keys.cut).Contains(
                    RowFingerprint(record.values, columns, alias, lostFirst, nullptr));
  }
  if (lostFirst) return keys.withoutFirst.Contains(RowFingerprint(record.values, columns, alias, true, nullptr));
  if (record.rowid >= 0 && !keys.withRowid.empty()) {
    return keys.withRowid.Contains(RowFingerprint(record.values, columns, -1, false, &record.rowid));
  }
  return keys.withoutRowid.Contains(RowFingerprint(record.values, columns, alias, false, nullptr));
}

}  // namespace sieve::sqlite
