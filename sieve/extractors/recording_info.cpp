#include "sieve/extractors/recording_info.h"

#include <cmath>

#include <sqlite3.h>

#include "sieve/backup/file_decryptor.h"
#include "sieve/extractors/recording_undelete.h"
#include "sieve/path_safety.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

// Control characters (NUL among them) are never part of a path shown to the user.
std::string WithoutControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out.push_back(c);
  }
  return out;
}

std::string DurationText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e12) return "0";
  return std::to_string(static_cast<std::int64_t>(seconds));
}

}  // namespace

std::string RecordingFileName(std::string_view devicePath, bool bareNameAllowed) {
  const std::size_t slash = devicePath.find_last_of("/\\");
  if (slash == std::string_view::npos && !bareNameAllowed) return {};
  const std::string_view last = slash == std::string_view::npos ? devicePath : devicePath.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return {};
  return SafeFileName(WithoutControlCharacters(last));
}

CRecordingInfo::~CRecordingInfo() = default;

void CRecordingInfo::Register(const FileRegistration& file) {
  const std::string name = RecordingFileName(file.devicePath);
  if (name.empty() || !file.file.IsSet()) return;
  files_.emplace(name, file.file);  // the first file of a name wins, as the index lists them
}

std::size_t CRecordingInfo::RecordCount(_InfoType type) const {
  return type == INFO_VOICE_MEMO ? records_.size() : 0;
}

void* CRecordingInfo::RecordAt(_InfoType type, std::size_t index) {
  if (type != INFO_VOICE_MEMO || index >= records_.size()) return nullptr;
  return records_[index].get();
}

int CRecordingInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  // The older store first: a phone updated to system 13 may still carry it beside the newer.
  const int older = MainDatabase.IsSet() ? ReadStore(MainDatabase, Store::Older) : 0;
  const int cloud = SecondDatabase.IsSet() ? ReadStore(SecondDatabase, Store::Cloud) : 0;
  return older != 0 ? older : cloud;
}

int CRecordingInfo::ReadStore(const DatabaseSource& source, Store store) {
  const bool cloud = store == Store::Cloud;
  const OpenableDatabase openable = PrepareDatabase(source, cloud ? "CloudRecordings.db" : "Recordings.db");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  if (const int rc = db.Open(openable.path, openable.immutable); rc != SQLITE_OK) return rc;
  const std::string table = cloud ? "ZCLOUDRECORDING" : "ZRECORDING";
  // The newer store's title is ZENCRYPTEDTITLE (plain text); a memo in "Recently Deleted"
  // has an eviction date. Stores without those columns give NULL in their place.
  const auto optional = [&](const char* column) { return db.HasColumn(table, column) ? column : "NULL"; };
  sqlite::Statement rows = db.Prepare(std::string("SELECT ZDATE, ZDURATION, ZCUSTOMLABEL, ZPATH, ") +
                                      optional("ZENCRYPTEDTITLE") + ", " + optional("ZEVICTIONDATE") + " FROM " +
                                      table + " ORDER BY Z_PK");
  if (!rows.Ok()) return rows.Result() != SQLITE_OK ? rows.Result() : SQLITE_ERROR;
  while (rows.Step()) {
    auto record = std::make_unique<VoiceMemoRecord>();
    record->Deleted = rows.IsNull(5) ? 0 : 1;
    record->Date = MacTimeTextFromDouble(rows.Double(0));
    record->Duration = DurationText(rows.Double(1));
    const std::string title = rows.Text(4);
    record->CustomLabel = title.empty() ? rows.Text(2) : title;
    record->FileName = WithoutControlCharacters(rows.Text(3));
    LinkFile(*record, cloud);
    records_.push_back(std::move(record));
  }
  rows = sqlite::Statement();
  db.Close();

  CRecordingUndelete engine;
  if (engine.Load(openable.path) != 0 || engine.scan() <= 0) return 0;
  for (const RecoveredMemo& memo : engine.Memos()) {
    auto record = std::make_unique<VoiceMemoRecord>();
    record->Deleted = 1;
    record->Date = MacTimeTextFromDouble(memo.date);
    record->Duration = DurationText(memo.duration);
    record->CustomLabel = memo.label;
    record->FileName = WithoutControlCharacters(memo.path);
    LinkFile(*record, cloud);
    records_.push_back(std::move(record));
  }
  return 0;
}

// The newer store may name a recording by its bare file name, relative to the store's folder.
void CRecordingInfo::LinkFile(VoiceMemoRecord& record, bool bareNameAllowed) {
  const std::string name = RecordingFileName(record.FileName, bareNameAllowed);
  const auto file = name.empty() ? files_.end() : files_.find(name);
  if (file == files_.end()) return;
  record.OrgPath = file->second.path;
  record.FileKey = file->second.key;
  record.ModifiedTime = file->second.modifiedTime;
  if (file->second.key && context_ != nullptr && context_->privateFolder != nullptr) {
    const std::string copy = context_->privateFolder->NewFilePath(name);
    const bool decrypted = !copy.empty() && DecryptFile(file->second.path, copy, *file->second.key) == DecryptStatus::Ok;
    record.OrgPath = decrypted ? copy : std::string();
  }
}

}  // namespace sieve
