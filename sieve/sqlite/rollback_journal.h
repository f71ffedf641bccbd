// The page records of an SQLite rollback journal ("-journal"): the content pages had before
// the transaction that wrote the journal changed them.
//
// Format facts relied on (all integers big-endian):
//   header at the start of a sector: magic d9 d5 05 f9 20 a1 63 d7, record count (0xffffffff,
//   or 0 in a journal never synced, means "as many as the file holds"), checksum nonce, the
//   database size in pages before the transaction, sector size, page size. The records start
//   one sector after the header: page number, the page, checksum = nonce + the page's bytes at
//   offsets page size - 200, - 400, ... (all > 0). A journal may hold several such segments,
//   each header at a sector boundary after the previous segment's records. A committed journal
//   in PERSIST mode has its header zeroed; its records usually stay behind it, and behind
//   them the records of earlier, larger transactions, each under its own nonce. The magic is
//   written last, when the journal is synced: before that the header holds all but the magic.
//   A journal whose magic is in place is hot: SQLite rolls it back when it opens the database,
//   writing back each record of a segment whose count is not 0 up to the first one that fails
//   its checksum (a count of 0 in a hot journal plays back nothing from there on), then
//   cutting the database to the first header's page count.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sieve::sqlite {

enum class JournalStatus : std::uint8_t {
  kOk,
  kEmpty,        // no bytes, or a zeroed header with nothing readable behind it
  kTruncated,    // shorter than the 28-byte header
  kNotJournal,   // the magic is neither right nor zeroed
  kBadGeometry,  // page or sector size out of range
};

struct JournalRecord {
  std::uint32_t page = 0;
  bool checksumOk = false;  // false for records read behind a zeroed header (the nonce is gone)
  std::span<const std::uint8_t> bytes;
};

struct RollbackJournal {
  JournalStatus status = JournalStatus::kEmpty;
  std::uint32_t pageSize = 0;
  std::uint32_t initialPages = 0;  // of the first segment
  bool zeroedHeader = false;  // the magic is zeroed: committed, or not yet synced
  bool hot = false;           // the magic is in place: SQLite rolls the journal back on open
  std::size_t playedBack = 0;  // of a hot journal, records [0, playedBack) are written back
  std::vector<JournalRecord> records;
  std::vector<std::string> warnings;
};

// Parses the journal held in `journal`; records point into it. `databasePageSize` (0 when
// unknown) is the page size assumed behind a zeroed header.
RollbackJournal ParseRollbackJournal(std::span<const std::uint8_t> journal, std::uint32_t databasePageSize);

const char* JournalStatusText(JournalStatus status);

}  // namespace sieve::sqlite
