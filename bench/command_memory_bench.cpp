// Peak memory of the commands that read a whole backup index - sieve files, files --json,
// scan, scan --json, unpack, extract - over two newer-layout backups whose Manifest.db differ only in their
// number of rows (stored files present, empty), beside two baselines measured in the same run:
// `sieve info` on the same backup (what the program costs before it reads the index) and a
// plain Python 3 reader writing the same listing (bench/manifest_db_list.py).
//
//   command_memory_bench [--small N] [--large N]      (defaults 50000 and 200000 rows)
//
// A command is flat when its peak grows by less than kFlatGrowthMb from the small backup to
// the large one. Exits 1 when a run fails or files, unpack or extract is not flat. The growth of scan
// is printed, not judged: it keeps the files the categories claim, the items it reports
// (here the apps' documents among the rows), not the index itself.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

constexpr double kFlatGrowthMb = 8;
const std::string kPython = "/usr/bin/python3";

// An empty stored file for every file row, as a backup has them: the commands look each up.
bool WriteStoredFiles(const std::string& backup) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((backup + "/Manifest.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* rows = nullptr;
  bool ok = sqlite3_prepare_v2(db, "SELECT fileID FROM Files WHERE flags = 1", -1, &rows, nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(rows) == SQLITE_ROW) {
    const std::string id(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)));
    if (id.size() < 2) continue;
    const std::string folder = backup + "/" + id.substr(0, 2);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    ok = !ec && static_cast<bool>(std::ofstream(folder + "/" + id));
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  return ok;
}

// The domain and path of the index's last file row: what `sieve extract` looks for.
std::vector<std::string> LastFileRow(const std::string& backup) {
  sqlite3* db = nullptr;
  std::vector<std::string> row;
  sqlite3_stmt* q = nullptr;
  if (sqlite3_open_v2((backup + "/Manifest.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT domain, relativePath FROM Files WHERE flags = 1 ORDER BY rowid DESC LIMIT 1", -1,
                         &q, nullptr) == SQLITE_OK &&
      sqlite3_step(q) == SQLITE_ROW) {
    row = {reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
           reinterpret_cast<const char*>(sqlite3_column_text(q, 1))};
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return row;
}

enum class Output { kNone, kFolder, kFile };

struct Command {
  const char* label;
  std::vector<std::string> args;  // the program and what comes before the backup
  bool judged;                    // must stay flat
  Output output;                  // followed by -o and a new folder, or a file row and -o FILE
};

}  // namespace

int main(int argc, char** argv) {
  long small = 50000;
  long large = 200000;
  if (!bench::ReadNumberOptions(argc, argv, {{"--small", &small}, {"--large", &large}})) return 2;
  if (small <= 0 || large <= small) return 2;
  const std::string tools = std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/";
  const std::string pythonReader = std::string(BENCH_SOURCE_DIR) + "/manifest_db_list.py";
  const bench::ScratchFolder folder("command_memory_bench");

  const std::vector<Command> commands = {
      {"sieve info (baseline)", {SIEVE_PROGRAM, "info"}, false, Output::kNone},
      {"manifest_db_list.py (baseline)", {kPython, pythonReader}, false, Output::kNone},
      {"sieve files", {SIEVE_PROGRAM, "files"}, true, Output::kNone},
      {"sieve files --json", {SIEVE_PROGRAM, "files", "--json"}, true, Output::kNone},
      {"sieve scan", {SIEVE_PROGRAM, "scan"}, false, Output::kNone},
      {"sieve scan --json", {SIEVE_PROGRAM, "scan", "--json"}, false, Output::kNone},
      {"sieve unpack", {SIEVE_PROGRAM, "-q", "unpack"}, true, Output::kFolder},
      {"sieve extract (last file)", {SIEVE_PROGRAM, "-q", "extract"}, true, Output::kFile},
  };
  std::vector<std::vector<double>> peaks(commands.size());
  const long sizes[] = {small, large};
  for (const long rows : sizes) {
    const std::string backup = folder / ("backup-" + std::to_string(rows));
    const bench::ChildRun made = bench::RunChild(
        {kPython, tools + "manifest_only.py", backup, "--entries", std::to_string(rows), "--seed", "1"},
        folder / "mkbackup.out");
    if (!made.Succeeded() || !WriteStoredFiles(backup)) {
      std::fprintf(stderr, "cannot generate the backup of %ld rows\n", rows);
      return 1;
    }
    for (std::size_t c = 0; c < commands.size(); ++c) {
      std::vector<std::string> args = commands[c].args;
      args.push_back(backup);
      const std::string unpacked = folder / "unpacked";
      if (commands[c].output == Output::kFolder) args.insert(args.end(), {"-o", unpacked});
      if (commands[c].output == Output::kFile) {
        const std::vector<std::string> row = LastFileRow(backup);
        args.insert(args.end(), row.begin(), row.end());
        args.insert(args.end(), {"-o", unpacked});
      }
      const bench::ChildRun run = bench::RunChild(args, "/dev/null");
      if (!run.Succeeded()) {
        std::fprintf(stderr, "%s failed on %ld rows\n", commands[c].label, rows);
        return 1;
      }
      peaks[c].push_back(static_cast<double>(run.peakKb) / 1024.0);
      std::filesystem::remove_all(unpacked);
    }
  }

  bool ok = true;
  std::printf("peak resident memory, MB       %8ld rows %8ld rows   growth\n", small, large);
  for (std::size_t c = 0; c < commands.size(); ++c) {
    const double growth = peaks[c][1] - peaks[c][0];
    const bool flat = growth < kFlatGrowthMb;
    if (commands[c].judged && !flat) ok = false;
    std::printf("  %-28s %13.1f %13.1f %8.1f %s\n", commands[c].label, peaks[c][0], peaks[c][1], growth,
                commands[c].judged ? (flat ? "flat" : "GROWS (target < 8 MB)") : "");
  }
  return ok ? 0 : 1;
}
