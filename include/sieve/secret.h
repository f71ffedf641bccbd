// Passwords and the keys derived from them are overwritten before their memory
// is released, so that no freed block of a process still holds them.
#pragma once

#include <cstddef>
#include <string>

#include "sieve/file_key.h"

namespace sieve {

// Overwrites every byte the string owns (also those past its end that an
// earlier, longer value used) and leaves it empty.
void WipeSecret(std::string& secret);
void WipeSecret(FileKey& key);
void WipeSecret(void* data, std::size_t size);

}  // namespace sieve
