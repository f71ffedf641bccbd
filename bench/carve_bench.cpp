// Times the deleted-record engine over large databases it builds itself, beside baselines
// measured in the same run.
//
//   carve_bench [--size-mb N] [--free-pages]
//   carve_bench --cli [--size-mb N] [--wal-mb N] [--baseline SIEVE]  (defaults 1024 MB, 100 MB)
//   (through bench/run: bash bench/run carve --cli)
//
// Without --cli: Carve() and the one-shape scan in this process over a database of N MB,
// beside reading the same bytes into memory and SQLite's SELECT count(*). --free-pages adds
// a file of twice the size in which about 30% of the pages end up on the freelist.
//
// --cli times the whole command, `sieve carve DB --json > /dev/null`, over a database with
// about 30% free pages and a write-ahead log of updates to it, beside `cat` of the same
// bytes and beside SQLite reading every live row, page-cached, with the peak memory of
// each child; then the same over a database and log four times smaller, to show the
// carve's memory does not grow with the file. --baseline runs another build of sieve (the main
// branch's) beside it in every round, for its time and memory under the same load; the load
// average is printed before and after. The databases are generated on the first run (a few
// minutes) and kept in the build tree's bench/cache. Exits 1 below 300 MB/s (database and
// log bytes per second).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/carve_bench_db.h"
#include "sieve/sqlite/carve_engine.h"
#include "sieve/sqlite/found_rows.h"
#include "sieve/sqlite/live_rows.h"
#include "sieve/sqlite/sqlite_delete.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::SecondsOf;

class MessageCarver : public sieve::CSqliteDelete {
 public:
  std::size_t records = 0;

 protected:
  std::vector<sieve::RecordShape> Shapes() const override {
    auto shape = ShapeForTable("message");
    return shape ? std::vector<sieve::RecordShape>{*shape} : std::vector<sieve::RecordShape>{};
  }
  void OnRecord(std::size_t, const sieve::CarvedRecord&, const sieve::RecordOrigin&) override { ++records; }
};

void Measure(const std::string& path, const char* label) {
  const double mb = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
  std::vector<std::uint8_t> sink;
  const double readFloor = SecondsOf([&] {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
    sink.resize(std::filesystem::file_size(path));
    if (std::fread(sink.data(), 1, sink.size(), in.get()) != sink.size()) std::exit(1);
  });
  sink = {};

  MessageCarver carver;
  const double load = SecondsOf([&] { carver.Load(path); });
  std::uint64_t regionBytes = 0;
  std::size_t regions = 0;
  carver.ForEachFreeRegion([&](const sieve::FreeRegion& r) {
    regionBytes += r.length;
    ++regions;
  });
  const double scan = SecondsOf([&] {
    carver.records = 0;
    carver.scan();
  });
  const double live = SecondsOf([&] { (void)carver.LiveRowids("message"); });
  // The schema-driven carve: every table, live-row filter and overflow chains included.
  const sieve::sqlite::FileHistory history =
      sieve::sqlite::MainFileHistory(std::vector<std::uint8_t>(carver.Bytes().begin(), carver.Bytes().end()));
  std::size_t carvedRows = 0;
  const double carve = SecondsOf([&] {
    carvedRows = 0;
    sieve::sqlite::Carve(history, {}, [&](const sieve::sqlite::CarvedRow&) { ++carvedRows; });
  });

  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::int64_t count = 0;
  const double select = SecondsOf([&] {
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM message", -1, &q, nullptr);
    if (sqlite3_step(q) == SQLITE_ROW) count = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
  });
  sqlite3_close(db);

  const double regionMb = static_cast<double>(regionBytes) / (1024.0 * 1024.0);
  const auto header = carver.Bytes();
  const std::uint32_t freelistPages = header.size() >= 40 ? (std::uint32_t{header[36]} << 24) |
                                                                (std::uint32_t{header[37]} << 16) |
                                                                (std::uint32_t{header[38]} << 8) | header[39]
                                                          : 0;
  const double freeShare = carver.PageCount() > 0 ? 100.0 * freelistPages / carver.PageCount() : 0.0;
  std::printf("%s: %.1f MB, %u pages (%u on the freelist, %.1f%% free), %zu free regions holding %.1f MB, %zu records carved, %lld live rows\n",
              label, mb, carver.PageCount(), freelistPages, freeShare, regions, regionMb, carver.records, static_cast<long long>(count));
  std::printf("  read floor (fread whole file)   %8.3f s  %8.0f MB/s\n", readFloor, mb / readFloor);
  std::printf("  Load (read + page map + schema) %8.3f s  %8.0f MB/s\n", load, mb / load);
  std::printf("  scan (carve one shape)          %8.3f s  %8.0f MB/s of file, %.0f MB/s of free space\n", scan,
              mb / scan, regionMb / scan);
  std::printf("  Load + scan                     %8.3f s  %8.0f MB/s  (%.2f x the read floor)\n", load + scan,
              mb / (load + scan), (load + scan) / readFloor);
  std::printf("  LiveRowids (b-tree walk)        %8.3f s\n", live);
  std::printf("  Carve (all tables, live filter) %8.3f s  %8.0f MB/s, %zu rows\n", carve, mb / carve, carvedRows);
  std::printf("  sqlite SELECT count(*)          %8.3f s  %8.0f MB/s\n", select, mb / select);
}

constexpr double kCliTargetMbPerSecond = 300.0;

// SQLite reading every column of every live row of every table, the log applied; gives the
// number of rows.
std::int64_t ReadEveryLiveRow(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> tables;
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &q, nullptr);
  while (sqlite3_step(q) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
  sqlite3_finalize(q);
  std::int64_t bytes = 0;
  std::int64_t rows = 0;
  for (const std::string& table : tables) {
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &q, nullptr);
    for (; sqlite3_step(q) == SQLITE_ROW; ++rows) {
      for (int c = 0; c < sqlite3_column_count(q); ++c) bytes += sqlite3_column_bytes(q, c);
    }
    sqlite3_finalize(q);
  }
  sqlite3_close(db);
  if (bytes == 0) std::fprintf(stderr, "SQLite read no live row of %s\n", path.c_str());
  return rows;
}

std::size_t CountLines(const std::string& path) {
  std::ifstream in(path);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

struct CommandFigures {
  double mb = 0;
  std::size_t records = 0;
  std::int64_t liveRows = 0;
  bench::ChildRun carve, cat, baseline;  // the fastest run of each; peakAnonKb the most of any run
  double select = 1e300;
};

// Three rounds of the carve, cat and SQLite in turn over the page-cached files; the first,
// untimed, run writes the records to count them and warms the cache.
// baseline: another build of sieve (the main branch's) run beside it in each round, or "".
bool MeasureOne(const bench::ScratchFolder& scratch, const std::string& path, const std::string& baseline,
                CommandFigures& figures) {
  figures.mb = static_cast<double>(std::filesystem::file_size(path) + std::filesystem::file_size(path + "-wal")) /
               (1024.0 * 1024.0);
  const std::string records = scratch / "records.jsonl";
  if (!bench::RunChild({SIEVE_PROGRAM, "carve", path, "--json", "-q"}, records).Succeeded()) return false;
  figures.records = CountLines(records) - 1;  // the summary line
  std::filesystem::remove(records);
  long carveAnon = 0, baselineAnon = 0;
  for (int round = 0; round < 3; ++round) {
    if (!baseline.empty()) {
      const bench::ChildRun other = bench::RunChild({baseline, "carve", path, "--json", "-q"}, "/dev/null");
      if (!other.Succeeded()) {
        std::fprintf(stderr, "the baseline %s failed (status %d)\n", baseline.c_str(), other.status);
        return false;
      }
      baselineAnon = std::max(baselineAnon, other.peakAnonKb);
      if (round == 0 || other.seconds < figures.baseline.seconds) figures.baseline = other;
    }
    const bench::ChildRun carve = bench::RunChild({SIEVE_PROGRAM, "carve", path, "--json", "-q"}, "/dev/null");
    const bench::ChildRun cat = bench::RunChild({"/bin/cat", path, path + "-wal"}, "/dev/null");
    if (!carve.Succeeded() || !cat.Succeeded()) {
      std::fprintf(stderr, "sieve carve (status %d) or cat (status %d) failed\n", carve.status, cat.status);
      return false;
    }
    carveAnon = std::max(carveAnon, carve.peakAnonKb);
    if (round == 0 || carve.seconds < figures.carve.seconds) figures.carve = carve;
    if (round == 0 || cat.seconds < figures.cat.seconds) figures.cat = cat;
    figures.select = std::min(figures.select, SecondsOf([&] { figures.liveRows = ReadEveryLiveRow(path); }, 1));
  }
  figures.carve.peakAnonKb = carveAnon;
  figures.baseline.peakAnonKb = baselineAnon;
  return true;
}

double Mb(long kb) { return static_cast<double>(kb) / 1024.0; }

void PrintFigures(const std::string& path, const CommandFigures& f) {
  sqlite3* probe = nullptr;
  sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY, nullptr);
  const double free = 100.0 * bench::FreeFraction(probe);
  sqlite3_close(probe);
  const double walMb = static_cast<double>(std::filesystem::file_size(path + "-wal")) / (1024.0 * 1024.0);
  std::printf("database %.1f MB (%.1f%% of its pages free) + log %.1f MB = %.1f MB; %zu records carved, %lld live rows\n",
              f.mb - walMb, free, walMb, f.mb, f.records, static_cast<long long>(f.liveRows));
  std::printf("  %-34s %8s %9s %8s %12s %12s\n", "", "seconds", "MB/s", "CPU s", "peak RSS MB", "peak anon MB");
  std::printf("  %-34s %8.3f %9.0f %8.3f %12.1f %12.1f\n", "sieve carve DB --json > /dev/null", f.carve.seconds,
              f.mb / f.carve.seconds, f.carve.cpuSeconds, Mb(f.carve.peakKb), Mb(f.carve.peakAnonKb));
  if (f.baseline.status != -1) {
    std::printf("  %-34s %8.3f %9.0f %8.3f %12.1f %12.1f\n", "  the same with the baseline sieve", f.baseline.seconds,
                f.mb / f.baseline.seconds, f.baseline.cpuSeconds, Mb(f.baseline.peakKb), Mb(f.baseline.peakAnonKb));
  }
  std::printf("  %-34s %8.3f %9.0f %8.3f %12.1f %12.1f\n", "cat DB DB-wal > /dev/null", f.cat.seconds,
              f.mb / f.cat.seconds, f.cat.cpuSeconds, Mb(f.cat.peakKb), Mb(f.cat.peakAnonKb));
  std::printf("  %-34s %8.3f %9.0f\n", "SQLite SELECT * of every table", f.select, f.mb / f.select);
  // Held in memory, a carve needs a small entry per record (to merge its copies) and the live
  // rows' fingerprints (to leave out stale copies of them); a large one sets them aside.
  const double perRecords = static_cast<double>(f.records * sieve::sqlite::FoundRows::kBytesPerRow) / (1024.0 * 1024.0);
  const double perLive = static_cast<double>(static_cast<std::size_t>(f.liveRows) * sieve::sqlite::LiveRows::kBytesPerRow) /
                         (1024.0 * 1024.0);
  std::printf("  in memory the carve would need about %zu B per reported record (%.1f MB) and up to %zu B per live row "
              "(%.1f MB)\n",
              sieve::sqlite::FoundRows::kBytesPerRow, perRecords, sieve::sqlite::LiveRows::kBytesPerRow, perLive);
  const auto perRecord = [&](long kb) { return 1024.0 * static_cast<double>(kb) / static_cast<double>(std::max<std::size_t>(1, f.records)); };
  std::printf("  peak anonymous memory per reported record: %.1f B", perRecord(f.carve.peakAnonKb));
  if (f.baseline.status != -1) std::printf(" (baseline %.1f B)", perRecord(f.baseline.peakAnonKb));
  std::printf("\n");
}

// The machine's load average over the last minute: wall times mean little on a busy machine.
double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The whole command over a database of sizeMb with a log of walMb and over one four times
// smaller: the speed target on the large one, and the memory of the two side by side (the
// mapped file pages count in the resident figure; what the carve allocates is anonymous).
int MeasureCommand(std::uint64_t sizeMb, std::uint64_t walMb, const std::string& baseline) {
  const bench::ScratchFolder scratch("carve_bench");
  const std::string large = bench::KeptCarveDatabase(BENCH_CACHE_DIR, sizeMb, walMb);
  const std::string small = bench::KeptCarveDatabase(BENCH_CACHE_DIR, sizeMb / 4, walMb / 4);
  CommandFigures big, quarter;
  const double loadBefore = LoadAverage();
  if (!MeasureOne(scratch, large, baseline, big) || !MeasureOne(scratch, small, baseline, quarter)) return 1;
  std::printf("load average %.2f before, %.2f after (%u cores)\n", loadBefore, LoadAverage(),
              std::thread::hardware_concurrency());
  PrintFigures(large, big);
  PrintFigures(small, quarter);
  const double speed = big.mb / big.carve.seconds;
  std::printf("memory: the carve's peak anonymous memory is %.1f MB at %.0f MB and %.1f MB at %.0f MB (%.2f x for %.2f x "
              "the bytes, %.2f x the records)\n",
              Mb(big.carve.peakAnonKb), big.mb, Mb(quarter.carve.peakAnonKb), quarter.mb,
              static_cast<double>(big.carve.peakAnonKb) / static_cast<double>(std::max(1L, quarter.carve.peakAnonKb)),
              big.mb / quarter.mb, static_cast<double>(big.records) / static_cast<double>(std::max<std::size_t>(1, quarter.records)));
  if (!baseline.empty()) {
    std::printf("memory of the baseline: %.1f MB at %.0f MB and %.1f MB at %.0f MB; CPU s %.2f / %.2f here against %.2f / %.2f\n",
                Mb(big.baseline.peakAnonKb), big.mb, Mb(quarter.baseline.peakAnonKb), quarter.mb, big.carve.cpuSeconds,
                quarter.carve.cpuSeconds, big.baseline.cpuSeconds, quarter.baseline.cpuSeconds);
  }
  std::printf("target >= %.0f MB/s page-cached: %.0f MB/s, %s\n", kCliTargetMbPerSecond, speed,
              speed >= kCliTargetMbPerSecond ? "met" : "MISSED");
  return speed >= kCliTargetMbPerSecond ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMb = 0;
  std::uint64_t walMb = 100;
  bool freePages = false;
  bool cli = false;
  std::string baseline;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mb" && i + 1 < argc) {
      sizeMb = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--wal-mb" && i + 1 < argc) {
      walMb = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--free-pages") {
      freePages = true;
    } else if (arg == "--cli") {
      cli = true;
    } else if (arg == "--baseline" && i + 1 < argc) {
      baseline = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--size-mb N] [--free-pages] | --cli [--size-mb N] [--wal-mb N] [--baseline SIEVE]\n", argv[0]);
      return 2;
    }
  }
  if (cli) return MeasureCommand(sizeMb > 0 ? sizeMb : 1024, walMb, baseline);
  const bench::ScratchFolder folder("carve_bench");
  if (sizeMb == 0) sizeMb = 100;
  const std::string path = folder / "bench.db";
  const auto start = Clock::now();
  const std::int64_t rows = bench::BuildCarveDatabase(path, sizeMb << 20, false);
  std::printf("built %lld rows in %.1f s, every third deleted\n", static_cast<long long>(rows),
              std::chrono::duration<double>(Clock::now() - start).count());
  Measure(path, "database");
  std::filesystem::remove(path);
  if (freePages) {
    const std::string large = folder / "bench_free.db";
    bench::BuildCarveDatabase(large, (2 * sizeMb) << 20, true);
    Measure(large, "database with ~30% free pages");
    std::filesystem::remove(large);
  }
  return 0;
}
