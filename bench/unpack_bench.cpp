// Times `sieve unpack` of a ~2 GiB encrypted newer-layout backup beside `openssl enc -d`
// of the same stored files with the same keys, taken in turn in the same run; reports the
// throughput of each over the stored bytes and sieve's peak memory.
//
//   unpack_bench [--size-mb N] [--runs N]     (defaults 2048 MiB, 3 runs)
//
// Takes one to four minutes on two cores, depending on other work (generating the backup is
// the largest part), and about 4.5 GiB of scratch space under $TMPDIR: the backup, sieve's output and one openssl output at a time. The
// password is random, lives only in a mode-0600 file in the private scratch folder, and the
// key bag uses small round counts so the derivation does not drown the decryption. The file
// keys for openssl come from bench/backup_file_keys.py (they protect nothing but this
// throw-away backup, so they may appear on openssl's command line). Every openssl output
// is compared with sieve's file of the same name. Exits 1 on a failed run, a difference, or
// a missed target (sieve at least 0.8 of openssl's speed).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
constexpr double kTarget = 0.8;
constexpr std::uintmax_t kSmallFile = std::uintmax_t{1} << 20;
const std::string kPython = "/usr/bin/python3";

struct StoredFile {
  std::string key;  // hex
  std::string stored;
  std::string domain;
  std::string path;
  std::uintmax_t size = 0;
};

bool WritePrivateFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

// Lines of key, stored path, domain and path, tab-separated; the file is removed once read.
std::vector<StoredFile> ReadKeys(const std::string& keysPath, const std::string& backup) {
  std::vector<StoredFile> files;
  std::ifstream in(keysPath);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    StoredFile f;
    if (std::getline(fields, f.key, '\t') && std::getline(fields, f.stored, '\t') &&
        std::getline(fields, f.domain, '\t') && std::getline(fields, f.path)) {
      f.size = fs::file_size(backup + "/" + f.stored);
      files.push_back(std::move(f));
    }
  }
  fs::remove(keysPath);
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  long sizeMb = 2048;
  long runs = 3;
  if (!bench::ReadNumberOptions(argc, argv, {{"--size-mb", &sizeMb}, {"--runs", &runs}})) return 2;
  if (sizeMb <= 0 || runs <= 0) return 2;
  const bench::ScratchFolder folder("unpack_bench");
  const std::string backup = folder / "backup";
  const std::string passwordFile = folder / "password";
  const std::string output = folder / "unpacked";
  const std::string single = folder / "openssl.out";

  std::random_device random;
  std::string password;
  for (int i = 0; i < 24; ++i) password += "0123456789abcdef"[random() % 16];
  if (!WritePrivateFile(passwordFile, password + "\n")) {
    std::fprintf(stderr, "cannot write the password file\n");
    return 1;
  }
  const bench::ChildRun made = bench::RunChild(
      {kPython, std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/mkbackup.py", backup, "--profile", "large",
       "--size-mb", std::to_string(sizeMb), "--manifest-db", "--encrypted", "--password-file", passwordFile,
       "--double-protection", "--dp-iterations", "1000", "--iterations", "1000"},
      folder / "mkbackup.out");
  const bench::ChildRun keyed = bench::RunChild(
      {kPython, std::string(BENCH_SOURCE_DIR) + "/backup_file_keys.py", backup, passwordFile, folder / "keys"},
      "/dev/null");
  if (!made.Succeeded() || !keyed.Succeeded()) {
    std::fprintf(stderr, "generating the backup or reading its keys failed\n");
    return 1;
  }
  const std::vector<StoredFile> files = ReadKeys(folder / "keys", backup);
  if (files.empty()) {
    std::fprintf(stderr, "the backup has no stored files with keys\n");
    return 1;
  }
  std::uintmax_t bytes = 0;
  std::uintmax_t smallBytes = 0;
  std::size_t smallFiles = 0;
  for (const StoredFile& f : files) {
    bytes += f.size;
    smallBytes += f.size < kSmallFile ? f.size : 0;
    smallFiles += f.size < kSmallFile ? 1 : 0;
  }
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("encrypted backup: %zu stored files, %.1f MB, generated in %.1f s\n", files.size(), mb, made.seconds);

  // Each round starts with nothing waiting to be written, so neither side pays for the
  // other's output; openssl writes one file at a time, compared and removed untimed.
  double best[2] = {1e300, 1e300};
  double smallSeconds = 0;
  long peakKb = 0;
  std::size_t differing = 0;
  for (int round = 0; round < runs; ++round) {
    ::sync();
    const bench::ChildRun unpack = bench::RunChild(
        {SIEVE_PROGRAM, "unpack", backup, "-o", output, "--password-file", passwordFile}, folder / "unpack.out");
    if (!unpack.Succeeded()) {
      std::fprintf(stderr, "sieve unpack failed with status %d\n", unpack.status);
      return 1;
    }
    peakKb = std::max(peakKb, unpack.peakKb);
    ::sync();
    double openssl = 0;
    double small = 0;
    for (const StoredFile& f : files) {
      const bench::ChildRun run =
          bench::RunChild({"/usr/bin/openssl", "enc", "-d", "-aes-256-cbc", "-K", f.key, "-iv", std::string(32, '0'),
                           "-in", backup + "/" + f.stored, "-out", single},
                          "/dev/null");
      if (!run.Succeeded()) {
        std::fprintf(stderr, "openssl enc failed on %s\n", f.stored.c_str());
        return 1;
      }
      openssl += run.seconds;
      small += f.size < kSmallFile ? run.seconds : 0;
      differing += bench::SameContent(single, output + "/" + f.domain + "/" + f.path) ? 0 : 1;
      fs::remove(single);
    }
    fs::remove_all(output);
    std::string summary;
    std::getline(std::ifstream(folder / "unpack.out"), summary);
    std::printf("round %d: sieve unpack %.2f s (%s), openssl enc %.2f s\n", round + 1, unpack.seconds,
                summary.c_str(), openssl);
    if (openssl < best[1]) smallSeconds = small;
    best[0] = std::min(best[0], unpack.seconds);
    best[1] = std::min(best[1], openssl);
  }
  const double ratio = best[1] / best[0];
  std::printf("best of %ld\n", runs);
  std::printf("  sieve unpack   %8.2f s  %7.1f MB/s  peak memory %.1f MB\n", best[0], mb / best[0],
              static_cast<double>(peakKb) / 1024.0);
  std::printf("  openssl enc    %8.2f s  %7.1f MB/s  (%zu processes; %.2f s of it on the %zu files under 1 MiB)\n",
              best[1], mb / best[1], files.size(), smallSeconds, smallFiles);
  std::printf("  speed ratio    %8.2f  (sieve / openssl; target >= %.1f) %s\n", ratio, kTarget,
              ratio >= kTarget ? "ok" : "MISSED");
  // Process start-up dominates openssl's small files; against its big files alone, sieve
  // (still timed over every file) must hold up too.
  const double bigMb = static_cast<double>(bytes - smallBytes) / 1e6;
  if (best[1] > smallSeconds && bigMb > 0) {
    std::printf("  stricter       %8.2f  (sieve / openssl on the files of 1 MiB and more, %.1f MB/s)\n",
                (mb / best[0]) / (bigMb / (best[1] - smallSeconds)), bigMb / (best[1] - smallSeconds));
  }
  std::printf("  outputs        %s\n", differing == 0 ? "identical" : "DIFFER");
  if (differing != 0) std::fprintf(stderr, "%zu files of sieve's output differ from openssl's\n", differing);
  return differing == 0 && ratio >= kTarget ? 0 : 1;
}
