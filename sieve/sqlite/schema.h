// The schema table (sqlite_master) read straight from page 1's b-tree, without SQLite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

struct SchemaEntry {
  std::string type;  // "table", "index", "view", "trigger"
  std::string name;
  std::string tableName;
  std::uint32_t rootPage = 0;  // 0 for views, triggers and virtual tables
  std::string sql;
};

// Rows that do not decode as five-column schema records are skipped.
std::vector<SchemaEntry> ReadSchema(const PagedFile& file);

}  // namespace sieve::sqlite
