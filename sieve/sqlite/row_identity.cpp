#include "sieve/sqlite/row_identity.h"

#include "sieve/sqlite/live_rows.h"

namespace sieve::sqlite {

std::optional<std::uint64_t> IdentityKey(const std::vector<Value>& values, const RowIdentity& identity, bool firstLost) {
  std::vector<Value> picked;
  picked.reserve(identity.size());
  bool any = false;
  for (const int column : identity) {
    if (column < 0 || static_cast<std::size_t>(column) >= values.size() || (column == 0 && firstLost)) {
      return std::nullopt;
    }
    picked.push_back(values[static_cast<std::size_t>(column)]);
    any = any || picked.back().kind != ValueKind::kNull;
  }
  if (!any || identity.empty()) return std::nullopt;
  return RowFingerprint(picked, picked.size(), -1, false, nullptr);
}

}  // namespace sieve::sqlite
