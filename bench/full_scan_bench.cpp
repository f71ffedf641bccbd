// Times one full `sieve scan` of large generated backups (every category's database plus
// about a gigabyte of pictures and videos) beside the time of reading every file of the same
// backup folder (the read floor), both in the same run; reports the scan's peak memory. One
// backup per layout: the older file index (system 9) and the newer one (Manifest.db) of
// systems 16 and 18, the latter with its databases' last changes still in their logs.
//
//   full_scan_bench [--size-mb N] [--layout older|16|18]
//       N: each backup's media budget in MiB (default 1100); --layout: only that one
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

struct Layout {
  const char* name;
  std::vector<std::string> options;  // the generator's, beside the profile and size
};

const Layout kLayouts[] = {
    {"older", {}},
    {"16", {"--manifest-db", "--product-version", "16.7"}},
    {"18", {"--manifest-db", "--product-version", "18.2", "--wal-history"}},
};

// Generates one backup, reads it, scans it and prints the figures; false when a step failed.
bool Measure(const Layout& layout, const std::string& sizeMb) {
  const bench::ScratchFolder folder("full_scan_bench");
  const std::string backup = folder / "backup";
  std::vector<std::string> generate = {"/usr/bin/python3", std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/mkbackup.py",
                                       backup, "--profile", "large", "--size-mb", sizeMb};
  generate.insert(generate.end(), layout.options.begin(), layout.options.end());
  const ChildRun made = RunChild(generate, folder / "mkbackup.out");
  if (!made.Succeeded()) {
    std::fprintf(stderr, "mkbackup failed for the %s layout\n", layout.name);
    return false;
  }
  std::uint64_t bytes = 0;
  std::size_t files = 0;
  // Twice, keeping the faster: the first pass may still be filling the page cache.
  double floor = ReadAll(backup, bytes, files);
  floor = std::min(floor, ReadAll(backup, bytes, files));
  const double gb = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
  std::string shown;
  for (const std::string& option : layout.options) shown += " " + option;
  std::printf("generated the large backup (%s layout:%s): %zu files, %.2f GiB in %.1f s\n", layout.name,
              shown.empty() ? " file index Manifest.mbdb" : shown.c_str(), files, gb, made.seconds);

  const std::string listing = folder / "scan.out";
  const ChildRun scan = RunChild({SIEVE_PROGRAM, "scan", backup}, listing);
  if (!scan.Succeeded()) {
    std::fprintf(stderr, "sieve scan failed with status %d\n", scan.status);
    return false;
  }
  std::printf("  read floor (read every file)  %8.2f s  %8.0f MB/s\n", floor, gb * 1024.0 / floor);
  std::printf("  sieve scan                    %8.2f s  %8.0f MB/s  (%.2f x the read floor), peak memory %.1f MB\n",
              scan.seconds, gb * 1024.0 / scan.seconds, scan.seconds / floor, static_cast<double>(scan.peakKb) / 1024.0);
  // The scan's own table, so a category missing from the backup shows up beside the figures.
  std::ifstream table(listing);
  for (std::string line; std::getline(table, line);) std::printf("    %s\n", line.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sizeMb = "1100";
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mb" && i + 1 < argc) {
      sizeMb = argv[++i];
    } else if (arg == "--layout" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--size-mb N] [--layout older|16|18]\n", argv[0]);
      return 2;
    }
  }
  bool ok = true;
  bool any = false;
  // One at a time, each removed before the next is made: three would not fit every scratch disk.
  for (const Layout& layout : kLayouts) {
    if (!only.empty() && only != layout.name) continue;
    any = true;
    ok = Measure(layout, sizeMb) && ok;
  }
  if (!any) std::fprintf(stderr, "no layout named %s\n", only.c_str());
  return ok && any ? 0 : 1;
}
