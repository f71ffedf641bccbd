// What a search for one table's deleted rows needs beside the carver: the table's columns
// found by name, the values of a carved (or live) row read by column, and the table's shape
// narrowed to what a column really holds, so that fewer stray bytes pass for a row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/table_definition.h"

namespace sieve::sqlite {

// Position of a column among the stored columns (the order of a record's values), the name
// compared without regard to ASCII case; -1 when the table has no such column.
int StoredColumnIndex(const std::vector<TableColumn>& columns, std::string_view name);

// The value at a column position; nullptr when the position is -1 or past the record.
const Value* ValueAt(const std::vector<Value>& values, int column);
// An integer or real column as a double, at full precision; nullopt for anything else.
std::optional<double> NumberAt(const std::vector<Value>& values, int column);
std::optional<std::int64_t> IntegerAt(const std::vector<Value>& values, int column);
// True when the column holds a text of at least one byte.
bool HasText(const std::vector<Value>& values, int column);
// The column as UTF-8 text (numbers in decimal); "" when absent or Null.
std::string TextAt(const std::vector<Value>& values, int column, TextEncoding encoding);

// The column may hold only `kinds` (never more than its declared type allows already), and
// with maxBytes a text or blob of at most that many bytes. A column of -1 is left alone.
void NarrowColumn(RecordShape& shape, int column, std::uint8_t kinds, std::uint32_t maxBytes = 0);
// Every text and blob of the shape at most maxBytes long.
void LimitValueBytes(RecordShape& shape, std::uint32_t maxBytes);

}  // namespace sieve::sqlite
