// Deleted notes of the older notes store ("notes.sqlite"): ZNOTEBODY rows (the HTML bodies)
// and ZNOTE rows (titles and dates) carved from the free space of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredNote {
  std::int64_t Key = -1;  // Z_PK; -1 when the cell's row id was overwritten
  std::int64_t Body = -1;  // ZBODY (ZNOTEDATA in the newer store): the Z_PK of its body; -1 when lost
  std::int64_t Folder = -1;  // the newer store's ZFOLDER; -1 when lost or none
  double ModificationTime = 0;  // seconds since 2001 (the creation in the newer store)
  bool HasModificationTime = false;
  std::string Title;
};

struct RecoveredNoteBody {
  std::int64_t Key = -1;
  std::int64_t Owner = -1;  // ZOWNER: the Z_PK of the note; -1 when lost
  std::string Text;         // raw HTML, as stored (the decoded text in the newer store)
};

class CNoteSqlite : public CSqliteDelete {
 public:
  // Carves both tables; copies of live rows are left out.
  int scan() override;

  const std::vector<RecoveredNote>& Notes() const { return notes_; }
  const std::vector<RecoveredNoteBody>& Bodies() const { return bodies_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  // Position of each column we read in the file's real column order (-1 when missing).
  struct Columns {
    int bodyOwner = -1;
    int bodyContent = -1;
    int noteBody = -1;
    int noteModified = -1;
    int noteTitle = -1;
  };
  void FindColumns();

  Columns columns_;
  std::vector<RecoveredNote> notes_;
  std::vector<RecoveredNoteBody> bodies_;
};

}  // namespace sieve
