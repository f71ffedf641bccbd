#include "sieve/backup/manifest_db.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include "sieve/sqlite/database.h"
#include "tether/keyed_archive.h"

namespace sieve {
namespace {

constexpr std::int64_t kFlagFile = 1;
constexpr std::int64_t kFlagFolder = 2;
constexpr std::int64_t kFlagLink = 4;
// Unix type bits for rows whose archive has no Mode.
constexpr std::uint16_t kTypeMask = 0xF000;
constexpr std::uint16_t kTypeFile = 0x8000;
constexpr std::uint16_t kTypeFolder = 0x4000;
constexpr std::uint16_t kTypeLink = 0xA000;
constexpr std::size_t kStoredNameLength = 40;

bool Skip(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

// The fileID names the stored file; anything but 40 hex digits cannot be one.
bool LowerHexName(const std::string& id, std::string& out) {
  if (id.size() != kStoredNameLength) return false;
  out.resize(id.size());
  for (std::size_t i = 0; i < id.size(); ++i) {
    char c = id[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    out[i] = c;
  }
  return true;
}

std::uint16_t TypeOfFlags(std::int64_t flags) {
  switch (flags) {
    case kFlagFile: return kTypeFile;
    case kFlagFolder: return kTypeFolder;
    case kFlagLink: return kTypeLink;
    default: return 0;
  }
}

std::uint32_t Seconds32(std::optional<std::int64_t> value) {
  if (!value || *value < 0) return 0;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(*value, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

bool DecodeManifestRow(const ManifestRow& row, CManifestRecord& out, std::string* why) {
  out = CManifestRecord{};
  if (!row.fileId || !LowerHexName(*row.fileId, out.StoredName)) return Skip(why, "no stored-file name");
  if (!row.domain || !row.relativePath) return Skip(why, "no domain or path");
  tether::KeyedArchive archive;
  if (!archive.Parse(row.archive, row.archiveSize, why)) return false;

  out.Domain = *row.domain;
  out.Path = *row.relativePath;
  out.Mode = static_cast<std::uint16_t>(archive.Unsigned("Mode").value_or(0) & 0xFFFF);
  // The row's flags say what it is; the archive's mode is kept for its permission bits.
  const std::uint16_t type = TypeOfFlags(row.flags);
  if (type != 0) out.Mode = static_cast<std::uint16_t>((out.Mode & ~kTypeMask) | type);
  if ((out.Mode & kTypeMask) == 0) return Skip(why, "neither file, folder nor link");
  out.Size = archive.Unsigned("Size").value_or(0);
  out.Inode = archive.Unsigned("InodeNumber").value_or(0);
  out.UserId = static_cast<std::uint32_t>(archive.Unsigned("UserID").value_or(0));
  out.GroupId = static_cast<std::uint32_t>(archive.Unsigned("GroupID").value_or(0));
  out.ModifiedTime = Seconds32(archive.Signed("LastModified"));
  out.CreatedTime = Seconds32(archive.Signed("Birth"));
  out.AccessTime = Seconds32(archive.Signed("LastStatusChange"));
  out.ProtectionClass = static_cast<std::uint8_t>(archive.Unsigned("ProtectionClass").value_or(0) & 0xFF);
  if (auto target = archive.String("Target")) out.LinkTarget = std::move(*target);
  if (auto key = archive.Data("EncryptionKey")) {
    out.EncryptionKey = std::move(*key);
    out.HasEncryptionKey = true;
  }
  return true;
}

ManifestDbResult ReadManifestDb(const std::string& path, const ManifestRowSink& sink, const MbdbProgress& progress) {
  ManifestDbResult result;
  struct stat st {};
  // SQLite would block on a FIFO and follow a link out of the backup.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.status = ManifestDbStatus::Missing;
    return result;
  }
  sqlite::Database db;
  if (db.Open(path, true) != SQLITE_OK || !db.HasColumn("Files", "fileID") || !db.HasColumn("Files", "domain") ||
      !db.HasColumn("Files", "relativePath") || !db.HasColumn("Files", "flags") || !db.HasColumn("Files", "file")) {
    result.status = ManifestDbStatus::NotAnIndex;
    result.detail = db.IsOpen() ? db.ErrorMessage() : std::string();
    return result;
  }
  std::uint64_t total = 0;
  if (auto count = db.Prepare("SELECT count(*) FROM Files"); count.Step()) {
    total = static_cast<std::uint64_t>(std::max<std::int64_t>(0, count.Int64(0)));
  }
  sqlite::Statement rows = db.Prepare("SELECT fileID, domain, relativePath, flags, file FROM Files ORDER BY rowid");
  if (!rows.Ok()) {
    result.status = ManifestDbStatus::NotAnIndex;
    result.detail = db.ErrorMessage();
    return result;
  }
  std::uint64_t done = 0;
  const auto optionalText = [&rows](int col) -> std::optional<std::string> {
    if (rows.IsNull(col)) return std::nullopt;
    return rows.Text(col);
  };
  while (rows.Step()) {
    ++done;
    ManifestRow row;
    row.fileId = optionalText(0);
    row.domain = optionalText(1);
    row.relativePath = optionalText(2);
    row.flags = rows.Int64(3);
    // Read in place: the row is decoded before the next step.
    const std::string_view blob = rows.Type(4) == SQLITE_BLOB ? rows.BlobView(4) : std::string_view();
    row.archive = reinterpret_cast<const std::uint8_t*>(blob.data());
    row.archiveSize = blob.size();
    CManifestRecord record;
    if (!DecodeManifestRow(row, record)) {
      ++result.skipped;
      continue;
    }
    ++result.delivered;
    if (!sink(std::move(record)) || (progress && !progress(done, std::max(total, done)))) {
      result.status = ManifestDbStatus::Stopped;
      return result;
    }
  }
  if (rows.Result() != SQLITE_DONE) {
    result.status = ManifestDbStatus::Damaged;
    result.detail = db.ErrorMessage();
  }
  return result;
}

const char* ManifestDbStatusText(ManifestDbStatus status) {
  switch (status) {
    case ManifestDbStatus::Ok: return "ok";
    case ManifestDbStatus::Missing: return "missing";
    case ManifestDbStatus::NotAnIndex: return "not a file index";
    case ManifestDbStatus::Damaged: return "damaged";
    case ManifestDbStatus::Stopped: return "stopped";
  }
  return "unknown";
}

}  // namespace sieve
