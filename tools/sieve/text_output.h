// Plain-text output: names from a backup made safe for a terminal, and
// column-aligned tables.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::cli {

// `text` with control characters (C0, DEL and C1) shown as "?" and invalid
// UTF-8 bytes as U+FFFD, so that text from a backup cannot drive the terminal.
std::string Printable(std::string_view text);

// Writes "sieve: warning: " + message as one line on standard error; the
// caller has made any text from the backup Printable.
void Warn(std::string_view message);

// Number of characters (code points) of UTF-8 text, for column alignment.
std::size_t DisplayWidth(std::string_view text);

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header);
  // A table of `columns` columns without a header line.
  explicit TextTable(std::size_t columns);
  // Cells beyond the header's count are ignored; missing ones are empty.
  void AddRow(std::vector<std::string> cells);
  // Columns are left-aligned unless marked here (numbers read better right-aligned).
  void AlignRight(std::size_t column);
  // Every cell goes through Printable; columns are two spaces apart.
  void Print(std::FILE* out) const;

 private:
  std::vector<std::vector<std::string>> rows_;  // the header first (when there is one)
  std::size_t columns_;
  std::vector<bool> right_;
};

}  // namespace sieve::cli
