#include "sieve/reader/scan_driver.h"

#include <cmath>

#include "sieve/reader/category_table.h"
#include "sieve/reader/index_walk.h"

namespace sieve {
namespace {

class Scan {
 public:
  explicit Scan(CBackupRecord& record) : r_(record) {}

  int Run();

 private:
  // False when stopped.
  bool Deliver(CDatabaseInfo& extractor, const DeliveredKind& delivery);
  bool RunSteps(int& result);

  CBackupRecord& r_;
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
    if (record != nullptr) r_.callback(record, type, r_.callbackUser);
  }
  return true;
}

bool Scan::RunSteps(int& result) {
  const CDatabaseInfo* contacts = r_.extractors[static_cast<std::size_t>(ExtractorSlot::Contacts)].get();
  const ContactNameLookup lookup = [contacts](std::string_view address) {
    return contacts->FindContactName(address);
  };
  for (const CategoryRow& step : CategoryTable()) {
    if (r_.StopRequested()) return false;
    CDatabaseInfo* extractor = r_.extractors[static_cast<std::size_t>(step.slot)].get();
    if (extractor != nullptr) {
      const int readResult = extractor->read(r_.folder);
      if (step.slot == ExtractorSlot::Notes) result = readResult;
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

  const bool indexRead = r_.ReadIndex([this](std::uint64_t consumed, std::uint64_t total) {
    if (total > 0) r_.progress = static_cast<float>(static_cast<double>(consumed) * 10.0 / static_cast<double>(total));
    return !r_.StopRequested();
  });
  if (!indexRead) return r_.lastError == ReaderError::Stopped ? 1 : 0;
  if (!r_.IndexAgreesWithPlainBackup()) return 0;

  IndexWalk walk(r_);
  const bool walked = walk.Run([this](std::size_t i, std::size_t n) {
    if (r_.StopRequested()) return false;
    if (i > 0) r_.progress = static_cast<float>((i - 1) * 20 / n + 10);
    return true;
  });
  if (!walked) {
    r_.SetError(ReaderError::Stopped, "stopped");
    return 1;
  }
  r_.progress = 30.0f;

  int result = 0;
  if (!RunSteps(result)) {
    r_.SetError(ReaderError::Stopped, "stopped");
    return 1;
  }
  return result;
}

}  // namespace

int RunScan(CBackupRecord& record) { return Scan(record).Run(); }

}  // namespace sieve
