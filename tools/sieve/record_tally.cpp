#include "tools/sieve/record_tally.h"

#include "sieve/record_visit.h"

namespace sieve::cli {
namespace {

template <typename Record>
int OwnFlag(const Record& record) {
  if constexpr (requires { record.Deleted; }) {
    return record.Deleted == 1 ? 1 : 0;
  } else {
    return 0;  // attachments and recordings carry no Deleted flag
  }
}

template <typename Item>
int DeletedIn(const std::vector<Item>& items) {
  int n = 0;
  for (const Item& item : items) n += OwnFlag(item);
  return n;
}

}  // namespace

int DeletedItems(const void* record, _InfoType type) {
  int n = 0;
  VisitRecord(record, type, [&n](auto, const auto& r) {
    n = OwnFlag(r);
    if constexpr (requires { r.Messages; }) n += DeletedIn(r.Messages);
    if constexpr (requires { r.Files; }) n += DeletedIn(r.Files);
  });
  return n;
}

void ScanTally::Add(const void* record, _InfoType type) {
  if (type < 0 || type >= kInfoTypeCount) return;
  ++records[static_cast<std::size_t>(type)];
  deleted[static_cast<std::size_t>(type)] += static_cast<std::uint64_t>(DeletedItems(record, type));
}

}  // namespace sieve::cli
