// System versions ("9.3.2") compared as numbers, the way layouts are chosen by version.
#pragma once

#include <string_view>

namespace sieve {

// <0, 0 or >0 as a is older than, equal to or newer than b. Missing parts count as
// 0 ("10" == "10.0"); a part stops at its first non-digit ("9.3b1" reads as 9.3).
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace sieve
