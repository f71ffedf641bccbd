// Finding a table's columns by name in the records the page engine carves, and reading
// the carved values. Shared by the engines that follow a table's real column list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/reader/text.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/table_definition.h"

namespace sieve {

// Position of a column among the stored columns (the order of a record's values); -1 when
// the table has no such column.
inline int StoredColumnIndex(const std::vector<sqlite::TableColumn>& columns, std::string_view name) {
  int stored = 0;
  for (const sqlite::TableColumn& column : columns) {
    if (!column.stored) continue;
    if (ToLowerAscii(column.name) == ToLowerAscii(name)) return stored;
    ++stored;
  }
  return -1;
}

// The value (of a carved or live row) at a column index, or nullptr when the index is -1 or past the record.
inline const sqlite::Value* CarvedValue(const std::vector<sqlite::Value>& values, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= values.size()) return nullptr;
  return &values[static_cast<std::size_t>(index)];
}

// A number column as a double, kept at full precision; nullopt when it holds no number.
inline std::optional<double> CarvedNumber(const std::vector<sqlite::Value>& values, int index) {
  const sqlite::Value* value = CarvedValue(values, index);
  if (value == nullptr) return std::nullopt;
  if (value->kind == sqlite::ValueKind::kReal) return value->real;
  if (value->kind == sqlite::ValueKind::kInteger) return static_cast<double>(value->integer);
  return std::nullopt;
}

inline std::optional<std::int64_t> CarvedInteger(const std::vector<sqlite::Value>& values, int index) {
  const sqlite::Value* value = CarvedValue(values, index);
  if (value == nullptr || value->kind != sqlite::ValueKind::kInteger) return std::nullopt;
  return value->integer;
}

}  // namespace sieve
