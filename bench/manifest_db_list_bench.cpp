// Times listing the file index of a plain newer-layout backup whose Manifest.db has 400,000
// rows - `sieve files BACKUP --json` into /dev/null - beside a plain Python 3 reader of the
// same file (bench/manifest_db_list.py, sqlite3 + plistlib) writing the same JSON, taken in
// turn in the same run; reports sieve's peak memory from its own rusage.
//
//   manifest_db_list_bench [--entries N] [--runs N]     (defaults 400000 entries, 2 runs)
//
// The backup comes from tools/mkbackup/manifest_only.py. Afterwards sieve's listing is
// compared entry by entry with the Python one. Exits 1 on a failed run, a difference, or a
// missed target (sieve at least 10 times as fast, peak memory under 300 MB).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"

namespace {

constexpr double kSpeedTarget = 10;
constexpr double kMemoryTargetMb = 300;
const std::string kPython = "/usr/bin/python3";

void PrintFile(const std::string& path) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) std::printf("  %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  long entryCount = 400000;
  long runs = 2;
  if (!bench::ReadNumberOptions(argc, argv, {{"--entries", &entryCount}, {"--runs", &runs}})) return 2;
  if (entryCount <= 0 || runs <= 0) return 2;
  const std::string entries = std::to_string(entryCount);
  const std::string tools = std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/";
  const std::string reader = std::string(BENCH_SOURCE_DIR) + "/manifest_db_list.py";
  const bench::ScratchFolder folder("manifest_db_list_bench");
  const std::string backup = folder / "backup";

  const bench::ChildRun made = bench::RunChild(
      {kPython, tools + "manifest_only.py", backup, "--entries", entries, "--seed", "1"}, folder / "mkbackup.out");
  if (!made.Succeeded()) {
    std::fprintf(stderr, "manifest_only.py failed\n");
    return 1;
  }
  const double indexMb = static_cast<double>(std::filesystem::file_size(backup + "/Manifest.db")) / 1e6;
  std::printf("Manifest.db: %s rows, %.1f MB, written in %.1f s\n", entries.c_str(), indexMb, made.seconds);

  bool ok = true;
  long peakKb = 0;
  long pythonPeakKb = 0;
  const auto [sieve, python] = bench::BestOfAlternating(
      [&] {
        const bench::ChildRun run = bench::RunChild({SIEVE_PROGRAM, "files", backup, "--json"}, "/dev/null");
        ok = ok && run.Succeeded();
        peakKb = std::max(peakKb, run.peakKb);
      },
      [&] {
        const bench::ChildRun run = bench::RunChild({kPython, reader, backup}, "/dev/null");
        ok = ok && run.Succeeded();
        pythonPeakKb = std::max(pythonPeakKb, run.peakKb);
      },
      static_cast<int>(runs));
  if (!ok) {
    std::fprintf(stderr, "a listing failed\n");
    return 1;
  }
  const double peakMb = static_cast<double>(peakKb) / 1024.0;
  const double speedUp = python / sieve;
  std::printf("best of %ld, taken in turn\n", runs);
  std::printf("  sieve files --json       %8.2f s  peak memory %6.1f MB (target < %.0f MB) %s\n", sieve, peakMb,
              kMemoryTargetMb, peakMb < kMemoryTargetMb ? "ok" : "MISSED");
  std::printf("  manifest_db_list.py      %8.2f s  peak memory %6.1f MB\n", python,
              static_cast<double>(pythonPeakKb) / 1024.0);
  std::printf("  speed-up                 %8.1fx (target >= %.0fx) %s\n", speedUp, kSpeedTarget,
              speedUp >= kSpeedTarget ? "ok" : "MISSED");

  // Fast is worth nothing if the listing is wrong: compare it with the Python reader's.
  const std::string listing = folder / "listing.json";
  const bool listed = bench::RunChild({SIEVE_PROGRAM, "files", backup, "--json"}, listing).Succeeded();
  const bool same =
      listed && bench::RunChild({kPython, reader, backup, "--check", listing}, folder / "check.out").Succeeded();
  PrintFile(folder / "check.out");
  if (!same) std::fprintf(stderr, "sieve's listing differs from the Python reader's\n");
  return same && peakMb < kMemoryTargetMb && speedUp >= kSpeedTarget ? 0 : 1;
}
