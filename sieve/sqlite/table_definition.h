// Column lists taken from CREATE TABLE statements, so record shapes can follow the columns a
// database really has rather than the ones a schema version was expected to have.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::sqlite {

struct TableColumn {
  std::string name;
  std::string declaredType;  // as written, e.g. "VARCHAR(40)"; empty when none
  bool rowidAlias = false;   // INTEGER PRIMARY KEY: the record stores NULL, the rowid is the value
  bool stored = true;        // false for virtual generated columns, which records do not hold
};

struct TableDefinition {
  std::vector<TableColumn> columns;
  bool withoutRowid = false;
  // PRIMARY KEY columns in key order. A WITHOUT ROWID table stores them first in each record.
  std::vector<std::string> primaryKey;
};

// nullopt when the text is not a CREATE TABLE with a column list (e.g. CREATE TABLE ... AS
// SELECT, or a virtual table).
std::optional<TableDefinition> ParseCreateTable(std::string_view sql);

// Allowed value kinds (ColumnKind bits) for a declared type, after SQLite's affinity rules:
// INT -> integer, CHAR/CLOB/TEXT -> text, BLOB or none -> anything, REAL/FLOA/DOUB -> real or
// integer (whole reals are stored as integers), anything else (NUMERIC) -> number or text.
// NULL is always allowed.
std::uint8_t KindsForDeclaredType(std::string_view declaredType);

}  // namespace sieve::sqlite
