#include "sieve/sqlite/found_records.h"

#include <algorithm>

#include "sieve/sqlite/live_rows.h"

namespace sieve::sqlite {

namespace {

bool SameValue(const Value& a, const Value& b) {
  if (a.kind != b.kind || a.truncated != b.truncated) return false;
  switch (a.kind) {
    case ValueKind::kNull: return true;
    case ValueKind::kInteger: return a.integer == b.integer;
    case ValueKind::kReal: return a.real == b.real || (a.real != a.real && b.real != b.real);
    case ValueKind::kText:
    case ValueKind::kBlob: return a.bytes == b.bytes;
  }
  return false;
}

// How much of the row a copy kept.
int Kept(const CarvedRecord& record) { return (record.rowid >= 0 ? 2 : 0) + (record.lostLeadingColumns == 0 ? 1 : 0); }

}  // namespace

bool FoundRecords::Same(const CarvedRecord& a, const CarvedRecord& b) const {
  if (a.values.size() != b.values.size()) return false;
  if (a.rowid >= 0 && b.rowid >= 0 && a.rowid != b.rowid) return false;
  const bool firstKnown = a.lostLeadingColumns == 0 && b.lostLeadingColumns == 0;
  for (std::size_t column = firstKnown ? 0 : 1; column < a.values.size(); ++column) {
    if (static_cast<int>(column) == alias_) continue;
    if (!SameValue(a.values[column], b.values[column])) return false;
  }
  return true;
}

std::size_t FoundRecords::Match(const CarvedRecord& record, std::uint64_t key) const {
  const auto [first, last] = byKey_.equal_range(key);
  for (auto it = first; it != last; ++it) {
    if (Same(records_[it->second].first, record)) return it->second;
  }
  for (std::size_t i = 0; i < identities_.size(); ++i) {
    const auto name = IdentityKey(record, identities_[i]);
    if (!name) continue;
    const auto found = byIdentity_[i].find(*name);
    if (found == byIdentity_[i].end()) continue;
    const std::int64_t rowid = records_[found->second].first.rowid;
    if (rowid < 0 || record.rowid < 0 || rowid == record.rowid) return found->second;
  }
  return kNone;
}

void FoundRecords::Merge(std::size_t index, CarvedRecord record, RecordOrigin origin) {
  auto& [kept, keptOrigin] = records_[index];
  // The better copy stands with its own place; the other's place joins the list.
  if (Kept(record) > Kept(kept)) {
    std::swap(kept, record);
    std::swap(keptOrigin.source, origin.source);
    std::swap(keptOrigin.page, origin.page);
    std::swap(keptOrigin.frame, origin.frame);
    std::swap(keptOrigin.olderVersion, origin.olderVersion);
  }
  auto& also = keptOrigin.alsoIn;
  if (origin.source != keptOrigin.source && std::find(also.begin(), also.end(), origin.source) == also.end()) {
    also.push_back(origin.source);
  }
}

void FoundRecords::Add(CarvedRecord record, RecordOrigin origin) {
  const std::uint64_t key = RowFingerprint(record.values, record.values.size(), alias_, true, nullptr);
  if (const std::size_t index = Match(record, key); index != kNone) {
    Merge(index, std::move(record), std::move(origin));
    return;
  }
  const std::size_t index = records_.size();
  byKey_.emplace(key, index);
  for (std::size_t i = 0; i < identities_.size(); ++i) {
    if (const auto name = IdentityKey(record, identities_[i])) byIdentity_[i].emplace(*name, index);
  }
  records_.emplace_back(std::move(record), std::move(origin));
}

}  // namespace sieve::sqlite
