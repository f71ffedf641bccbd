#include "sieve/sqlite/carve_toolkit.h"

#include "sieve/reader/text.h"

namespace sieve::sqlite {

int StoredColumnIndex(const std::vector<TableColumn>& columns, std::string_view name) {
  const std::string wanted = ToLowerAscii(name);
  int stored = 0;
  for (const TableColumn& column : columns) {
    if (!column.stored) continue;
    if (ToLowerAscii(column.name) == wanted) return stored;
    ++stored;
  }
  return -1;
}

const Value* ValueAt(const std::vector<Value>& values, int column) {
  if (column < 0 || static_cast<std::size_t>(column) >= values.size()) return nullptr;
  return &values[static_cast<std::size_t>(column)];
}

std::optional<double> NumberAt(const std::vector<Value>& values, int column) {
  const Value* value = ValueAt(values, column);
  if (value == nullptr) return std::nullopt;
  if (value->kind == ValueKind::kReal) return value->real;
  if (value->kind == ValueKind::kInteger) return static_cast<double>(value->integer);
  return std::nullopt;
}

std::optional<std::int64_t> IntegerAt(const std::vector<Value>& values, int column) {
  const Value* value = ValueAt(values, column);
  if (value == nullptr || value->kind != ValueKind::kInteger) return std::nullopt;
  return value->integer;
}

bool HasText(const std::vector<Value>& values, int column) {
  const Value* value = ValueAt(values, column);
  return value != nullptr && value->kind == ValueKind::kText && !value->bytes.empty();
}

std::string TextAt(const std::vector<Value>& values, int column, TextEncoding encoding) {
  const Value* value = ValueAt(values, column);
  return value == nullptr ? std::string() : ValueText(*value, encoding);
}

void NarrowColumn(RecordShape& shape, int column, std::uint8_t kinds, std::uint32_t maxBytes) {
  if (column < 0 || static_cast<std::size_t>(column) >= shape.columns.size()) return;
  const auto at = static_cast<std::size_t>(column);
  shape.columns[at] &= kinds;
  if (maxBytes == 0) return;
  if (shape.maxBytes.size() < shape.columns.size()) shape.maxBytes.resize(shape.columns.size(), 0);
  shape.maxBytes[at] = maxBytes;
}

void LimitValueBytes(RecordShape& shape, std::uint32_t maxBytes) { shape.maxBytes.assign(shape.columns.size(), maxBytes); }

}  // namespace sieve::sqlite
