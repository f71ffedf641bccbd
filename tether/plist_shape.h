// A cheap look at a property list's structure before libplist parses it. libplist
// 2.2 walks nested arrays and dictionaries recursively with no depth limit, and a
// binary list can also point a container at itself; either overflows the stack.
// Backups are untrusted, so every list we read passes this check first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tether {

struct PlistLimits {
  std::size_t maxDepth = 64;          // real backup lists nest fewer than 10 levels
  std::size_t maxObjects = 4000000;   // a binary list's object table
};

// True when the bytes, binary ("bplist00") or XML, nest no deeper than the limits,
// a binary list's tables lie inside the data and no container contains itself.
// Anything else is refused with a short reason in `why` (when given). It does not
// prove the list well-formed: that is libplist's job once the shape is safe.
bool PlistShapeAcceptable(const std::uint8_t* data, std::size_t size, std::string* why = nullptr,
                          const PlistLimits& limits = {});

}  // namespace tether
