#include "sieve/sqlite/stale_copies.h"

#include <algorithm>

#include "sieve/sqlite/live_table_rows.h"

namespace sieve::sqlite {

StaleCopyFilter StaleCopyFilter::Build(const PagedFile& current, const TableShape& table,
                                       const std::vector<RowIdentity>& identities) {
  StaleCopyFilter filter;
  filter.alias_ = table.shape.rowidAliasColumn;
  filter.rows_ = LiveRows::Build(current, {table});
  filter.identities_ = identities;
  filter.identityKeys_.resize(identities.size());
  ForEachLiveTableRow(current, table.rootPage, filter.alias_, [&](std::int64_t rowid, const std::vector<Value>& values) {
    filter.rowids_.push_back(rowid);
    for (std::size_t i = 0; i < identities.size(); ++i) {
      if (const auto key = IdentityKey(values, identities[i])) filter.identityKeys_[i].push_back(*key);
    }
  });
  std::sort(filter.rowids_.begin(), filter.rowids_.end());
  for (auto& keys : filter.identityKeys_) std::sort(keys.begin(), keys.end());
  return filter;
}

bool StaleCopyFilter::IsStale(const CarvedRecord& record) const {
  if (record.rowid >= 0 && std::binary_search(rowids_.begin(), rowids_.end(), record.rowid)) return true;
  if (rows_.IsLive(0, record, alias_)) return true;
  for (std::size_t i = 0; i < identities_.size(); ++i) {
    const auto key = IdentityKey(record, identities_[i]);
    if (key && std::binary_search(identityKeys_[i].begin(), identityKeys_[i].end(), *key)) return true;
  }
  return false;
}

}  // namespace sieve::sqlite
