// The key bag of an encrypted backup: its class keys, unwrapped with the user's
// password, and the unwrapping of per-file keys with them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sieve/file_key.h"

namespace sieve {

class CBackupKeyBag {
 public:
  // Refused: the key bag asks for far more derivation rounds than any device writes
  // (hours of work for nothing but a damaged or hostile file).
  // Stopped: the derivation was cancelled through its stop flag.
  enum class OpenResult { Opened, Malformed, WrongPassword, Refused, Stopped };

  // Devices write ITER 10,000 and, since iOS 10.2, DPIC 10,000,000 (seconds of work).
  static constexpr std::uint32_t kMaxIterations = 10000000;
  static constexpr std::uint32_t kMaxStretchIterations = 50000000;

  CBackupKeyBag() = default;
  ~CBackupKeyBag();
  // Key material has one owner.
  CBackupKeyBag(const CBackupKeyBag&) = delete;
  CBackupKeyBag& operator=(const CBackupKeyBag&) = delete;

  // Parses the key-bag bytes (never modified) and unwraps the class keys with the
  // password: raw bytes of any length, no terminating NUL. The password key is
  // derived once per call and wiped afterwards. Any earlier content is cleared first.
  // Opened: at least one class key unwrapped (a class whose key does not unwrap simply
  // has none). WrongPassword: classes needed the password and none unwrapped.
  // Malformed: the bytes are not a usable key bag.
  OpenResult Open(const std::uint8_t* data, std::size_t size, const std::string& password);
  // The two halves of Open: the slow derivation of the password key (PBKDF2-HMAC-SHA256
  // with DPSL/DPIC when the bag has them, then PBKDF2-HMAC-SHA1 with SALT/ITER), and
  // the unwrapping of the class keys with a key derived earlier. Derive leaves the bag
  // closed; Opened from Derive means the key is in `passwordKey`.
  static OpenResult Derive(const std::uint8_t* data, std::size_t size, const std::string& password,
                           FileKey& passwordKey, const std::atomic<int>* stop = nullptr);
  OpenResult OpenWithKey(const std::uint8_t* data, std::size_t size, const FileKey& passwordKey);
  // The rounds a bag asks for (SHA-1 and SHA-256 stages; 0 when absent), for messages.
  static bool Rounds(const std::uint8_t* data, std::size_t size, std::uint32_t& iterations,
                     std::uint32_t& stretchIterations);
  bool IsOpen() const;
  std::size_t ClassKeyCount() const;

  // 40 wrapped bytes -> file key, trying each class key in key-bag order.
  // False (out zeroed) when the size is not 40 or no class key unwraps it.
  bool UnwrapFileKey(const std::uint8_t* wrapped, std::size_t size, FileKey& out) const;
  // An index entry's key field: 4 bytes of protection class (little-endian), then the
  // 40 wrapped bytes. Any other length gives false without reading past the field.
  // The class key of the entry's own class is tried first, then the others in order.
  bool FileKeyFromIndexField(const std::vector<std::uint8_t>& field, FileKey& out) const;

  // Wipes every key and forgets the key bag.
  void Clear();

 private:
  struct ClassKey {
    FileKey key{};
    std::uint32_t wrap = 0;
    std::uint32_t protectionClass = 0;
    std::uint32_t keyType = 0;
  };

  bool TryUnwrap(const ClassKey& classKey, const std::uint8_t* wrapped, FileKey& out) const;

  std::vector<ClassKey> classKeys_;
  bool open_ = false;
};

}  // namespace sieve
