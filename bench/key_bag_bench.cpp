// Times one key-bag open (10 class keys, 10,000 rounds) against one raw PBKDF2 call
// with the same rounds: an open should cost one derivation, not one per class key.
//   key_bag_bench [ROUNDS] [CLASSES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sieve/backup/crypto.h"
#include "sieve/backup/key_bag.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& out, const char* tag, const Bytes& value) {
  out.insert(out.end(), tag, tag + 4);
  const auto n = static_cast<std::uint32_t>(value.size());
  out.insert(out.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                         static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  out.insert(out.end(), value.begin(), value.end());
}

Bytes Int(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

template <typename Work>
double MedianSeconds(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const auto rounds = static_cast<std::uint32_t>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000);
  const int classes = argc > 2 ? std::atoi(argv[2]) : 10;
  if (rounds == 0 || classes <= 0) {
    std::fprintf(stderr, "usage: key_bag_bench [ROUNDS>0] [CLASSES>0]\n");
    return 2;
  }
  const std::string password = "benchmark password";
  const Bytes salt(20, 0x5C);
  const auto* secret = reinterpret_cast<const std::uint8_t*>(password.data());
  sieve::FileKey passwordKey{};
  if (!sieve::crypto::Pbkdf2HmacSha1(secret, password.size(), salt.data(), salt.size(), rounds, passwordKey.data(),
                                     passwordKey.size())) {
    return 1;
  }
  Bytes bag;
  Put(bag, "VERS", Int(3));
  Put(bag, "TYPE", Int(1));
  Put(bag, "UUID", Bytes(16, 0x01));
  Put(bag, "SALT", salt);
  Put(bag, "ITER", Int(rounds));
  for (int i = 1; i <= classes; ++i) {
    Bytes classKey(32, static_cast<std::uint8_t>(i));
    Bytes wrapped(40);
    sieve::crypto::AesKeyWrap(passwordKey.data(), classKey.data(), classKey.size(), wrapped.data());
    Put(bag, "UUID", Bytes(16, static_cast<std::uint8_t>(0x40 + i)));
    Put(bag, "CLAS", Int(static_cast<std::uint32_t>(i)));
    Put(bag, "WRAP", Int(3));
    Put(bag, "KTYP", Int(0));
    Put(bag, "WPKY", wrapped);
  }

  constexpr int kRuns = 5;
  bool opened = true;
  const double open = MedianSeconds(kRuns, [&] {
    sieve::CBackupKeyBag keyBag;
    opened = opened && keyBag.Open(bag.data(), bag.size(), password) == sieve::CBackupKeyBag::OpenResult::Opened &&
             keyBag.ClassKeyCount() == static_cast<std::size_t>(classes);
  });
  sieve::FileKey out{};
  const double raw = MedianSeconds(kRuns, [&] {
    sieve::crypto::Pbkdf2HmacSha1(secret, password.size(), salt.data(), salt.size(), rounds, out.data(), out.size());
  });
  if (!opened) {
    std::fprintf(stderr, "the key bag did not open\n");
    return 1;
  }
  std::printf("rounds %u, class keys %d, median of %d runs\n", rounds, classes, kRuns);
  std::printf("key-bag open   %.2f ms\n", open * 1e3);
  std::printf("raw PBKDF2     %.2f ms\n", raw * 1e3);
  std::printf("ratio          %.2f (target ~1; one derivation per class key would be ~%d)\n", open / raw, classes);
  return 0;
}
