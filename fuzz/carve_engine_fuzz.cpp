// Feeds arbitrary bytes to the schema-driven carve as a database file, with its own pages
// handed in again as older page versions so the history path sees the same hostile bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/sqlite/carve_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sieve::sqlite;
  FileHistory history = MainFileHistory(std::vector<std::uint8_t>(data, data + size));
  const std::uint32_t pageSize = history.current.header.pageSize;
  if (history.current.Searchable()) {
    for (std::uint32_t page = 1; page <= history.current.header.pageCount && page <= 8; ++page) {
      history.older.push_back({page, page % 2 ? VersionSource::Wal : VersionSource::Journal, page, 0, page % 3 != 0,
                               history.current.bytes.subspan(history.current.PageOffset(page), pageSize)});
    }
  }
  std::size_t sink = 0;
  for (const bool includeLive : {false, true}) {
    CarveOptions options;
    options.includeLive = includeLive;
    Carve(history, options, [&](const CarvedRow& row) {
      for (const CarvedValue& value : row.values) sink += value.bytes.size();
    });
  }
  return sink == static_cast<std::size_t>(-1);
}
