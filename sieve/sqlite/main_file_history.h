// A history of the main file alone (no log, no journal): its pages as they stand and no
// older versions. For callers that hold only the database's bytes (tests, fuzzing).
#pragma once

#include <cstdint>
#include <vector>

#include "sieve/sqlite/page_history.h"

namespace sieve::sqlite {

// The result's `current.header.status` tells whether it is an SQLite file whose pages can
// be read.
FileHistory MainFileHistory(std::vector<std::uint8_t> mainFile);

}  // namespace sieve::sqlite
