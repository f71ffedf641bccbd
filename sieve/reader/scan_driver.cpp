#include "sieve/reader/scan_driver.h"

#include <cmath>

#include "sieve/reader/index_walk.h"

namespace sieve {
namespace {

struct Delivery {
  _InfoType type;
  int span;  // progress points the delivery of this list spreads over; 0 for none
};

struct Step {
  ExtractorSlot slot;
  Delivery first;
  Delivery second;  // type -1 when the step delivers one list
  float progressAtEnd;
};

constexpr Delivery kNone{static_cast<_InfoType>(-1), 0};

// The order and the progress values the program shows are part of the interface.
constexpr Step kSteps[] = {
    {ExtractorSlot::Contacts, {INFO_CONTACT, 5}, kNone, 35},
    {ExtractorSlot::Calendar, {INFO_CALENDAR, 2}, kNone, 37},
    {ExtractorSlot::CallHistory, {INFO_CALL, 5}, kNone, 44},
    {ExtractorSlot::CameraRoll, {INFO_CAMERA_ROLL, 10}, kNone, 54},
    {ExtractorSlot::VoiceMemos, {INFO_VOICE_MEMO, 3}, kNone, 57},
    {ExtractorSlot::Notes, {INFO_NOTE, 5}, kNone, 62},
    {ExtractorSlot::Messages, {INFO_SMS_ATTACHMENT, 10}, {INFO_SMS, 2}, 76},
    {ExtractorSlot::AppDocuments, {INFO_APP_DOCUMENT, 5}, kNone, 81},
    {ExtractorSlot::Music, {INFO_MUSIC, 2}, kNone, 83},
    {ExtractorSlot::AppVideos, {INFO_APP_VIDEO, 2}, kNone, 85},
    {ExtractorSlot::AppPictures, {INFO_APP_PICTURE, 3}, kNone, 88},
    {ExtractorSlot::Safari, {INFO_BOOKMARK, 4}, kNone, 92},
    {ExtractorSlot::PhotoStream, {INFO_PHOTO_STREAM, 3}, kNone, 95},
    {ExtractorSlot::Voicemail, kNone, kNone, 96},
    {ExtractorSlot::Reminders, {INFO_REMINDER, 2}, kNone, 98},
    {ExtractorSlot::WhatsApp, {INFO_WHATSAPP, 2}, {INFO_WHATSAPP_ATTACHMENT, 0}, 100},
};

class Scan {
 public:
  explicit Scan(CBackupRecord& record) : r_(record) {}

  int Run();

 private:
  // False when stopped.
  bool Deliver(CDatabaseInfo& extractor, const Delivery& delivery);
  bool RunSteps(int& result);

  CBackupRecord& r_;
};

bool Scan::Deliver(CDatabaseInfo& extractor, const Delivery& delivery) {
  if (delivery.type < 0 || r_.callback == nullptr) return true;
  const std::size_t n = extractor.RecordCount(delivery.type);
  const int base = static_cast<int>(std::floor(r_.progress.load()));
  for (std::size_t i = 0; i < n; ++i) {
    if (r_.StopRequested()) return false;
    if (delivery.span > 0) {
      r_.progress = static_cast<float>(base + static_cast<int>(static_cast<std::size_t>(delivery.span) * (i + 1) / n));
    }
    void* record = extractor.RecordAt(delivery.type, i);
    if (record != nullptr) r_.callback(record, delivery.type, r_.callbackUser);
  }
  return true;
}

bool Scan::RunSteps(int& result) {
  const CDatabaseInfo* contacts = r_.extractors[static_cast<std::size_t>(ExtractorSlot::Contacts)].get();
  const ContactNameLookup lookup = [contacts](std::string_view address) {
    return contacts->FindContactName(address);
  };
  for (const Step& step : kSteps) {
    if (r_.StopRequested()) return false;
    CDatabaseInfo* extractor = r_.extractors[static_cast<std::size_t>(step.slot)].get();
    if (extractor != nullptr) {
      const int readResult = extractor->read(r_.folder);
      if (step.slot == ExtractorSlot::Notes) result = readResult;
      // Contacts come first in the order, so their names are ready for every later step.
      if (contacts != nullptr && step.slot != ExtractorSlot::Contacts) extractor->FillContactNames(lookup);
      if (!Deliver(*extractor, step.first) || !Deliver(*extractor, step.second)) return false;
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
