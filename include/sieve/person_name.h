// A person's name from its parts (first, middle, last), written the way people write it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace sieve {

// The non-empty parts in order, joined by a space, except between two CJK characters,
// which are written together ("Kenji" "Müller" -> "Kenji Müller", "李" "王" -> "李王").
std::string JoinPersonName(std::initializer_list<std::string_view> parts);

}  // namespace sieve
