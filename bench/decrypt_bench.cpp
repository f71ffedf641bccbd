// Times DecryptFile on a large random ciphertext against `openssl enc -d` on the same
// bytes in the same run.
//   decrypt_bench [DIR] [MIB]   (defaults: $TMPDIR or /tmp, 1024 MiB; 0 MiB skips)
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sieve/backup/crypto.h"
#include "sieve/backup/file_decryptor.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

bool WriteRandomFile(const std::string& path, std::size_t mebibytes, std::mt19937_64& random) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint64_t> chunk(kMiB / sizeof(std::uint64_t));
  for (std::size_t i = 0; i < mebibytes && out; ++i) {
    for (auto& word : chunk) word = random();
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(kMiB));
  }
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  const std::size_t mebibytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  if (mebibytes == 0) {
    std::printf("decrypt_bench: size 0, skipped\n");
    return 0;
  }
  std::string pattern = (fs::path(base) / "decrypt-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = pattern;
  const std::string cipher = (dir / "cipher").string();
  const std::string ours = (dir / "ours").string();
  const std::string theirs = (dir / "openssl").string();

  // A throw-away key for random bytes; it protects nothing, so passing it to openssl is fine.
  std::random_device seed;
  std::mt19937_64 random((std::uint64_t{seed()} << 32) | seed());
  sieve::FileKey key;
  for (auto& b : key) b = static_cast<std::uint8_t>(random());
  if (!WriteRandomFile(cipher, mebibytes, random)) {
    std::fprintf(stderr, "cannot write %zu MiB into %s\n", mebibytes, dir.c_str());
    fs::remove_all(dir);
    return 1;
  }
  const std::string command = "openssl enc -d -aes-256-cbc -nopad -K " + sieve::crypto::HexLower(key.data(), 32) +
                              " -iv 00000000000000000000000000000000 -in '" + cipher + "' -out '" + theirs + "'";

  // Alternate the two twice and keep each one's best time, so page-cache warm-up and
  // noise do not favour either side.
  double best[2] = {1e300, 1e300};
  bool ok = true;
  for (int round = 0; round < 2 && ok; ++round) {
    fs::remove(ours);
    fs::remove(theirs);
    const double mine =
        bench::SecondsOf([&] { ok = sieve::DecryptFile(cipher, ours, key) == sieve::DecryptStatus::Ok; }, 1);
    int rc = 0;
    const double baseline = bench::SecondsOf([&] { rc = std::system(command.c_str()); }, 1);
    ok = ok && rc == 0;
    best[0] = std::min(best[0], mine);
    best[1] = std::min(best[1], baseline);
    std::printf("round %d: DecryptFile %.3f s, openssl enc %.3f s\n", round + 1, mine, baseline);
  }
  if (!ok) {
    std::fprintf(stderr, "a decryption failed\n");
    fs::remove_all(dir);
    return 1;
  }
  // Random plaintext ends in a valid padding now and then; only then may the sizes differ.
  const bool same = bench::SameContent(ours, theirs);
  const double bytes = static_cast<double>(mebibytes * kMiB);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("size %zu MiB\n", mebibytes);
  std::printf("DecryptFile  %.2f GB/s\n", bytes / best[0] / 1e9);
  std::printf("openssl enc  %.2f GB/s\n", bytes / best[1] / 1e9);
  std::printf("ratio        %.2f (target >= 0.8)\n", best[1] / best[0]);
  std::printf("outputs      %s\n", same ? "identical" : "differ (check for a stripped padding)");
  std::printf("peak RSS     %ld MiB\n", usage.ru_maxrss / 1024);
  fs::remove_all(dir);
  return 0;
}
