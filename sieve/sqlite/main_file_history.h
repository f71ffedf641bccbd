// A history of the main file alone (no write-ahead log, no journal): for callers that hold
// just the database bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "sieve/sqlite/page_history.h"

namespace sieve::sqlite {

// The main file as its only version. The result's `current.header.status` tells whether it
// is an SQLite file whose pages can be read.
FileHistory MainFileHistory(std::vector<std::uint8_t> mainFile);

}  // namespace sieve::sqlite
