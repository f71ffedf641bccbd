// Counts of what a scan delivered, per record kind.
#pragma once

#include <array>
#include <cstdint>

#include "sieve/info_type.h"

namespace sieve::cli {

// Deleted items in one delivered record: its own Deleted flag and those of the
// messages or files it holds, each flag that is 1 counting once.
int DeletedItems(const void* record, _InfoType type);

struct ScanTally {
  std::array<std::uint64_t, kInfoTypeCount> records{};
  std::array<std::uint64_t, kInfoTypeCount> deleted{};

  void Add(const void* record, _InfoType type);
};

}  // namespace sieve::cli
