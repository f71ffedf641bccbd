#include "sieve/sqlite/hot_rollback.h"

#include <algorithm>

namespace sieve::sqlite {

RolledBackFile RollBackHotJournal(std::span<const std::uint8_t> mainFile, std::uint32_t pageSize,
                                  const RollbackJournal& journal, std::uint64_t maxPages,
                                  std::vector<std::string>& warnings) {
  RolledBackFile out;
  out.recordCurrent.assign(journal.records.size(), false);
  if (pageSize == 0) return out;
  const std::size_t mainPages = mainFile.size() / pageSize;
  const bool apply = journal.hot && !mainFile.empty() && journal.pageSize == pageSize;
  std::uint64_t pageCount = apply ? journal.initialPages : mainPages;
  if (pageCount > maxPages) {
    warnings.push_back("the rollback journal gives the database " + std::to_string(pageCount) +
                       " pages before the change but the files hold at most " + std::to_string(maxPages));
    pageCount = maxPages;
  }
  out.pages.resize(static_cast<std::size_t>(pageCount));
  for (std::size_t i = 0; i < std::min<std::size_t>(mainPages, out.pages.size()); ++i) {
    out.pages[i] = mainFile.subspan(i * pageSize, pageSize);
  }
  if (!apply) return out;
  out.rolledBack = true;
  std::vector<std::size_t> writer(out.pages.size(), journal.records.size());  // record now holding each page
  const std::size_t played = std::min(journal.playedBack, journal.records.size());
  for (std::size_t r = 0; r < played; ++r) {
    const JournalRecord& record = journal.records[r];
    if (record.page == 0 || record.page > out.pages.size() || record.bytes.size() < pageSize) continue;
    out.pages[record.page - 1] = record.bytes.first(pageSize);
    writer[record.page - 1] = r;
  }
  for (const std::size_t r : writer) {
    if (r < out.recordCurrent.size()) out.recordCurrent[r] = true;
  }
  return out;
}

}  // namespace sieve::sqlite
