// The versions of a database file's pages that a carve reads. Until the write-ahead log and
// rollback journal readers are in, the history holds the main file alone: its pages as they
// stand and no older versions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

enum class VersionSource { Main, Wal, Journal };

// One version of a page that is not the current one.
struct PageVersion {
  std::uint32_t page = 0;
  VersionSource source = VersionSource::Main;
  std::uint32_t frame = 0;       // 1-based WAL frame index, 0 else
  std::uint32_t generation = 0;  // WAL salt generation, 0 the newest
  bool committed = false;        // at or before a commit frame of its generation
  std::span<const std::uint8_t> bytes;  // the whole page
};

struct FileHistory {
  std::vector<std::uint8_t> currentBytes;
  PagedFile current;  // views currentBytes: do not copy a FileHistory, move it
  std::vector<PageVersion> older;
  std::vector<std::string> warnings;
};

// The main file as its only version. The result's `current.header.status` tells whether it
// is an SQLite file whose pages can be read.
FileHistory MainFileHistory(std::vector<std::uint8_t> mainFile);

}  // namespace sieve::sqlite
