#include "sieve/reader/index_walk.h"

#include <filesystem>
#include <vector>

#include "sieve/reader/category_table.h"

namespace sieve {

IndexWalk::IndexWalk(CBackupRecord& record) : record_(record), locator_(record.folder) {
  for (const CManifestRecord& entry : record_.index) byPath_[{entry.Domain, entry.Path}] = &entry;
}

bool IndexWalk::Exists(const CManifestRecord& entry) const {
  return !entry.IsDirectory() && !locator_.Find(entry.StoredName).empty();
}

const CManifestRecord* IndexWalk::Find(const std::string& domain, const std::string& path) const {
  const auto found = byPath_.find({domain, path});
  if (found == byPath_.end() || found->second->IsDirectory()) return nullptr;
  return found->second;
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

DatabaseSource IndexWalk::DatabaseOf(const CManifestRecord& entry) const {
  DatabaseSource source;
  source.name = entry.Domain + "/" + entry.Path;
  source.main = StoredFileOf(entry);
  const auto companion = [&](const char* suffix, StoredFile& out) {
    const std::string path = entry.Path + suffix;
    const auto found = byPath_.find({entry.Domain, path});
    if (found != byPath_.end() && Exists(*found->second)) out = StoredFileOf(*found->second);
  };
  companion("-wal", source.wal);
  if (source.wal.IsSet()) companion("-shm", source.shm);
  return source;
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
      slot->SetDatabase(match.action, DatabaseOf(entry));
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

bool IndexWalk::Run(const std::function<bool(std::size_t i, std::size_t n)>& between) {
  const std::size_t n = record_.index.size();
  std::vector<RuleMatch> matches;
  for (std::size_t i = 0; i < n; ++i) {
    if (!between(i, n)) return false;
    const CManifestRecord& entry = record_.index[i];
    matches.clear();
    MatchCategoryRules(entry, Exists(entry), matches);
    for (const RuleMatch& match : matches) Apply(entry, match);
  }
  return true;
}

}  // namespace sieve
