#include "sieve/sqlite/spilled_rows.h"

#include <algorithm>
#include <string>

#include "sieve/sqlite/fingerprint_set.h"
#include "sieve/sqlite/parallel_for.h"

namespace sieve::sqlite {

namespace {

// A partition from a key's bits that neither the fingerprint sets' slots nor the merge
// table's use, so that one partition's keys still spread over its table.
std::size_t PartitionOf(std::uint64_t key, std::size_t partitions) {
  std::uint64_t mixed = (key ^ (key >> 31)) * 0xbf58476d1ce4e5b9ull;
  mixed ^= mixed >> 29;
  return static_cast<std::size_t>(((mixed >> 32) * partitions) >> 32);
}

// A patch's value as a merged row's patches are written out.
void WriteValue(SpillStreams& out, std::size_t stream, const CarvedValue& value) {
  out.Append(stream, value.kind);
  out.Append(stream, value.truncated);
  out.Append(stream, value.integer);
  out.Append(stream, value.real);
  const auto size = static_cast<std::uint32_t>(value.bytes.size());
  out.Append(stream, size);
  out.Append(stream, value.bytes.data(), size);
}

bool ReadValue(SpillStreams::Reader& in, CarvedValue& value) {
  std::uint32_t size = 0;
  if (!in.Read(value.kind) || !in.Read(value.truncated) || !in.Read(value.integer) || !in.Read(value.real) ||
      !in.Read(size)) {
    return false;
  }
  value.bytes.resize(size);
  return in.Read(value.bytes.data(), size);
}

// A merged row as it is written: its order, the part of the row reading it out needs, the
// count of its patches and the patches.
struct MergedRow {
  // Written size without patches.
  static constexpr std::size_t kBytes = sizeof(std::uint32_t) + kReadOutBytes + 1;
  std::uint32_t order = 0;
  FoundRow row;  // merging's part is not read back: left as it was
  FoundRows::Patches patches;
};

bool ReadMerged(SpillStreams::Reader& in, MergedRow& out) {
  std::uint8_t count = 0;
  if (!in.Read(out.order) || !in.Read(&out.row, kReadOutBytes) || !in.Read(count)) return false;
  out.patches.resize(count);
  for (auto& [column, value] : out.patches) {
    std::uint32_t at = 0;
    if (!in.Read(at) || !ReadValue(in, value)) return false;
    column = at;
  }
  return true;
}

}  // namespace

SpilledRows::SpilledRows(SpillFile& file, std::size_t partitions)
    : file_(file),
      partitions_(partitions),
      liveKeys_(file, partitions),
      byLiveKey_(file, partitions),
      merged_(file, partitions) {
  // Each thread's set of partitions buffers a block per partition: smaller blocks keep the
  // buffers of all of them as large as one set's.
  const std::size_t threads = ParallelThreads();
  byKey_.reserve(threads);
  for (std::size_t t = 0; t < threads; ++t) byKey_.emplace_back(file, partitions, std::max<std::size_t>((32 << 10) / threads, 4 << 10));
}

std::size_t SpilledRows::PartitionsFor(std::uint64_t bytes) {
  constexpr std::uint64_t kBytesPerPartition = 8 << 20;
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(bytes / kBytesPerPartition, 8, 256));
}

void SpilledRows::AddLiveKey(std::uint64_t key) {
  liveKeys_.Append(PartitionOf(key, partitions_), key);
  liveFilter_.Insert(key);
}

void SpilledRows::Prefetch(const FoundCopy& copy) const {
  if (copy.hasLiveKey) {
    liveFilter_.Prefetch(copy.liveKey);
    byLiveKey_.PrefetchAppend(PartitionOf(copy.liveKey, partitions_), sizeof copy);
  }
  byKey_[0].PrefetchAppend(PartitionOf(copy.row.key, partitions_), sizeof copy);
}

void SpilledRows::AddUnfiltered(const FoundCopy& copy) {
  byLiveKey_.Append(PartitionOf(copy.hasLiveKey ? copy.liveKey : copy.row.key, partitions_), copy);
}

void SpilledRows::Add(const FoundCopy& copy) {
  // Only a copy that may be a live row's waits for the live keys; the rest go straight to
  // their merge partitions (where copies are put back in the order found before merging).
  if (copy.hasLiveKey && liveFilter_.MayContain(copy.liveKey)) {
    byLiveKey_.Append(PartitionOf(copy.liveKey, partitions_), copy);
  } else {
    byKey_[0].Append(PartitionOf(copy.row.key, partitions_), copy);
  }
}

bool SpilledRows::Merge(const std::function<int(std::uint32_t)>& aliasOf, const ValueOf& valueOf,
                        std::uint64_t& liveCopies) {
  liveKeys_.Finish();
  byLiveKey_.Finish();
  // The partitions one at a time on each core, one item per partition.
  const auto eachPartition = [this](const std::function<void(std::size_t, std::size_t)>& work) {
    ParallelForSlots(partitions_, work, {}, 1);
  };
  std::vector<std::uint64_t> liveBySlot(kMaxParallelThreads, 0);
  eachPartition([&](std::size_t p, std::size_t slot) {
    if (!file_.ok() || byLiveKey_.Empty(p)) return;
    // A partition's copies are far fewer than its live keys (three per live row): the keys
    // are looked up among the copies', in a set the caches hold, rather than each put in a
    // set of all of them.
    std::vector<FoundCopy> copies;
    SpillStreams::Reader copiesIn(byLiveKey_, p);
    for (FoundCopy copy; copiesIn.Read(copy);) copies.push_back(copy);
    FingerprintSet asked;
    asked.Reserve(copies.size());
    for (const FoundCopy& copy : copies) {
      if (copy.hasLiveKey) asked.Insert(copy.liveKey);
    }
    FingerprintSet live;
    SpillStreams::Reader keys(liveKeys_, p);
    for (std::uint64_t key = 0; keys.Read(key);) {
      if (asked.Contains(key)) live.Insert(key);
    }
    SpillStreams& byKey = byKey_[slot];
    for (const FoundCopy& copy : copies) {
      if (copy.hasLiveKey && live.Contains(copy.liveKey)) {
        ++liveBySlot[slot];
      } else {
        byKey.Append(PartitionOf(copy.row.key, partitions_), copy);
      }
    }
  });
  for (const std::uint64_t count : liveBySlot) liveCopies += count;
  for (SpillStreams& streams : byKey_) streams.Finish();
  eachPartition([&](std::size_t p, std::size_t slot) {
    if (!file_.ok()) return;
    std::vector<FoundCopy> copies;
    for (SpillStreams& streams : byKey_) {
      SpillStreams::Reader in(streams, p);
      for (FoundCopy copy; in.Read(copy);) copies.push_back(copy);
    }
    // The live-key round mixed the order; every copy of a record is in this partition, and
    // merged in the order found they merge as they would have in memory. (Their orders are
    // sorted, not the copies: a copy is twelve times larger.)
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byOrder(copies.size());
    for (std::uint32_t i = 0; i < copies.size(); ++i) byOrder[i] = {copies[i].order, i};
    std::sort(byOrder.begin(), byOrder.end());
    FoundRows rows;
    rows.Reserve(copies.size());
    std::vector<std::uint32_t> orders;
    for (const auto& [order, index] : byOrder) {
      const FoundCopy& at = copies[index];
      // Two captures: the std::function made of it for each copy needs no memory of its own.
      const std::pair<const FoundRow*, std::size_t> asked{&at.row, slot};
      const auto value = [&valueOf, &asked](std::size_t column) { return valueOf(*asked.first, column, asked.second); };
      if (rows.Keep(at, aliasOf(at.row.table), value)) orders.push_back(at.order);
    }
    for (std::uint32_t i = 0; i < rows.size(); ++i) {
      const FoundRows::Patches* patches = rows.PatchesOf(rows[i]);
      merged_.Append(p, orders[i]);
      merged_.Append(p, &rows[i], kReadOutBytes);
      merged_.Append(p, static_cast<std::uint8_t>(patches ? patches->size() : 0));
      for (std::size_t k = 0; patches && k < patches->size(); ++k) {
        merged_.Append(p, static_cast<std::uint32_t>((*patches)[k].first));
        WriteValue(merged_, p, (*patches)[k].second);
      }
    }
  });
  merged_.Finish();
  return file_.ok();
}

bool SpilledRows::ForEachRow(const std::function<void(const FoundRow&, const FoundRows::Patches*)>& visit) {
  // Each partition's rows are in the order found, and no two rows have the same order: the
  // rows are put in order a window of orders at a time, each order's slot naming the
  // partition whose head has it. (A heap of the heads cost more than reading the rows: its
  // compares go either way at random.)
  constexpr std::uint64_t kWindow = 4096;
  constexpr std::uint32_t kNone = UINT32_MAX;
  std::vector<SpillStreams::Reader> readers;
  std::vector<MergedRow> heads(partitions_);
  std::vector<char> waiting(partitions_, 0);
  std::vector<std::uint32_t> slots(kWindow, kNone);
  std::size_t left = 0;
  for (std::size_t p = 0; p < partitions_; ++p) {
    readers.emplace_back(merged_, p);
    waiting[p] = ReadMerged(readers[p], heads[p]) ? 1 : 0;
    left += static_cast<std::size_t>(waiting[p]);
  }
  // A head in the window takes its slot; false if it is out of order (not past `after`) or
  // the slot is taken, which a file as written never gives.
  std::uint64_t start = 0;
  const auto place = [&](std::size_t p, std::uint64_t after) {
    const std::uint64_t order = heads[p].order;
    if (order >= start + kWindow) return true;
    if (order < after || slots[order - start] != kNone) return false;
    slots[order - start] = static_cast<std::uint32_t>(p);
    waiting[p] = 0;
    return true;
  };
  while (left > 0 && file_.ok()) {
    // The window starts at the lowest head.
    start = UINT64_MAX;
    for (std::size_t p = 0; p < partitions_; ++p) {
      if (waiting[p]) start = std::min<std::uint64_t>(start, heads[p].order);
    }
    for (std::size_t p = 0; p < partitions_; ++p) {
      if (waiting[p] && !place(p, start)) {
        file_.MarkUnreadable();
        return false;
      }
    }
    for (std::uint64_t i = 0; i < kWindow && file_.ok(); ++i) {
      const std::uint32_t p = slots[i];
      if (p == kNone) continue;
      slots[i] = kNone;
      visit(heads[p].row, heads[p].patches.empty() ? nullptr : &heads[p].patches);
      if (!ReadMerged(readers[p], heads[p])) {
        --left;
        continue;
      }
      waiting[p] = 1;
      if (!place(p, start + i + 1)) {
        file_.MarkUnreadable();
        return false;
      }
      // The partition's next row is read when its turn comes, after a hundred others: its
      // block is out of the caches by then, unless fetched now.
      readers[p].Prefetch(MergedRow::kBytes);
    }
  }
  return file_.ok();
}

}  // namespace sieve::sqlite
