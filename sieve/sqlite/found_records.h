// The records one search found, each once. A deleted row often stands in several places:
// in a freeblock of the file and in the WAL frame that still held its page, or intact in
// one place and with its first bytes overwritten in another. Copies are the same record when
// every value both kept agrees (the rowid alias aside, and the first column when one copy
// lost it), or when they agree on a set of columns that names a row (an edit before the
// delete leaves versions that differ elsewhere); either way only when their rowids do not
// differ. The copy that kept
// more (its rowid, its first column) stands for them, the first found of equals; the
// others' places are listed with it.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sieve/sqlite/carve_source.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/row_identity.h"

namespace sieve::sqlite {

struct RecordOrigin {
  CarveSource source = CarveSource::Unallocated;
  std::uint32_t page = 0;   // the page number in the database (also for an older version)
  std::uint32_t frame = 0;  // the WAL frame of an older version, 0 else
  bool olderVersion = false;  // a WAL or journal version: the record's offset is within that page
  std::vector<CarveSource> alsoIn;  // other kinds of place the same record was found in
};

class FoundRecords {
 public:
  FoundRecords(int rowidAliasColumn, std::vector<RowIdentity> identities)
      : alias_(rowidAliasColumn), identities_(std::move(identities)), byIdentity_(identities_.size()) {}

  void Add(CarvedRecord record, RecordOrigin origin);
  // In the order first found.
  const std::vector<std::pair<CarvedRecord, RecordOrigin>>& Records() const { return records_; }

 private:
  bool Same(const CarvedRecord& a, const CarvedRecord& b) const;
  std::size_t Match(const CarvedRecord& record, std::uint64_t key) const;  // kNone when new
  void Merge(std::size_t index, CarvedRecord record, RecordOrigin origin);

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  int alias_;
  std::vector<RowIdentity> identities_;
  std::vector<std::pair<CarvedRecord, RecordOrigin>> records_;
  std::unordered_multimap<std::uint64_t, std::size_t> byKey_;
  std::vector<std::unordered_map<std::uint64_t, std::size_t>> byIdentity_;
};

}  // namespace sieve::sqlite
