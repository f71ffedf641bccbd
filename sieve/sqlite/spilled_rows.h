// The records of a carve too large to keep in memory, set aside in partitions on disk (a
// grace hash join): the live rows' keys and the kept copies go to partitions by their live
// key, so each partition's keys fit in memory to leave out the stale copies of live rows;
// what is left goes on to partitions by merge key, where all copies of one record meet and
// merge exactly as in memory (in the order found); the rows come back in the order found by
// merging the partitions' sorted outputs. The partitions of a round are worked on all cores.
// Memory: the buffers of one round of partitions and one partition's records per core,
// whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sieve/sqlite/found_rows.h"
#include "sieve/sqlite/live_key_filter.h"
#include "sieve/sqlite/spill_file.h"

namespace sieve::sqlite {

class SpilledRows {
 public:
  SpilledRows(SpillFile& file, std::size_t partitions);

  // The partitions for a carve of `bytes` (file and history): a few MB of file each.
  static std::size_t PartitionsFor(std::uint64_t bytes);

  // The live keys come from one thread, the copies from another.
  void AddLiveKey(std::uint64_t key);
  // After the last live key: the copies that cannot be live rows skip the live-key round.
  void Add(const FoundCopy& copy);
  // A copy about to be added: the filter's line for its live key, and where either of the
  // partitions it may go to will write it, are fetched meanwhile.
  void Prefetch(const FoundCopy& copy) const;
  // While live keys may still come: every copy with a live key takes that round.
  void AddUnfiltered(const FoundCopy& copy);

  // Leaves out the copies of live rows (counted in `liveCopies`) and merges the rest.
  // `aliasOf(table)` is the table's rowid alias column; `valueOf(copy, column, slot)` reads
  // a copy again for a value it patches its row with, on the scratch of ParallelForSlots'
  // `slot`. False when the file failed.
  using ValueOf = std::function<CarvedValue(const FoundRow& copy, std::size_t column, std::size_t slot)>;
  bool Merge(const std::function<int(std::uint32_t)>& aliasOf, const ValueOf& valueOf, std::uint64_t& liveCopies);

  // Every merged row in the order found. False when the file failed.
  bool ForEachRow(const std::function<void(const FoundRow&, const FoundRows::Patches*)>& visit);

 private:
  SpillFile& file_;
  std::size_t partitions_;
  SpillStreams liveKeys_, byLiveKey_;
  LiveKeyFilter liveFilter_;
  // The copies by merge key, a set of partitions per thread of the live-key round (each
  // thread writes its own; the first set also takes the copies that skip that round), and
  // the merged rows.
  std::vector<SpillStreams> byKey_;
  SpillStreams merged_;
};

}  // namespace sieve::sqlite
