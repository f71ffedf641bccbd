// Times one full `sieve scan` of a large generated backup (every category's database plus
// about a gigabyte of pictures and videos) beside the time of reading every file of the same
// backup folder (the read floor), both in the same run; reports the scan's peak memory.
//
//   full_scan_bench [--size-mb N]     (default 1100: the backup's media budget in MiB)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::ChildRun;
using bench::RunChild;
namespace fs = std::filesystem;

// Reads every regular file under folder as cat would; returns seconds and counts the bytes.
double ReadAll(const fs::path& folder, std::uint64_t& bytes, std::size_t& files) {
  std::vector<char> buffer(1 << 20);
  bytes = 0;
  files = 0;
  const auto start = Clock::now();
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const int fd = open(entry.path().c_str(), O_RDONLY);
    if (fd < 0) continue;
    for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) bytes += static_cast<std::uint64_t>(n);
    close(fd);
    ++files;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string sizeMb = "1100";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mb" && i + 1 < argc) {
      sizeMb = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--size-mb N]\n", argv[0]);
      return 2;
    }
  }
  const bench::ScratchFolder folder("full_scan_bench");
  const std::string backup = folder / "backup";
  const ChildRun made = RunChild({"/usr/bin/python3", std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/mkbackup.py",
                                  backup, "--profile", "large", "--size-mb", sizeMb},
                                 folder / "mkbackup.out");
  if (!made.Succeeded()) {
    std::fprintf(stderr, "mkbackup failed\n");
    return 1;
  }
  std::uint64_t bytes = 0;
  std::size_t files = 0;
  // Twice, keeping the faster: the first pass may still be filling the page cache.
  double floor = ReadAll(backup, bytes, files);
  floor = std::min(floor, ReadAll(backup, bytes, files));
  const double gb = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
  std::printf("generated the large backup: %zu files, %.2f GiB in %.1f s\n", files, gb, made.seconds);

  const std::string listing = folder / "scan.out";
  const ChildRun scan = RunChild({SIEVE_PROGRAM, "scan", backup}, listing);
  if (!scan.Succeeded()) {
    std::fprintf(stderr, "sieve scan failed with status %d\n", scan.status);
    return 1;
  }
  std::printf("  read floor (read every file)  %8.2f s  %8.0f MB/s\n", floor, gb * 1024.0 / floor);
  std::printf("  sieve scan                    %8.2f s  %8.0f MB/s  (%.2f x the read floor), peak memory %.1f MB\n",
              scan.seconds, gb * 1024.0 / scan.seconds, scan.seconds / floor, static_cast<double>(scan.peakKb) / 1024.0);
  // The scan's own table, so a category missing from the backup shows up beside the figures.
  std::ifstream table(listing);
  for (std::string line; std::getline(table, line);) std::printf("    %s\n", line.c_str());
  return 0;
}
