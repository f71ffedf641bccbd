// Feeds arbitrary bytes to the newer file index as its Manifest.db: SQLite opens them as a
// database, every row of Files is decoded (its MBFile archive too) and offered to the
// category rules, as the index walk does. SQLite reads from a file, so each input is
// written to one scratch file of this process first.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sieve/backup/category_rules.h"
#include "sieve/backup/manifest_db.h"

namespace {

const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir != nullptr ? dir : "/tmp") + "/manifest_db_fuzz." + std::to_string(::getpid());
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* out = std::fopen(ScratchPath().c_str(), "wb");
  if (out == nullptr) std::abort();
  const bool written = std::fwrite(data, 1, size, out) == size;
  if (std::fclose(out) != 0 || !written) std::abort();

  std::vector<sieve::RuleMatch> matches;
  std::uint64_t last = 0;
  const auto result = sieve::ReadManifestDb(
      ScratchPath(),
      [&](sieve::CManifestRecord&& record) {
        if (record.StoredName.size() != 40) __builtin_trap();
        matches.clear();
        sieve::MatchCategoryRules(record, true, matches);
        sieve::MatchCategoryRules(record, false, matches);
        return true;
      },
      [&](std::uint64_t done, std::uint64_t total) {
        // Rows done must move forward and never pass the count reported with them.
        if (done <= last || done > total) __builtin_trap();
        last = done;
        return true;
      });
  return result.delivered == static_cast<std::uint64_t>(-1) ? 1 : 0;
}
