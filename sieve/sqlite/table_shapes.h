// The record shape of every table of a database, taken from its schema. Facts relied on:
// - a rowid table's row is a table-leaf cell (payload length, rowid, record); an INTEGER
//   PRIMARY KEY column is the rowid and its record field is stored as NULL;
// - a WITHOUT ROWID table's row is an index-leaf cell (payload length, record) whose record
//   holds the PRIMARY KEY columns first, then the other columns in table order;
// - declared types give the column affinity, which limits the serial types a column holds;
// - sqlite_master itself is a rowid table of five columns (type, name, tbl_name, rootpage,
//   sql), so the schema records of dropped tables survive in free space like any row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/schema.h"
#include "sieve/sqlite/table_definition.h"

namespace sieve::sqlite {

struct TableShape {
  std::string name;
  std::uint32_t rootPage = 0;  // 0 for a dropped table
  bool dropped = false;        // known only from a schema record found in free space
  std::vector<std::string> columnNames;  // stored columns, in record order
  RecordShape shape;
};

// The shape of a parsed CREATE TABLE: stored columns in record order, kinds by affinity.
TableShape ShapeOfDefinition(std::string name, const TableDefinition& definition);

// sqlite_master and every table of the schema whose CREATE TABLE parses.
std::vector<TableShape> SchemaTableShapes(const std::vector<SchemaEntry>& schema);

// Adds the tables named by carved sqlite_master records (type, name, tbl_name, rootpage,
// sql) that the live schema no longer has. Returns true when one was added.
bool AddDroppedTable(std::vector<TableShape>& shapes, const std::vector<Value>& schemaRecord,
                     TextEncoding encoding);

inline constexpr std::string_view kSchemaTableName = "sqlite_master";

}  // namespace sieve::sqlite
