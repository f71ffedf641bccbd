// Feeds arbitrary bytes to the page-history reader. Input layout: two big-endian 32-bit
// lengths (main file, log), then the main file, the log and the journal (the rest), so one
// input exercises all three and how they meet. The whole input is also read as a log alone and
// as a journal alone, where the seeds' magic numbers are not at offset 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sieve/sqlite/page_history.h"
#include "sieve/sqlite/rollback_journal.h"
#include "sieve/sqlite/wal_log.h"

namespace {

std::uint32_t Length(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Reads every byte a version points at, so the sanitizers see any span outside its buffer.
unsigned Touch(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  volatile unsigned sink = 0;
  for (const auto& frame : sieve::sqlite::ParseWalLog(input).frames) sink = sink + Touch(frame.bytes);
  for (const auto& record : sieve::sqlite::ParseRollbackJournal(input, 512).records) sink = sink + Touch(record.bytes);

  if (size < 8) return 0;
  const std::size_t mainSize = std::min<std::size_t>(Length(data), size - 8);
  const std::size_t walSize = std::min<std::size_t>(Length(data + 4), size - 8 - mainSize);
  const auto main = input.subspan(8, mainSize);
  const auto wal = input.subspan(8 + mainSize, walSize);
  const auto journal = input.subspan(8 + mainSize + walSize);
  const auto result = sieve::sqlite::ReadFileHistory(main, wal, journal);
  if (!result.ok()) return 0;
  const auto& history = result.history;
  const std::uint32_t pageSize = history.current.header.pageSize;
  if (history.current.bytes.data() != history.currentBytes.data()) std::abort();
  for (const auto& version : history.older) {
    if (pageSize != 0 && version.bytes.size() != pageSize) std::abort();
    sink = sink + Touch(version.bytes);
  }
  return 0;
}
