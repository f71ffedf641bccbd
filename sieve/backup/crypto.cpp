#include "sieve/backup/crypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace sieve::crypto {
namespace {

// Algorithms are fetched once: an implicit fetch on every call costs more than
// a whole key unwrap, and the index hashes one name per file.
const EVP_MD* Sha1Md() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  return md;
}

const EVP_CIPHER* Aes256Wrap() {
  static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-256-WRAP", nullptr);
  return cipher;
}

const EVP_CIPHER* Aes256Cbc() {
  static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  return cipher;
}

const EVP_CIPHER* Aes256Ecb() {
  static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
  return cipher;
}

struct ContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using ContextPtr = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

bool FitsInt(std::size_t n) { return n <= static_cast<std::size_t>(INT_MAX); }

struct MacFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
using MacPtr = std::unique_ptr<EVP_MAC_CTX, MacFree>;

EVP_MAC* Hmac() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  return mac;
}

// Rounds between two looks at the stop flag: a look costs nothing beside them, and
// even the slowest stage answers within milliseconds.
constexpr std::uint32_t kRoundsPerLook = 4096;

// PBKDF2 (RFC 2898) written out over the MAC interface, the way the library's own
// derivation runs (a keyed template, re-initialised to its key for every round), so
// it costs the same and can stop part-way: a backup of iOS 10.2+ asks for ten
// million rounds, seconds of work that a user may cancel.
bool Pbkdf2(const char* digest, const std::uint8_t* password, std::size_t passwordSize, const std::uint8_t* salt,
            std::size_t saltSize, std::uint32_t iterations, std::uint8_t* out, std::size_t outSize,
            const std::atomic<int>* stop) {
  static const std::uint8_t kEmpty[1] = {0};
  if (Hmac() == nullptr || iterations == 0 || iterations > static_cast<std::uint32_t>(INT_MAX) ||
      !FitsInt(passwordSize) || !FitsInt(saltSize) || !FitsInt(outSize) || out == nullptr) {
    return false;
  }
  const auto* pass = passwordSize == 0 ? kEmpty : password;
  MacPtr keyed(EVP_MAC_CTX_new(Hmac()));
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", const_cast<char*>(digest), 0),
                         OSSL_PARAM_construct_end()};
  bool ok = keyed && EVP_MAC_init(keyed.get(), pass, passwordSize, params) == 1;
  const std::size_t digestSize = ok ? EVP_MAC_CTX_get_mac_size(keyed.get()) : 0;
  std::uint8_t round[EVP_MAX_MD_SIZE];
  ok = ok && digestSize > 0 && digestSize <= sizeof round;
  for (std::uint32_t block = 1; ok && (block - 1) * digestSize < outSize; ++block) {
    const std::uint8_t counter[4] = {std::uint8_t(block >> 24), std::uint8_t(block >> 16), std::uint8_t(block >> 8),
                                     std::uint8_t(block)};
    MacPtr mac(EVP_MAC_CTX_dup(keyed.get()));
    std::size_t written = 0;
    ok = mac && (saltSize == 0 || EVP_MAC_update(mac.get(), salt, saltSize) == 1) &&
         EVP_MAC_update(mac.get(), counter, sizeof counter) == 1 &&
         EVP_MAC_final(mac.get(), round, &written, sizeof round) == 1;
    std::uint8_t* target = out + (block - 1) * digestSize;
    const std::size_t take = std::min(digestSize, outSize - (block - 1) * digestSize);
    if (ok) std::memcpy(target, round, take);
    for (std::uint32_t r = 1; ok && r < iterations; ++r) {
      if (stop != nullptr && r % kRoundsPerLook == 0 && stop->load(std::memory_order_relaxed) != 0) {
        ok = false;
        break;
      }
      ok = EVP_MAC_init(mac.get(), nullptr, 0, nullptr) == 1 && EVP_MAC_update(mac.get(), round, digestSize) == 1 &&
           EVP_MAC_final(mac.get(), round, &written, sizeof round) == 1;
      for (std::size_t k = 0; k < take; ++k) target[k] ^= round[k];
    }
  }
  OPENSSL_cleanse(round, sizeof round);
  if (!ok) {
    ERR_clear_error();
    OPENSSL_cleanse(out, outSize);
  }
  return ok;
}

// Runs one key-wrap operation; returns the bytes written or -1.
int RunKeyWrap(bool unwrap, const std::uint8_t* kek, const std::uint8_t* in, std::size_t inSize,
               std::uint8_t* out) {
  const EVP_CIPHER* cipher = Aes256Wrap();
  ContextPtr context(EVP_CIPHER_CTX_new());
  if (cipher == nullptr || !context) return -1;
  EVP_CIPHER_CTX_set_flags(context.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_CipherInit_ex2(context.get(), cipher, kek, nullptr, unwrap ? 0 : 1, nullptr) != 1) return -1;
  int written = 0;
  if (EVP_CipherUpdate(context.get(), out, &written, in, static_cast<int>(inSize)) != 1) return -1;
  return written;
}

}  // namespace

Sha1Digest Sha1(const void* data, std::size_t size) {
  Sha1Digest digest{};
  static const std::uint8_t kEmpty[1] = {0};
  unsigned int length = 0;
  if (Sha1Md() == nullptr ||
      EVP_Digest(size == 0 ? kEmpty : data, size, digest.data(), &length, Sha1Md(), nullptr) != 1 ||
      length != digest.size()) {
    ERR_clear_error();
    digest.fill(0);
  }
  return digest;
}

std::string HexLower(const std::uint8_t* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[data[i] >> 4];
    text[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  return text;
}

bool Pbkdf2HmacSha1(const std::uint8_t* password, std::size_t passwordSize, const std::uint8_t* salt,
                    std::size_t saltSize, std::uint32_t iterations, std::uint8_t* out, std::size_t outSize,
                    const std::atomic<int>* stop) {
  return Pbkdf2("SHA1", password, passwordSize, salt, saltSize, iterations, out, outSize, stop);
}

bool Pbkdf2HmacSha256(const std::uint8_t* password, std::size_t passwordSize, const std::uint8_t* salt,
                      std::size_t saltSize, std::uint32_t iterations, std::uint8_t* out, std::size_t outSize,
                      const std::atomic<int>* stop) {
  return Pbkdf2("SHA256", password, passwordSize, salt, saltSize, iterations, out, outSize, stop);
}

bool AesKeyUnwrap(const std::uint8_t* kek, const std::uint8_t* wrapped, std::size_t wrappedSize,
                  std::uint8_t* out) {
  if (wrappedSize < 24 || wrappedSize % 8 != 0 || !FitsInt(wrappedSize)) return false;
  const std::size_t plainSize = wrappedSize - 8;
  const int written = RunKeyWrap(true, kek, wrapped, wrappedSize, out);
  if (written != static_cast<int>(plainSize)) {
    // The library has already written the unchecked bytes; they are not a key.
    ERR_clear_error();
    OPENSSL_cleanse(out, plainSize);
    return false;
  }
  return true;
}

bool AesKeyWrap(const std::uint8_t* kek, const std::uint8_t* plain, std::size_t plainSize, std::uint8_t* out) {
  if (plainSize < 16 || plainSize % 8 != 0 || !FitsInt(plainSize + 8)) return false;
  if (RunKeyWrap(false, kek, plain, plainSize, out) != static_cast<int>(plainSize + 8)) {
    ERR_clear_error();
    return false;
  }
  return true;
}

Aes256CbcDecryptor::Aes256CbcDecryptor(const std::uint8_t key[32], const std::uint8_t iv[16]) {
  const EVP_CIPHER* cipher = Aes256Cbc();
  ContextPtr context(EVP_CIPHER_CTX_new());
  if (cipher == nullptr || !context) return;
  if (EVP_DecryptInit_ex2(context.get(), cipher, key, iv, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
    ERR_clear_error();
    return;
  }
  context_ = context.release();
}

Aes256CbcDecryptor::~Aes256CbcDecryptor() { EVP_CIPHER_CTX_free(context_); }

bool Aes256CbcDecryptor::Ok() const { return context_ != nullptr; }

bool Aes256CbcDecryptor::Update(const std::uint8_t* in, std::size_t size, std::uint8_t* out) {
  if (context_ == nullptr || size % 16 != 0) return false;
  // The library counts in int; larger requests go in slices that keep the block alignment.
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  while (size > 0) {
    const std::size_t slice = size < kSlice ? size : kSlice;
    int written = 0;
    if (EVP_DecryptUpdate(context_, out, &written, in, static_cast<int>(slice)) != 1 ||
        written != static_cast<int>(slice)) {
      ERR_clear_error();
      return false;
    }
    in += slice;
    out += slice;
    size -= slice;
  }
  return true;
}

void Aes256EcbDecryptBlock(const std::uint8_t key[32], const std::uint8_t in[16], std::uint8_t out[16]) {
  const EVP_CIPHER* cipher = Aes256Ecb();
  ContextPtr context(EVP_CIPHER_CTX_new());
  int written = 0;
  if (cipher == nullptr || !context || EVP_DecryptInit_ex2(context.get(), cipher, key, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
      EVP_DecryptUpdate(context.get(), out, &written, in, 16) != 1 || written != 16) {
    ERR_clear_error();
    OPENSSL_cleanse(out, 16);
  }
}

void SecureZero(void* p, std::size_t n) {
  if (p != nullptr && n > 0) OPENSSL_cleanse(p, n);
}

}  // namespace sieve::crypto
