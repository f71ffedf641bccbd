// Voice memos: the rows of "Recordings.db" and of the newer "CloudRecordings.db", live and
// deleted, joined with the ".m4a" files the backup holds.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

// The recording file a device path names: its last component ("/" or "\" separated) made a
// safe file name; "" when the path ends in a separator or names no file. A path without
// any separator names a file only when bareNameAllowed.
std::string RecordingFileName(std::string_view devicePath, bool bareNameAllowed = false);

class CRecordingInfo : public CDatabaseInfo {
 public:
  ~CRecordingInfo() override;

  int read(std::string backupFolder) override;
  void Register(const FileRegistration& file) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<std::unique_ptr<VoiceMemoRecord>>& Records() const { return records_; }

 private:
  enum class Store { Older, Cloud };
  int ReadStore(const DatabaseSource& source, Store store);
  void LinkFile(VoiceMemoRecord& record, bool bareNameAllowed);

  // Recording file name -> its stored file (path and, when encrypted, key).
  std::map<std::string, StoredFile> files_;
  std::vector<std::unique_ptr<VoiceMemoRecord>> records_;
};

}  // namespace sieve
