#include "sieve/extractors/voicemail_info.h"

#include <sqlite3.h>

#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

// Voicemail counts seconds since 1970; 0 (not trashed) is the empty date.
std::string VoicemailDateText(double seconds) {
  return seconds == 0 ? std::string(kEmptyDateText) : UnixTimeTextFromDouble(seconds);
}

}  // namespace

CVoiceMailInfo::~CVoiceMailInfo() = default;

int CVoiceMailInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  if (!MainDatabase.IsSet()) return 0;
  const OpenableDatabase openable = PrepareDatabase(MainDatabase, "voicemail.db");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  if (const int rc = db.Open(openable.path, openable.immutable); rc != SQLITE_OK) return rc;
  sqlite::Statement rows =
      db.Prepare("SELECT ROWID, date, sender, duration, trashed_date FROM voicemail ORDER BY ROWID");
  if (!rows.Ok()) return rows.Result() != SQLITE_OK ? rows.Result() : SQLITE_ERROR;
  while (rows.Step()) {
    auto record = std::make_unique<VoicemailRecord>();
    record->FileName = std::to_string(rows.Int64(0)) + ".amr";
    record->Date = VoicemailDateText(rows.Double(1));
    record->Sender = rows.Text(2);
    record->Duration = rows.Int(3);
    record->TrashDate = VoicemailDateText(rows.Double(4));
    records_.push_back(std::move(record));
  }
  return 0;
}

}  // namespace sieve
