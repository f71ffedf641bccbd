// Hands the files of a backup's index to the category extractors.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sieve/backup/stored_name.h"
#include "sieve/reader/backup_record.h"

namespace sieve {

class IndexWalk {
 public:
  explicit IndexWalk(CBackupRecord& record);

  // The stored file of an entry: its path on disk ("" when missing; the computed
  // name in the backup folder then) and, in an encrypted backup, its unwrapped key.
  StoredFile StoredFileOf(const CManifestRecord& entry) const;
  // A file (not a folder) whose stored file is in the backup folder.
  bool Exists(const CManifestRecord& entry) const;

  // Offers one entry, as the index is read, to the category rules, creating extractors as
  // their first file appears; the entry need not outlive the call, so a scan keeps no
  // index in memory. A database is handed over by Finish, once its "-wal" and "-shm",
  // which may come later in the index, are known.
  void Offer(const CManifestRecord& entry);
  void Finish();

 private:
  struct PendingDatabase {
    std::size_t slot;
    RuleAction action;
    std::string domain, path;
    StoredFile main;
  };
  void Apply(const CManifestRecord& entry, const RuleMatch& match);

  CBackupRecord& record_;
  StoredFileLocator locator_;
  std::vector<PendingDatabase> databases_;
  // The last entry of each "-wal" or "-shm" name offered, as a database's companion; unset
  // when that entry has no stored file. Few: only databases keep them.
  std::map<std::pair<std::string, std::string>, StoredFile> companions_;
};

}  // namespace sieve
