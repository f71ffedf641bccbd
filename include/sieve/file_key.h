// A 32-byte per-file AES key of an encrypted backup.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sieve {

using FileKey = std::array<std::uint8_t, 32>;

// Records carry their file's key by value so that a copy kept by the program
// stays usable after the reader that produced it has moved on to another scan.
using OptionalFileKey = std::optional<FileKey>;

}  // namespace sieve
