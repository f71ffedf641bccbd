#include "sieve/sqlite/schema.h"

#include "sieve/sqlite/btree_walk.h"
#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

namespace {
// Schema statements are short; a longer "payload" means a lying cell.
constexpr std::size_t kMaxSchemaRecord = 4 << 20;
}  // namespace

std::vector<SchemaEntry> ReadSchema(const PagedFile& file) {
  std::vector<SchemaEntry> entries;
  if (!file.Searchable()) return entries;
  std::vector<bool> seen(file.header.pageCount + 1u, false);
  std::vector<std::uint8_t> payload;
  std::vector<Value> values;
  BtreeVisitor visitor;
  visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header,
                              const CellInfo& cell) {
    if (header.type != kLeafTablePage) return;
    if (!ReadPayload(file, page, cell, kMaxSchemaRecord, payload)) return;
    if (!DecodeRecord(payload.data(), payload.data() + payload.size(), values) ||
        values.size() < 5) {
      return;
    }
    const TextEncoding encoding = file.header.encoding;
    SchemaEntry entry;
    entry.type = ValueText(values[0], encoding);
    entry.name = ValueText(values[1], encoding);
    entry.tableName = ValueText(values[2], encoding);
    if (values[3].kind == ValueKind::kInteger && values[3].integer > 0 &&
        values[3].integer <= UINT32_MAX) {
      entry.rootPage = static_cast<std::uint32_t>(values[3].integer);
    }
    entry.sql = ValueText(values[4], encoding);
    entries.push_back(std::move(entry));
  };
  WalkBtree(file, 1, seen, visitor);
  return entries;
}

}  // namespace sieve::sqlite
