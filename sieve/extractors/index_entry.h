// A deleted row whose cell lost its first bytes also lost its rowid, but the entries of the
// table's indexes name the rowid after the indexed values. Given the values of a row, this
// finds the rowids such entries name, so deleted rows can be linked again (a message to its
// handle, a phone number to its person).
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <string_view>
#include <vector>

namespace sieve {

// Every rowid that follows `key` (the indexed values' record bytes back to back, UTF-8) in
// the file and that `plausible` accepts. The rowid's serial type is read from the byte
// before the key when it is an integer type; otherwise (the entry's header was overwritten)
// one- and two-byte rowids are tried.
std::set<std::int64_t> RowidsIndexedUnder(std::span<const std::uint8_t> file, std::string_view key,
                                          const std::function<bool(std::int64_t)>& plausible);

// Links rowid-less rows to rowids: each row gets the one index-named rowid that is still
// unclaimed, in row order; a row with none or several gets -1 (a guess could put a message
// under the wrong party).
std::vector<std::int64_t> AssignLostRowids(const std::vector<std::set<std::int64_t>>& indexed,
                                           const std::set<std::int64_t>& unclaimed);

}  // namespace sieve
