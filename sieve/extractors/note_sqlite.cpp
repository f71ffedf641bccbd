#include "sieve/extractors/note_sqlite.h"

#include <optional>

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr std::size_t kBodyShape = 0;
constexpr std::size_t kNoteShape = 1;
constexpr std::uint32_t kLongestText = 655350;

}  // namespace

void CNoteSqlite::FindColumns() {
  const auto bodyColumns = TableColumns("ZNOTEBODY");
  const auto noteColumns = TableColumns("ZNOTE");
  columns_.bodyOwner = StoredColumnIndex(bodyColumns, "ZOWNER");
  columns_.bodyContent = StoredColumnIndex(bodyColumns, "ZCONTENT");
  columns_.noteBody = StoredColumnIndex(noteColumns, "ZBODY");
  columns_.noteModified = StoredColumnIndex(noteColumns, "ZMODIFICATIONDATE");
  columns_.noteTitle = StoredColumnIndex(noteColumns, "ZTITLE");
}

int CNoteSqlite::scan() {
  notes_.clear();
  bodies_.clear();
  if (Searchable()) FindColumns();
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CNoteSqlite::Shapes() const {
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> body = ShapeForTable("ZNOTEBODY");
  std::optional<RecordShape> note = ShapeForTable("ZNOTE");
  if (!body || !note || columns_.bodyContent < 0 || columns_.noteTitle < 0) return shapes;
  // A body without its text is nothing to show; an owner is always written with it.
  NarrowColumn(*body, columns_.bodyContent, kText, kLongestText);
  NarrowColumn(*body, columns_.bodyOwner, kInteger);
  LimitValueBytes(*note, kLongestText);
  NarrowColumn(*note, columns_.noteModified, kNull | kReal | kInteger);
  shapes.push_back(std::move(*body));
  shapes.push_back(std::move(*note));
  return shapes;
}

// A body is named by its note and its text; a note by its body, title and date.
CSqliteDelete::ShapeTable CNoteSqlite::TableOf(std::size_t shapeIndex) const {
  if (shapeIndex == kBodyShape) return {"ZNOTEBODY", {{columns_.bodyOwner, columns_.bodyContent}}};
  return {"ZNOTE", {{columns_.noteBody, columns_.noteTitle, columns_.noteModified}}};
}

bool CNoteSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  return HasText(record.values, shapeIndex == kBodyShape ? columns_.bodyContent : columns_.noteTitle);
}

void CNoteSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin&) {
  if (shapeIndex == kBodyShape) {
    RecoveredNoteBody body;
    body.Key = record.rowid;
    body.Owner = IntegerAt(record.values, columns_.bodyOwner).value_or(-1);
    body.Text = TextAt(record.values, columns_.bodyContent);
    bodies_.push_back(std::move(body));
    return;
  }
  if (shapeIndex != kNoteShape) return;
  RecoveredNote note;
  note.Key = record.rowid;
  note.Title = TextAt(record.values, columns_.noteTitle);
  note.Body = IntegerAt(record.values, columns_.noteBody).value_or(-1);
  if (const auto modified = NumberAt(record.values, columns_.noteModified)) {
    note.ModificationTime = *modified;
    note.HasModificationTime = true;
  }
  notes_.push_back(std::move(note));
}

}  // namespace sieve
