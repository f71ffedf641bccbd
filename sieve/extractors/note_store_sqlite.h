// Deleted notes of the newer notes store ("NoteStore.sqlite"): note rows of the shared object
// table (titles, dates, folders), their attachment rows, and the compressed bodies of
// ZICNOTEDATA, carved from free space, freed overflow pages and the log's superseded frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sieve/extractors/note_body.h"
#include "sieve/extractors/note_sqlite.h"
#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredNoteAttachment {
  std::int64_t Note = -1;   // ZNOTE: the Z_PK of its note
  std::int64_t Media = -1;  // ZMEDIA: the Z_PK of its media row, which names its file
  std::string Identifier;   // what the body's mark names it by
  std::string Type;
  std::string Title;
};

class CNoteStoreSqlite : public CSqliteDelete {
 public:
  // Carves the note, attachment and body rows; copies of live rows are left out. A body is
  // kept only when it decodes: Text holds its text with the marks still in place.
  int scan() override;

  const std::vector<RecoveredNote>& Notes() const { return notes_; }
  const std::vector<RecoveredNoteBody>& Bodies() const { return bodies_; }
  // The decoded attachment marks of Bodies()[i].
  const std::vector<std::vector<NoteBodyAttachment>>& BodyAttachments() const { return marks_; }
  const std::vector<RecoveredNoteAttachment>& Attachments() const { return attachments_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {
    int entity = -1, title = -1, noteData = -1, created = -1, folder = -1, identifier = -1;
    int note = -1, media = -1, typeUti = -1, attachmentTitle = -1;
    int dataNote = -1, data = -1;
  };
  void FindColumns();
  std::optional<std::int64_t> EntityNamed(std::string_view name) const;

  Columns columns_;
  std::optional<std::int64_t> noteEntity_, attachmentEntity_;
  std::vector<RecoveredNote> notes_;
  std::vector<RecoveredNoteBody> bodies_;
  std::vector<std::vector<NoteBodyAttachment>> marks_;
  std::vector<RecoveredNoteAttachment> attachments_;
};

}  // namespace sieve
