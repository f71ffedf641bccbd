#include "sieve/reader/scan_driver.h"

#include <algorithm>
#include <cmath>

#include "sieve/reader/category_table.h"
#include "sieve/reader/index_walk.h"
#include "sieve/sqlite/read_damage.h"
#include "sieve/sqlite/scan_control.h"

namespace sieve {
namespace {

class Scan {
 public:
  explicit Scan(CBackupRecord& record) : r_(record) {}

  int Run();

 private:
  // False when stopped.
  bool Deliver(CDatabaseInfo& extractor, const DeliveredKind& delivery);
  bool RunSteps();
  // Reads one extractor, keeping what its reads met in the backup's list of problems.
  void ReadWatched(CDatabaseInfo& extractor);
  // No database could be read and no record came of the rest: there was nothing to scan.
  bool NothingRead() const;

  CBackupRecord& r_;
  std::size_t delivered_ = 0;
};

bool Scan::Deliver(CDatabaseInfo& extractor, const DeliveredKind& delivery) {
  if (!delivery.IsSet() || r_.callback == nullptr) return true;
  const auto type = static_cast<_InfoType>(delivery.type);
  const std::size_t n = extractor.RecordCount(type);
  const int base = static_cast<int>(std::floor(r_.progress.load()));
  for (std::size_t i = 0; i < n; ++i) {
    if (r_.StopRequested()) return false;
    if (delivery.progressShare > 0) {
      r_.progress =
          static_cast<float>(base + static_cast<int>(static_cast<std::size_t>(delivery.progressShare) * (i + 1) / n));
    }
    void* record = extractor.RecordAt(type, i);
    if (record == nullptr) continue;
    ++delivered_;
    r_.callback(record, type, r_.callbackUser);
  }
  return true;
}

void Scan::ReadWatched(CDatabaseInfo& extractor) {
  const sqlite::ReadDamageWatch watch;
  extractor.read(r_.folder);
  // A stop cuts reads short (and may leave copies unmade): that is no damage of the files.
  if (r_.stop.load() != 0) return;
  for (const sqlite::DamagedFile& file : watch.Files()) {
    std::string name = extractor.DatabaseNameOf(file.path);
    // A file the extractor did not open itself (a companion, a sidecar) is named by its path.
    if (name.empty()) name = file.path;
    DatabaseProblem problem{std::move(name), file.damage == sqlite::ReadDamage::kUnreadable, file.code};
    auto same = std::find_if(r_.databaseProblems.begin(), r_.databaseProblems.end(),
                             [&](const DatabaseProblem& p) { return p.Name == problem.Name; });
    if (same == r_.databaseProblems.end()) {
      r_.databaseProblems.push_back(std::move(problem));
    } else if (problem.Unreadable && !same->Unreadable) {
      *same = std::move(problem);
    }
  }
}

bool Scan::NothingRead() const {
  if (delivered_ > 0 || r_.databaseProblems.empty()) return false;
  return std::all_of(r_.databaseProblems.begin(), r_.databaseProblems.end(),
                     [](const DatabaseProblem& p) { return p.Unreadable; });
}

bool Scan::RunSteps() {
  const CDatabaseInfo* contacts = r_.extractors[static_cast<std::size_t>(ExtractorSlot::Contacts)].get();
  const ContactNameLookup lookup = [contacts](std::string_view address) {
    return contacts->FindContactName(address);
  };
  for (const CategoryRow& step : CategoryTable()) {
    if (r_.StopRequested()) return false;
    CDatabaseInfo* extractor = r_.extractors[static_cast<std::size_t>(step.slot)].get();
    if (extractor != nullptr) {
      ReadWatched(*extractor);
      // Contacts come first in the order, so their names are ready for every later step.
      if (contacts != nullptr && step.slot != ExtractorSlot::Contacts) extractor->FillContactNames(lookup);
      for (const DeliveredKind& kind : step.kinds) {
        if (!Deliver(*extractor, kind)) return false;
      }
    }
    r_.progress = step.progressAtEnd;
  }
  return true;
}

int Scan::Run() {
  r_.progress = 0.0f;
  r_.stop = 0;
  r_.pause = 0;
  r_.SetError(ReaderError::None, {});
  r_.databaseProblems.clear();
  // Results of the previous scan go: its records, extractors and private copies.
  r_.extractors = {};
  r_.privateFolder.Clear();
  r_.context.backupFolder = r_.folder;
  r_.context.productVersion = r_.productVersion;
  r_.context.privateFolder = &r_.privateFolder;

  const int bag = r_.OpenKeyBag();
  r_.context.encrypted = r_.encrypted != 0;
  if (bag < 0) return -1;
  if (r_.encrypted != 0 && bag == 0) return 0;

  // Each entry goes to the categories as the index is read: a phone's index has hundreds
  // of thousands of entries, and none of them is kept.
  IndexWalk walk(r_);
  bool agrees = true;
  const bool indexRead = r_.StreamIndex(
      [&](CManifestRecord&& entry) {
        agrees = r_.EntryAgreesWithPlainBackup(entry);
        if (!agrees) return false;
        walk.Offer(entry);
        return !r_.StopRequested();
      },
      [this](std::uint64_t consumed, std::uint64_t total) {
        if (total > 0) r_.progress = static_cast<float>(static_cast<double>(consumed) * 30.0 / static_cast<double>(total));
        return !r_.StopRequested();
      });
  // The old index is read whole before its entries are offered (a stop then ends the
  // offer); nothing needs it once they were.
  r_.index.clear();
  r_.index.shrink_to_fit();
  const bool stopped = r_.StopRequested();
  if (!indexRead || !agrees || stopped) {
    r_.extractors = {};
    if (!agrees) {
      r_.SetPlainBackupDisagrees();
      return 0;
    }
    if (stopped) {
      r_.SetError(ReaderError::Stopped, "stopped");
      return 1;
    }
    return r_.lastError == ReaderError::Stopped ? 1 : 0;
  }
  walk.Finish();
  r_.progress = 30.0f;

  // From here the stop and pause reach the long loops inside the steps too (SQLite
  // statements, the carving, the decryption of a large file), not only the places between
  // them. The index read above checks them at every entry already.
  sqlite::ScanControl control;
  control.stopRequested = [this] { return r_.StopRequested(); };
  const sqlite::ThreadScanControl onThisThread(control);

  if (!RunSteps()) {
    r_.SetError(ReaderError::Stopped, "stopped");
    return 1;
  }
  if (NothingRead()) r_.SetError(ReaderError::ReadFailed, "none of the backup's databases could be read");
  return 0;
}

}  // namespace

int RunScan(CBackupRecord& record) { return Scan(record).Run(); }

}  // namespace sieve
