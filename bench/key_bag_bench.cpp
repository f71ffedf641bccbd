// Times opening a key bag against raw OpenSSL PBKDF2 calls with the same salts and
// rounds, in the same run: an open should cost one derivation, not one per class key or
// per pass. Two bags: an older one (PBKDF2-HMAC-SHA1 only) and a newer one that first
// stretches the password with PBKDF2-HMAC-SHA256 (DPSL/DPIC), at the device's counts.
//
//   key_bag_bench [--rounds N] [--dp-rounds N] [--classes N] [--runs N]
//
// Times are CPU seconds of this process (the work never waits), best of several runs taken
// in turn: other work on the machine moves them less than wall time, though still by a
// few per cent on a busy one (run it on a quiet machine for a verdict near the target).
// Defaults: 10,000 SHA-1 rounds, 10,000,000 SHA-256 rounds (0 skips the newer bag; each
// of its opens takes seconds), 10 class keys, 3 runs of each side for the newer bag (25 for
// the older, whose runs take milliseconds). Exits 1 when a bag does not open, or when an
// open of the newer bag costs more than 1.05 times the raw derivation (the older bag: 1.5).
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
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

// The baseline goes straight to libcrypto, not through Sieve's wrappers, so that any
// overhead of those shows up in the ratio.
bool RawPbkdf2(const EVP_MD* md, const std::uint8_t* secret, std::size_t secretSize, const Bytes& salt,
               std::uint32_t rounds, sieve::FileKey& out) {
  return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret), static_cast<int>(secretSize), salt.data(),
                           static_cast<int>(salt.size()), static_cast<int>(rounds), md,
                           static_cast<int>(out.size()), out.data()) == 1;
}

struct Case {
  std::uint32_t rounds = 0;
  std::uint32_t dpRounds = 0;  // 0: the older bag without the SHA-256 stage
  int classes = 0;
  int runs = 0;
  double limit = 0;  // the highest open/raw ratio that passes
};

// Derives the password key once to build a bag whose class keys it wraps, then times
// opening that bag and the raw derivation in turn. False when anything fails or the
// target is missed.
bool RunCase(const Case& c) {
  const std::string password = "benchmark password";
  const auto* secret = reinterpret_cast<const std::uint8_t*>(password.data());
  const Bytes salt(20, 0x5C);
  const Bytes dpSalt(20, 0xA3);
  sieve::FileKey stretched{};
  sieve::FileKey passwordKey{};
  // Fetched once, as any careful caller would; the first call pays for it, untimed.
  EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  bool derived = sha1 != nullptr && sha256 != nullptr;
  const auto derive = [&] {
    if (c.dpRounds == 0) {
      derived = derived && RawPbkdf2(sha1, secret, password.size(), salt, c.rounds, passwordKey);
      return;
    }
    derived = derived && RawPbkdf2(sha256, secret, password.size(), dpSalt, c.dpRounds, stretched) &&
              RawPbkdf2(sha1, stretched.data(), stretched.size(), salt, c.rounds, passwordKey);
  };
  derive();

  Bytes bag;
  Put(bag, "VERS", Int(c.dpRounds ? 4 : 3));
  Put(bag, "TYPE", Int(1));
  Put(bag, "UUID", Bytes(16, 0x01));
  Put(bag, "SALT", salt);
  Put(bag, "ITER", Int(c.rounds));
  if (c.dpRounds) {
    Put(bag, "DPWT", Int(1));
    Put(bag, "DPIC", Int(c.dpRounds));
    Put(bag, "DPSL", dpSalt);
  }
  for (int i = 1; i <= c.classes; ++i) {
    Bytes classKey(32, static_cast<std::uint8_t>(i));
    Bytes wrapped(40);
    sieve::crypto::AesKeyWrap(passwordKey.data(), classKey.data(), classKey.size(), wrapped.data());
    Put(bag, "UUID", Bytes(16, static_cast<std::uint8_t>(0x40 + i)));
    Put(bag, "CLAS", Int(static_cast<std::uint32_t>(i)));
    Put(bag, "WRAP", Int(3));
    Put(bag, "KTYP", Int(0));
    Put(bag, "WPKY", wrapped);
  }

  bool opened = true;
  const auto [open, raw] = bench::BestOfAlternating(
      [&] {
        sieve::CBackupKeyBag keyBag;
        opened = opened && keyBag.Open(bag.data(), bag.size(), password) == sieve::CBackupKeyBag::OpenResult::Opened &&
                 keyBag.ClassKeyCount() == static_cast<std::size_t>(c.classes);
      },
      derive, c.runs, bench::Clock::ProcessCpu);
  EVP_MD_free(sha1);
  EVP_MD_free(sha256);
  if (!derived) {
    std::fprintf(stderr, "PKCS5_PBKDF2_HMAC failed\n");
    return false;
  }
  if (!opened) {
    std::fprintf(stderr, "the key bag did not open with all %d class keys\n", c.classes);
    return false;
  }

  const double ratio = open / raw;
  if (c.dpRounds) {
    std::printf("newer bag: %u SHA-256 rounds, then %u SHA-1 rounds, %d class keys, CPU time, best of %d\n", c.dpRounds,
                c.rounds, c.classes, c.runs);
    std::printf("  raw PBKDF2, both stages  %10.3f s\n", raw);
    std::printf("  key-bag open             %10.3f s\n", open);
  } else {
    std::printf("older bag: %u SHA-1 rounds, %d class keys, CPU time, best of %d\n", c.rounds, c.classes, c.runs);
    std::printf("  raw PBKDF2               %10.2f ms\n", raw * 1e3);
    std::printf("  key-bag open             %10.2f ms\n", open * 1e3);
  }
  std::printf("  open - raw               %10.3f ms  (what the open adds to the derivation)\n", (open - raw) * 1e3);
  std::printf("  ratio                    %10.3f  (target <= %.2f; one derivation per class key would be ~%d) %s\n",
              ratio, c.limit, c.classes, ratio <= c.limit ? "ok" : "MISSED");
  return ratio <= c.limit;
}

}  // namespace

int main(int argc, char** argv) {
  long rounds = 10000;
  long dpRounds = 10000000;
  long classes = 10;
  long runs = 3;
  if (!bench::ReadNumberOptions(argc, argv,
                                {{"--rounds", &rounds}, {"--dp-rounds", &dpRounds}, {"--classes", &classes},
                                 {"--runs", &runs}})) {
    return 2;
  }
  if (rounds <= 0 || dpRounds < 0 || classes <= 0 || classes > 200 || runs <= 0) {
    std::fprintf(stderr, "rounds, classes and runs must be positive, dp-rounds not negative\n");
    return 2;
  }
  // At 10,000 rounds a derivation takes milliseconds, so unwrapping ten class keys alone adds
  // a few per cent; a second derivation would double it, which is what this case guards.
  const auto sha1Rounds = static_cast<std::uint32_t>(rounds);
  const auto sha256Rounds = static_cast<std::uint32_t>(dpRounds);
  const int classKeys = static_cast<int>(classes);
  bool ok = RunCase({sha1Rounds, 0, classKeys, 25, 1.5});
  // Each newer-bag derivation takes seconds: a few of each side are enough to skip a disturbed one.
  if (sha256Rounds > 0) ok = RunCase({sha1Rounds, sha256Rounds, classKeys, static_cast<int>(runs), 1.05}) && ok;
  return ok ? 0 : 1;
}
