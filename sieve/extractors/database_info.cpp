#include "sieve/extractors/database_info.h"

#include <filesystem>
#include <system_error>

#include "sieve/backup/file_decryptor.h"
#include "sieve/private_folder.h"
#include "sieve/sqlite/read_damage.h"

namespace sieve {
namespace {

// Copies or decrypts one stored file to target; false when it could not be written.
bool PlainCopy(const StoredFile& file, const std::string& target) {
  if (file.key) return DecryptFile(file.path, target, *file.key) == DecryptStatus::Ok;
  std::error_code ec;
  std::filesystem::copy_file(file.path, target, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

}  // namespace

CDatabaseInfo::~CDatabaseInfo() = default;

int CDatabaseInfo::read(std::string /*backupFolder*/) { return 0; }

void CDatabaseInfo::SetDatabase(RuleAction role, const DatabaseSource& source) {
  if (role == RuleAction::SecondDatabase) {
    SecondDatabase = source;
  } else {
    MainDatabase = source;
  }
}

void CDatabaseInfo::Register(const FileRegistration& /*file*/) {}

std::size_t CDatabaseInfo::RecordCount(_InfoType /*type*/) const { return 0; }

void* CDatabaseInfo::RecordAt(_InfoType /*type*/, std::size_t /*index*/) { return nullptr; }

std::string CDatabaseInfo::FindContactName(std::string_view /*address*/) const { return {}; }

void CDatabaseInfo::FillContactNames(const ContactNameLookup& /*lookup*/) {}

std::string CDatabaseInfo::DatabaseNameOf(std::string_view damageKey) const {
  for (const auto& [key, name] : opened_) {
    if (key == damageKey) return name;
  }
  return {};
}

OpenableDatabase CDatabaseInfo::PrepareDatabase(const DatabaseSource& source,
                                                std::string_view copyName) const {
  if (!source.IsSet()) return {};
  OpenableDatabase result = MakeOpenable(source, copyName);
  const std::string name = source.name.empty() ? source.main.path : source.name;
  opened_.emplace_back(sqlite::DamageKey(source.main.path), name);
  if (result.ok) {
    opened_.emplace_back(sqlite::DamageKey(result.path), name);
  } else {
    sqlite::NoteReadDamage(source.main.path, sqlite::ReadDamage::kUnreadable, 0);
  }
  return result;
}

OpenableDatabase CDatabaseInfo::MakeOpenable(const DatabaseSource& source, std::string_view copyName) const {
  OpenableDatabase result;
  const bool needsCopy = source.main.key.has_value() || source.wal.IsSet();
  if (!needsCopy) {
    result.path = source.main.path;
    result.immutable = true;
    std::error_code ec;
    result.ok = std::filesystem::is_regular_file(source.main.path, ec);
    return result;
  }
  if (context_ == nullptr || context_->privateFolder == nullptr) return result;
  // SQLite finds the companions by name, so they take the copy's name plus their suffix.
  const std::string target = context_->privateFolder->NewFilePath(copyName);
  if (target.empty() || !PlainCopy(source.main, target)) return result;
  if (source.wal.IsSet()) {
    PlainCopy(source.wal, target + "-wal");
    if (source.shm.IsSet()) PlainCopy(source.shm, target + "-shm");
  }
  result.path = target;
  result.immutable = !source.wal.IsSet();
  result.ok = true;
  return result;
}

}  // namespace sieve
