// Notes: the newer store "NoteStore.sqlite" (titles, snippets, dates and the compressed note
// text), the older "notes.sqlite" with its HTML bodies, and deleted notes of both recovered
// from free space, freed overflow pages and the log's older frames.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/extractors/note_sqlite.h"
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
  void RecoverOlderStore(const std::string& path);
  // The newer store as read for its live notes, kept for its recovery after the older store's.
  struct NoteStoreFile {
    std::string path;
    std::map<std::int64_t, std::string> folders;     // Z_PK -> folder title
    std::map<std::int64_t, std::string> mediaFiles;  // Z_PK -> media file name
  };
  void RecoverNoteStore(const NoteStoreFile& store);
  // One note per recovered body (bodies[i] with texts[i] and attachments[i]), titled and dated
  // by its note row where that survived; then the note rows whose bodies are gone.
  struct RecoveredText {
    std::string text;
    std::vector<std::string> attachments;
  };
  void AddRecovered(const std::vector<RecoveredNote>& notes, const std::vector<RecoveredNoteBody>& bodies,
                    const std::vector<RecoveredText>& texts, const std::map<std::int64_t, std::string>& folders);
  bool HasContent(const std::string& content) const;

  std::vector<std::unique_ptr<NoteRecord>> records_;
  std::optional<NoteStoreFile> noteStore_;
};

}  // namespace sieve
