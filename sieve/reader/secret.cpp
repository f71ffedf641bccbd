#include "sieve/secret.h"

namespace sieve {

void WipeSecret(void* data, std::size_t size) {
  // Through a volatile pointer: stores to memory about to be freed are otherwise dropped.
  volatile unsigned char* bytes = static_cast<unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

void WipeSecret(std::string& secret) {
  // Growing to the capacity never reallocates and makes the whole buffer ours to overwrite.
  secret.resize(secret.capacity());
  WipeSecret(secret.data(), secret.size());
  secret.clear();
}

void WipeSecret(FileKey& key) { WipeSecret(key.data(), key.size()); }

}  // namespace sieve
