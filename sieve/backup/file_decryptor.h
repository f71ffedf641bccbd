// Decryption of one stored file of an encrypted backup with its file key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sieve/file_key.h"

namespace sieve {

// Stopped: the scan running on the thread asked to stop (see ThreadScanControl).
enum class DecryptStatus { Ok, OpenFailed, CreateFailed, ReadFailed, WriteFailed, Stopped };

// Stored files end in PKCS#7 padding; the encrypted Manifest.db is whole pages with
// none, and a page that happens to end in bytes that look like padding must stay whole.
enum class Padding { RemoveWhenValid, Keep };

// Bytes read and decrypted per step when streaming a file.
inline constexpr std::size_t kDecryptBufferSize = std::size_t{1} << 20;

// AES-256-CBC with a zero initial value. A final partial block is recovered by
// ciphertext stealing (the last full block and the tail are swapped, as the device
// writes them). Inputs shorter than one block give no output. When the input is whole
// blocks and the plaintext ends in a valid PKCS#7 padding (1 to 16 bytes, each equal
// to the count) the padding is dropped; otherwise every byte is kept. The output is
// never cut to any other size.
//
// DecryptFile streams in -> out through a fixed buffer, so files of any size work. The
// target is created with owner-only permissions and replaced if it exists; a target
// that is the source itself is refused (CreateFailed). On failure no target is left.
// What a decryption noticed about a stored file that a device would not have written:
// a length that is not whole blocks (its tail decrypted by ciphertext stealing), or
// whole blocks whose plaintext ends in no valid padding (kept whole). The bytes are
// still written; the caller tells the user.
struct DecryptNotes {
  bool notWholeBlocks = false;
  bool noValidPadding = false;
  bool Any() const { return notWholeBlocks || noValidPadding; }
};

DecryptStatus DecryptFile(const std::string& inPath, const std::string& outPath, const FileKey& key,
                          Padding padding = Padding::RemoveWhenValid, DecryptNotes* notes = nullptr);

// The same rules in memory.
std::vector<std::uint8_t> DecryptBuffer(const std::uint8_t* data, std::size_t size, const FileKey& key);

}  // namespace sieve
