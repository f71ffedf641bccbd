#include "sieve/extractors/recording_info.h"

#include <cmath>

#include <sqlite3.h>

#include "sieve/backup/file_decryptor.h"
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

std::string RecordingFileName(std::string_view devicePath) {
  const std::size_t slash = devicePath.find_last_of("/\\");
  if (slash == std::string_view::npos) return {};
  const std::string_view last = devicePath.substr(slash + 1);
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
  if (!MainDatabase.IsSet()) return 0;
  const OpenableDatabase openable = PrepareDatabase(MainDatabase, "Recordings.db");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  if (const int rc = db.Open(openable.path, openable.immutable); rc != SQLITE_OK) return rc;
  sqlite::Statement rows = db.Prepare("SELECT ZDATE, ZDURATION, ZCUSTOMLABEL, ZPATH FROM ZRECORDING ORDER BY Z_PK");
  if (!rows.Ok()) return rows.Result() != SQLITE_OK ? rows.Result() : SQLITE_ERROR;
  while (rows.Step()) {
    auto record = std::make_unique<VoiceMemoRecord>();
    record->Date = MacTimeTextFromDouble(rows.Double(0));
    record->Duration = DurationText(rows.Double(1));
    record->CustomLabel = rows.Text(2);
    record->FileName = WithoutControlCharacters(rows.Text(3));
    const std::string name = RecordingFileName(record->FileName);
    const auto file = name.empty() ? files_.end() : files_.find(name);
    if (file != files_.end()) {
      record->OrgPath = file->second.path;
      record->FileKey = file->second.key;
      record->ModifiedTime = file->second.modifiedTime;
      if (file->second.key && context_ != nullptr && context_->privateFolder != nullptr) {
        const std::string copy = context_->privateFolder->NewFilePath(name);
        const bool decrypted = !copy.empty() && DecryptFile(file->second.path, copy, *file->second.key) == DecryptStatus::Ok;
        record->OrgPath = decrypted ? copy : std::string();
      }
    }
    records_.push_back(std::move(record));
  }
  return 0;
}

}  // namespace sieve
