// Notes: the newer store "NoteStore.sqlite" (titles, snippets, dates and the compressed note
// text), the older "notes.sqlite" with its HTML bodies, and notes recovered from the free
// space of the older store.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

class CNoteInfo : public CDatabaseInfo {
 public:
  ~CNoteInfo() override;

  // 0, or the SQLite code of a failed open or query of the older store.
  int read(std::string backupFolder) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<std::unique_ptr<NoteRecord>>& Records() const { return records_; }

 private:
  void ReadNoteStore();
  int ReadOlderStore();
  void RecoverDeleted(const std::string& path);
  bool HasContent(const std::string& content) const;

  std::vector<std::unique_ptr<NoteRecord>> records_;
};

}  // namespace sieve
