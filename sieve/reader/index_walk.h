// Hands the files of a backup's index to the category extractors.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "sieve/backup/stored_name.h"
#include "sieve/reader/backup_record.h"

namespace sieve {

class IndexWalk {
 public:
  explicit IndexWalk(CBackupRecord& record);

  // The stored file of an entry: its path on disk ("" when missing; the computed
  // name in the backup folder then) and, in an encrypted backup, its unwrapped key.
  StoredFile StoredFileOf(const CManifestRecord& entry) const;
  bool Exists(const CManifestRecord& entry) const;
  // The entry of a file (not a directory) by domain and path, or null.
  const CManifestRecord* Find(const std::string& domain, const std::string& path) const;

  // Offers every entry to the category rules, creating extractors as their first
  // file appears. `between(i, n)` runs before entry i; returning false stops the walk.
  // Returns false when stopped.
  bool Run(const std::function<bool(std::size_t i, std::size_t n)>& between);

 private:
  void Apply(const CManifestRecord& entry, const RuleMatch& match);
  DatabaseSource DatabaseOf(const CManifestRecord& entry) const;

  CBackupRecord& record_;
  StoredFileLocator locator_;
  // Keys point into the record's index, which outlives the walk: a phone's index has
  // hundreds of thousands of entries, and copies of their names doubled a scan's memory.
  std::map<std::pair<std::string_view, std::string_view>, const CManifestRecord*> byPath_;
};

}  // namespace sieve
