// `scan`: runs the reader's scan on a worker thread, prints each record as a
// JSON line or a per-category summary, and shows progress on a terminal.
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "sieve/run_outcome.h"
#include "sieve/scan_polling.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/file_copies.h"
#include "tools/sieve/interrupts.h"
#include "tools/sieve/json_writer.h"
#include "tools/sieve/options.h"
#include "tools/sieve/progress.h"
#include "tools/sieve/record_json.h"
#include "tools/sieve/record_tally.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct ScanSession {
  explicit ScanSession(FileCopies& copies) : files(copies) {}
  bool jsonLines = false;
  ScanTally tally;
  JsonWriter json;
  FileCopies& files;
  int lastType = -1;
};

// Runs on the scan thread; records are only valid during the scan, so each is
// written out at once.
void OnRecord(void* record, _InfoType type, void* user) {
  auto* session = static_cast<ScanSession*>(user);
  session->tally.Add(record, type);
  if (type != session->lastType) {
    Detail(std::string("records of ") + InfoTypeName(type));
    session->lastType = type;
  }
  if (!session->jsonLines) return;
  session->json.Clear();
  WriteRecord(session->json, record, type, session->files);
  std::string line = session->json.Text();
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void WriteCounts(JsonWriter& json, std::string_view name,
                 const std::array<std::uint64_t, kInfoTypeCount>& counts) {
  json.Key(name).BeginObject();
  for (int t = 0; t < kInfoTypeCount; ++t) json.Field(InfoTypeName(t), counts[static_cast<std::size_t>(t)]);
  json.EndObject();
}

void PrintJsonSummary(const ScanTally& tally, const std::vector<DatabaseProblem>& problems, double elapsed,
                      int result) {
  JsonWriter json;
  json.BeginObject().Field("summary", true);
  WriteCounts(json, "counts", tally.records);
  WriteCounts(json, "deleted", tally.deleted);
  json.Key("damaged_databases").BeginArray();
  for (const DatabaseProblem& problem : problems) {
    json.BeginObject().Field("name", problem.Name).Field("read", problem.Unreadable ? "none" : "part");
    if (problem.Code != 0) json.Field("sqlite_result", static_cast<std::int32_t>(problem.Code));
    json.EndObject();
  }
  json.EndArray();
  json.Field("elapsed_seconds", elapsed).Field("result", static_cast<std::int32_t>(result)).EndObject();
  WriteOut(json.Text() + "\n");
}

void PrintTextSummary(const ScanTally& tally, const std::vector<DatabaseProblem>& problems) {
  TextTable table({"Category", "Records", "Deleted"});
  table.AlignRight(1);
  table.AlignRight(2);
  std::uint64_t records = 0, deleted = 0;
  for (int t = 0; t < kInfoTypeCount; ++t) {
    const auto i = static_cast<std::size_t>(t);
    table.AddRow({InfoTypeName(t), std::to_string(tally.records[i]), std::to_string(tally.deleted[i])});
    records += tally.records[i];
    deleted += tally.deleted[i];
  }
  table.AddRow({"total", std::to_string(records), std::to_string(deleted)});
  std::fflush(stdout);
  table.Print(stdout);
  if (problems.empty()) return;
  std::string lines = "\nDatabases read only in part or not at all:\n";
  for (const DatabaseProblem& problem : problems) lines += "  " + Printable(DatabaseProblemText(problem)) + "\n";
  WriteOut(lines);
}

// Draws progress and forwards Ctrl-C as a stop request while the scan runs, so
// that what was delivered is still summed up; returns the scan's result.
int RunScanThread(CItunesBackupReader& reader, int index, Clock::time_point started) {
  ProgressBar bar(stderr);
  const InterruptGuard guard;
  ScanPolling polling;
  polling.progress = [&](float percent) {
    bar.Update(percent, std::chrono::duration<double>(Clock::now() - started).count());
  };
  polling.stopRequested = Interrupted;
  const int result = ScanWithPolling(reader, index, polling);
  bar.Finish();
  return result;
}

}  // namespace

int RunScan(const Arguments& args) {
  const Options options(args, {"--json", kPasswordStdinOption}, {"--files-to", kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(1, kScanUsage);
  const std::string filesTo = options.Value("--files-to").value_or("");
  if (options.Value("--files-to") && (filesTo.empty() || !options.Has("--json"))) {
    throw UsageError("--files-to DIR goes with --json; usage: " + std::string(kScanUsage));
  }
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  Unlock(reader, index, password);
  FileCopies files(reader, index, filesTo);
  files.Prepare();

  ScanSession session(files);
  session.jsonLines = options.Has("--json");
  reader.SetCallBack(OnRecord, &session);
  const Clock::time_point started = Clock::now();
  const int result = RunScanThread(reader, index, started);
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  PrintWarnings(reader, index);
  if (!filesTo.empty()) {
    Detail(std::to_string(files.Made()) + " files copied to " + Printable(filesTo));
  }

  RunOutcome outcome = ScanOutcome(reader, index, result);
  outcome.message = Printable(outcome.message);
  if (result < 0 || NothingScanned(reader.LastError(index))) throw CommandError(outcome);

  const std::vector<DatabaseProblem> problems = reader.DatabaseProblems(index);
  if (session.jsonLines) {
    PrintJsonSummary(session.tally, problems, elapsed, result);
  } else {
    PrintTextSummary(session.tally, problems);
  }
  char took[64];
  std::snprintf(took, sizeof took, "scanned in %.2f s", elapsed);
  Note(took);
  if (outcome.Failed()) throw CommandError(outcome);
  // Each was named as it failed; a copy asked for and not made is no success.
  if (files.Failed() > 0) {
    throw CommandError(kExitFailure, std::to_string(files.Failed()) + " files could not be copied into " +
                                         Printable(filesTo));
  }
  return kExitOk;
}

}  // namespace sieve::cli
