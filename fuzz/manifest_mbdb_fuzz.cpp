// Feeds arbitrary bytes to the file-index parser and offers every record it keeps to
// the category rules, both as a present and as a missing stored file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/backup/category_rules.h"
#include "sieve/backup/manifest_mbdb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<sieve::CManifestRecord> records;
  std::uint64_t last = 0;
  const sieve::MbdbResult result = sieve::ParseMbdb(data, size, records, [&](std::uint64_t consumed, std::uint64_t total) {
    // Progress must move forward and stay within the input.
    if (consumed <= last || consumed > total || total != size) __builtin_trap();
    last = consumed;
    return true;
  });
  if (result.errorOffset > size) __builtin_trap();
  std::vector<sieve::RuleMatch> matches;
  for (const sieve::CManifestRecord& record : records) {
    if (record.StoredName.size() != 40) __builtin_trap();
    matches.clear();
    sieve::MatchCategoryRules(record, true, matches);
    sieve::MatchCategoryRules(record, false, matches);
  }
  return 0;
}
