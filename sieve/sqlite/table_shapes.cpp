#include "sieve/sqlite/table_shapes.h"

#include <algorithm>

#include "sieve/reader/text.h"

namespace sieve::sqlite {

namespace {

bool SameName(std::string_view a, std::string_view b) { return ToLowerAscii(a) == ToLowerAscii(b); }

void AddColumn(TableShape& table, const TableColumn& column) {
  RecordShape& shape = table.shape;
  if (column.rowidAlias) shape.rowidAliasColumn = static_cast<int>(shape.columns.size());
  shape.columns.push_back(column.rowidAlias ? std::uint8_t{kNull} : KindsForDeclaredType(column.declaredType));
  table.columnNames.push_back(column.name);
}

TableShape SchemaTableShape() {
  TableShape table;
  table.name = std::string(kSchemaTableName);
  table.rootPage = 1;
  table.columnNames = {"type", "name", "tbl_name", "rootpage", "sql"};
  table.shape.columns = {kText, kText, kText, kNull | kInteger, kNull | kText};
  // "table", "index", "view", "trigger": texts of 5, 5, 4 and 7 bytes.
  table.shape.firstColumnTypes = {13 + 2 * 5, 13 + 2 * 4, 13 + 2 * 7};
  return table;
}

}  // namespace

TableShape ShapeOfDefinition(std::string name, const TableDefinition& definition) {
  TableShape table;
  table.name = std::move(name);
  table.shape.indexCell = definition.withoutRowid;
  if (!definition.withoutRowid) {
    for (const TableColumn& column : definition.columns) {
      if (column.stored) AddColumn(table, column);
    }
    return table;
  }
  std::vector<bool> placed(definition.columns.size(), false);
  for (const std::string& key : definition.primaryKey) {
    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
      if (!placed[i] && SameName(definition.columns[i].name, key)) {
        AddColumn(table, definition.columns[i]);
        placed[i] = true;
      }
    }
  }
  for (std::size_t i = 0; i < definition.columns.size(); ++i) {
    if (!placed[i] && definition.columns[i].stored) AddColumn(table, definition.columns[i]);
  }
  return table;
}

std::vector<TableShape> SchemaTableShapes(const std::vector<SchemaEntry>& schema) {
  std::vector<TableShape> shapes{SchemaTableShape()};
  for (const SchemaEntry& entry : schema) {
    if (entry.type != "table" || entry.rootPage == 0) continue;
    const auto definition = ParseCreateTable(entry.sql);
    if (!definition) continue;
    TableShape table = ShapeOfDefinition(entry.name, *definition);
    table.rootPage = entry.rootPage;
    shapes.push_back(std::move(table));
  }
  return shapes;
}

bool AddDroppedTable(std::vector<TableShape>& shapes, const std::vector<Value>& record,
                     TextEncoding encoding) {
  if (record.size() < 5 || record[0].kind != ValueKind::kText || record[1].kind != ValueKind::kText ||
      record[4].kind != ValueKind::kText || record[4].truncated) {
    return false;
  }
  if (ValueText(record[0], encoding) != "table") return false;
  std::string name = ValueText(record[1], encoding);
  const auto known = std::find_if(shapes.begin(), shapes.end(),
                                  [&](const TableShape& shape) { return SameName(shape.name, name); });
  if (known != shapes.end()) return false;
  const auto definition = ParseCreateTable(ValueText(record[4], encoding));
  if (!definition) return false;
  TableShape table = ShapeOfDefinition(std::move(name), *definition);
  table.dropped = true;
  shapes.push_back(std::move(table));
  return true;
}

}  // namespace sieve::sqlite
