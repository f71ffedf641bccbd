#include "sieve/reader/index_walk.h"

#include <filesystem>
#include <vector>

#include "sieve/reader/category_table.h"

namespace sieve {

namespace {

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

IndexWalk::IndexWalk(CBackupRecord& record) : record_(record), locator_(record.folder) {}

bool IndexWalk::Exists(const CManifestRecord& entry) const {
  return !entry.IsDirectory() && !locator_.Find(entry.StoredName).empty();
}

StoredFile IndexWalk::StoredFileOf(const CManifestRecord& entry) const {
  StoredFile file;
  file.modifiedTime = entry.ModifiedTime;
  file.path = locator_.Find(entry.StoredName);
  if (file.path.empty()) {
    // Kept so the extractor's open fails with a clear "missing file" rather than silently.
    file.path = (std::filesystem::path(record_.folder) / entry.StoredName).string();
  }
  if (record_.encrypted != 0 && record_.keyBag.IsOpen()) {
    FileKey key{};
    if (record_.keyBag.FileKeyFromIndexField(entry.EncryptionKey, key)) file.key = key;
  }
  return file;
}

void IndexWalk::Apply(const CManifestRecord& entry, const RuleMatch& match) {
  auto& slot = record_.extractors[static_cast<std::size_t>(match.slot)];
  if (!slot) {
    slot = CreateExtractor(match.slot);
    if (!slot) return;
    slot->SetContext(&record_.context);
  }
  switch (match.action) {
    case RuleAction::MainDatabase:
    case RuleAction::SecondDatabase:
      databases_.push_back({static_cast<std::size_t>(match.slot), match.action, entry.Domain, entry.Path,
                            StoredFileOf(entry)});
      break;
    case RuleAction::File:
    case RuleAction::Thumbnail: {
      FileRegistration registration;
      registration.action = match.action;
      registration.group = match.group;
      registration.name = match.name;
      registration.domain = entry.Domain;
      registration.devicePath = entry.Path;
      registration.file = StoredFileOf(entry);
      slot->Register(registration);
      break;
    }
  }
}

void IndexWalk::Offer(const CManifestRecord& entry) {
  const bool exists = Exists(entry);
  if (EndsWith(entry.Path, "-wal") || EndsWith(entry.Path, "-shm")) {
    companions_[{entry.Domain, entry.Path}] = exists ? StoredFileOf(entry) : StoredFile{};
  }
  std::vector<RuleMatch> matches;
  MatchCategoryRules(entry, exists, matches);
  for (const RuleMatch& match : matches) Apply(entry, match);
}

void IndexWalk::Finish() {
  const auto companion = [&](const PendingDatabase& database, const char* suffix, StoredFile& out) {
    const auto found = companions_.find({database.domain, database.path + suffix});
    if (found != companions_.end()) out = found->second;
  };
  for (const PendingDatabase& database : databases_) {
    DatabaseSource source;
    source.name = database.domain + "/" + database.path;
    source.main = database.main;
    companion(database, "-wal", source.wal);
    if (source.wal.IsSet()) companion(database, "-shm", source.shm);
    if (auto& slot = record_.extractors[database.slot]) slot->SetDatabase(database.action, source);
  }
  databases_.clear();
  companions_.clear();
}

}  // namespace sieve
