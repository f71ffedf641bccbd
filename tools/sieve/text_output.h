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

// How much goes to standard error besides errors: -q drops progress, notes and
// warnings; -v adds the steps with the time since the start.
enum class Verbosity { Quiet, Normal, Verbose };
void SetVerbosity(Verbosity verbosity);
bool Quiet();
bool Verbose();

// Writes "sieve: warning: " + message as one line on standard error (not with
// -q); the caller has made any text from the backup Printable.
void Warn(std::string_view message);
// "sieve: " + message on standard error, not with -q: timings and summaries
// that are not the command's data.
void Note(std::string_view message);
// "sieve: [seconds since the start] " + message, only with -v.
void Detail(std::string_view message);

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
  // From now on rows are printed to `out` as they are added, once the first
  // `sample` of them (the header included) have fixed the column widths: a
  // long listing is never held whole. A later, wider cell widens its line only.
  void PrintAsAdded(std::FILE* out, std::size_t sample);
  // Prints the rows not printed yet. Every cell goes through Printable;
  // columns are two spaces apart.
  void Print(std::FILE* out);

 private:
  void PrintRow(std::FILE* out, const std::vector<std::string>& row) const;

  std::vector<std::vector<std::string>> rows_;  // not printed yet; the header first (when there is one)
  std::size_t columns_;
  std::vector<bool> right_;
  std::vector<std::size_t> widths_;  // fixed once rows are printed as they come
  std::FILE* streamTo_ = nullptr;
  std::size_t sample_ = 0;
};

}  // namespace sieve::cli
