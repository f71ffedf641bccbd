// The few cryptographic primitives an encrypted backup needs. Every call into
// libcrypto lives behind these functions, so the rest of Sieve never sees OpenSSL.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_cipher_ctx_st;

namespace sieve::crypto {

using Sha1Digest = std::array<std::uint8_t, 20>;

Sha1Digest Sha1(const void* data, std::size_t size);

// Two lower-case hexadecimal digits per byte.
std::string HexLower(const std::uint8_t* data, std::size_t size);

// PBKDF2 (RFC 2898). The password is raw bytes of any length, zero allowed.
// False when iterations is 0 or too large for the library, on a library failure, or
// when `stop` (looked at every few thousand rounds) became non-zero; out is wiped then.
bool Pbkdf2HmacSha1(const std::uint8_t* password, std::size_t passwordSize, const std::uint8_t* salt,
                    std::size_t saltSize, std::uint32_t iterations, std::uint8_t* out, std::size_t outSize,
                    const std::atomic<int>* stop = nullptr);
bool Pbkdf2HmacSha256(const std::uint8_t* password, std::size_t passwordSize, const std::uint8_t* salt,
                      std::size_t saltSize, std::uint32_t iterations, std::uint8_t* out, std::size_t outSize,
                      const std::atomic<int>* stop = nullptr);

// AES key wrap (RFC 3394, default initial value) with a 32-byte key-encryption key.
// wrappedSize must be a multiple of 8 and at least 24; writes wrappedSize - 8 bytes.
// False on a failed integrity check (out is zeroed then) or on a bad size (out untouched).
bool AesKeyUnwrap(const std::uint8_t* kek, const std::uint8_t* wrapped, std::size_t wrappedSize,
                  std::uint8_t* out);
// The inverse, for tests and the sample generator: plainSize a multiple of 8, at least 16;
// writes plainSize + 8 bytes.
bool AesKeyWrap(const std::uint8_t* kek, const std::uint8_t* plain, std::size_t plainSize, std::uint8_t* out);

// AES-256-CBC decryption that keeps its chaining state between calls and never
// touches padding; the caller deals with the end of the data.
class Aes256CbcDecryptor {
 public:
  Aes256CbcDecryptor(const std::uint8_t key[32], const std::uint8_t iv[16]);
  ~Aes256CbcDecryptor();
  Aes256CbcDecryptor(const Aes256CbcDecryptor&) = delete;
  Aes256CbcDecryptor& operator=(const Aes256CbcDecryptor&) = delete;

  bool Ok() const;
  // size must be a multiple of 16; in and out may be the same buffer (not partly overlapping).
  bool Update(const std::uint8_t* in, std::size_t size, std::uint8_t* out);

 private:
  evp_cipher_ctx_st* context_ = nullptr;
};

// One raw AES-256 block decryption, used for the final blocks of a stolen-ciphertext tail.
// in and out may be the same.
void Aes256EcbDecryptBlock(const std::uint8_t key[32], const std::uint8_t in[16], std::uint8_t out[16]);

// Wipes memory in a way the optimiser cannot drop.
void SecureZero(void* p, std::size_t n);

}  // namespace sieve::crypto
