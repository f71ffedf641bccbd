#include "sieve/backup/file_decryptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "sieve/backup/crypto.h"
#include "sieve/sqlite/scan_control.h"

namespace sieve {
namespace {

constexpr std::size_t kBlock = 16;
using Block = std::array<std::uint8_t, kBlock>;

// The count of a valid PKCS#7 padding at the end of whole blocks of plaintext, else 0.
std::size_t PaddingLength(const std::uint8_t* plain, std::size_t size) {
  if (size < kBlock || size % kBlock != 0) return 0;
  const std::uint8_t count = plain[size - 1];
  if (count == 0 || count > kBlock) return 0;
  for (std::size_t i = size - count; i < size; ++i) {
    if (plain[i] != count) return 0;
  }
  return count;
}

// Decrypts, in place, the last piece of a ciphertext: whole blocks and at most one
// partial block. `before` is the ciphertext block preceding the piece (the zero
// initial value when the piece starts the file). Returns how many plaintext bytes to
// keep, or nothing when the cipher failed.
std::optional<std::size_t> DecryptLastPiece(crypto::Aes256CbcDecryptor& cbc, const FileKey& key,
                                            std::uint8_t* data, std::size_t size, const Block& before,
                                            Padding padding, DecryptNotes& notes) {
  if (size < kBlock) {  // not even one block: nothing can be decrypted
    notes.notWholeBlocks = size > 0;
    return 0;
  }
  const std::size_t tail = size % kBlock;
  if (tail == 0) {
    if (!cbc.Update(data, size, data)) return std::nullopt;
    if (padding == Padding::Keep) return size;
    const std::size_t padded = PaddingLength(data, size);
    notes.noValidPadding = padded == 0;
    return size - padded;
  }
  notes.notWholeBlocks = true;
  // Stolen ciphertext: ... C[n-2], C[n-1], T where T is the first `tail` bytes of the
  // block the last full plaintext block encrypted to, and C[n-1] holds the tail.
  const std::size_t whole = size - tail;
  std::uint8_t* last = data + whole - kBlock;
  Block previous = before;
  if (whole > kBlock) std::memcpy(previous.data(), last - kBlock, kBlock);
  if (!cbc.Update(data, whole - kBlock, data)) return std::nullopt;

  Block opened;
  crypto::Aes256EcbDecryptBlock(key.data(), last, opened.data());
  Block rebuilt;
  std::memcpy(rebuilt.data(), data + whole, tail);
  std::memcpy(rebuilt.data() + tail, opened.data() + tail, kBlock - tail);
  for (std::size_t i = 0; i < tail; ++i) data[whole + i] ^= opened[i];
  crypto::Aes256EcbDecryptBlock(key.data(), rebuilt.data(), last);
  for (std::size_t i = 0; i < kBlock; ++i) last[i] ^= previous[i];
  crypto::SecureZero(opened.data(), opened.size());
  return size;
}

// Reads until the buffer is full or the file ends; -1 on a read error.
long ReadFully(int fd, std::uint8_t* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, buffer + got, size - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long>(got);
}

bool WriteFully(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Closes a descriptor when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now and reports whether everything written reached the file.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Streams source -> target. The last two blocks are always held back until the end
// of the file is known, because a short final block changes how they decrypt.
DecryptStatus Stream(int source, int target, const FileKey& key, std::vector<std::uint8_t>& buffer,
                     Padding padding, DecryptNotes& notes) {
  constexpr std::size_t kHeldBack = 2 * kBlock;
  static_assert(kDecryptBufferSize % kBlock == 0 && kDecryptBufferSize > kHeldBack);
  const Block zero{};
  crypto::Aes256CbcDecryptor cbc(key.data(), zero.data());
  if (!cbc.Ok()) return DecryptStatus::ReadFailed;
  Block before = zero;
  std::size_t pending = 0;
  for (;;) {
    // A scan's stop reaches a large file between pieces: a video may take seconds.
    if (sqlite::ThreadScanControl::StopRequested()) return DecryptStatus::Stopped;
    const long got = ReadFully(source, buffer.data() + pending, buffer.size() - pending);
    if (got < 0) return DecryptStatus::ReadFailed;
    pending += static_cast<std::size_t>(got);
    if (pending < buffer.size()) break;  // end of file
    const std::size_t ready = pending - kHeldBack;
    std::memcpy(before.data(), buffer.data() + ready - kBlock, kBlock);
    if (!cbc.Update(buffer.data(), ready, buffer.data())) return DecryptStatus::ReadFailed;
    if (!WriteFully(target, buffer.data(), ready)) return DecryptStatus::WriteFailed;
    std::memmove(buffer.data(), buffer.data() + ready, kHeldBack);
    pending = kHeldBack;
  }
  const std::optional<std::size_t> keep = DecryptLastPiece(cbc, key, buffer.data(), pending, before, padding, notes);
  if (!keep) return DecryptStatus::ReadFailed;
  return WriteFully(target, buffer.data(), *keep) ? DecryptStatus::Ok : DecryptStatus::WriteFailed;
}

}  // namespace

DecryptStatus DecryptFile(const std::string& inPath, const std::string& outPath, const FileKey& key,
                          Padding padding, DecryptNotes* notes) {
  DecryptNotes noticed;
  // Non-blocking so that a FIFO planted in a backup cannot hang the open; it is refused below.
  Descriptor source(::open(inPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat sourceInfo {};
  if (source.Get() < 0 || ::fstat(source.Get(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode)) {
    return DecryptStatus::OpenFailed;
  }
  // Truncating the target must never destroy the stored file itself.
  struct stat targetInfo {};
  if (::stat(outPath.c_str(), &targetInfo) == 0 && targetInfo.st_dev == sourceInfo.st_dev &&
      targetInfo.st_ino == sourceInfo.st_ino) {
    return DecryptStatus::CreateFailed;
  }
  Descriptor target(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  // Only a regular file is ours to fill and, on failure, to remove; never a device node.
  if (target.Get() < 0 || ::fstat(target.Get(), &targetInfo) != 0 || !S_ISREG(targetInfo.st_mode)) {
    return DecryptStatus::CreateFailed;
  }

  std::vector<std::uint8_t> buffer(kDecryptBufferSize);
  DecryptStatus status = Stream(source.Get(), target.Get(), key, buffer, padding, noticed);
  if (notes != nullptr) *notes = noticed;
  crypto::SecureZero(buffer.data(), buffer.size());
  if (!target.Close() && status == DecryptStatus::Ok) status = DecryptStatus::WriteFailed;
  if (status != DecryptStatus::Ok) ::unlink(outPath.c_str());
  return status;
}

std::vector<std::uint8_t> DecryptBuffer(const std::uint8_t* data, std::size_t size, const FileKey& key) {
  if (data == nullptr || size < kBlock) return {};
  std::vector<std::uint8_t> plain(data, data + size);
  const Block zero{};
  crypto::Aes256CbcDecryptor cbc(key.data(), zero.data());
  DecryptNotes notes;
  const std::optional<std::size_t> keep =
      cbc.Ok() ? DecryptLastPiece(cbc, key, plain.data(), plain.size(), zero, Padding::RemoveWhenValid, notes)
               : std::nullopt;
  if (!keep) {
    crypto::SecureZero(plain.data(), plain.size());
    return {};
  }
  plain.resize(*keep);
  return plain;
}

}  // namespace sieve
