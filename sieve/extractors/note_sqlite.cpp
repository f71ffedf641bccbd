#include "sieve/extractors/note_sqlite.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "sieve/extractors/carved_columns.h"

namespace sieve {
namespace {

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
  if (!Searchable()) return CSqliteDelete::scan();
  FindColumns();
  liveNotes_ = LiveRowids("ZNOTE");
  liveBodies_ = LiveRowids("ZNOTEBODY");
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CNoteSqlite::Shapes() const {
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> body = ShapeForTable("ZNOTEBODY");
  std::optional<RecordShape> note = ShapeForTable("ZNOTE");
  if (!body || !note || columns_.bodyContent < 0 || columns_.noteTitle < 0) return shapes;
  // A body without its text is nothing to show; an owner is always written with it.
  body->columns[static_cast<std::size_t>(columns_.bodyContent)] = sqlite::kText;
  body->maxBytes.assign(body->columns.size(), 0);
  body->maxBytes[static_cast<std::size_t>(columns_.bodyContent)] = kLongestText;
  if (columns_.bodyOwner >= 0) body->columns[static_cast<std::size_t>(columns_.bodyOwner)] = sqlite::kInteger;
  note->maxBytes.assign(note->columns.size(), kLongestText);
  if (columns_.noteModified >= 0) {
    note->columns[static_cast<std::size_t>(columns_.noteModified)] = sqlite::kNull | sqlite::kReal | sqlite::kInteger;
  }
  shapes.push_back(std::move(*body));
  shapes.push_back(std::move(*note));
  return shapes;
}

bool CNoteSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  const auto& live = shapeIndex == kBodyShape ? liveBodies_ : liveNotes_;
  if (record.rowid >= 0 && live.count(record.rowid) != 0) return false;
  if (shapeIndex == kBodyShape) {
    const sqlite::Value* content = CarvedValue(record.values, columns_.bodyContent);
    return content != nullptr && content->kind == sqlite::ValueKind::kText && !content->bytes.empty();
  }
  const sqlite::Value* title = CarvedValue(record.values, columns_.noteTitle);
  return title != nullptr && title->kind == sqlite::ValueKind::kText && !title->bytes.empty();
}

void CNoteSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record) {
  if (shapeIndex == kBodyShape) {
    RecoveredNoteBody body;
    body.Key = record.rowid;
    if (const sqlite::Value* owner = CarvedValue(record.values, columns_.bodyOwner);
        owner != nullptr && owner->kind == sqlite::ValueKind::kInteger) {
      body.Owner = owner->integer;
    }
    body.Text = Text(*CarvedValue(record.values, columns_.bodyContent));
    const bool seen = std::any_of(bodies_.begin(), bodies_.end(), [&](const RecoveredNoteBody& b) {
      return b.Owner == body.Owner && b.Text == body.Text;
    });
    if (!seen) bodies_.push_back(std::move(body));
    return;
  }
  if (shapeIndex != kNoteShape) return;
  RecoveredNote note;
  note.Key = record.rowid;
  note.Title = Text(*CarvedValue(record.values, columns_.noteTitle));
  if (const auto body = CarvedInteger(record.values, columns_.noteBody)) note.Body = *body;
  if (const sqlite::Value* modified = CarvedValue(record.values, columns_.noteModified); modified != nullptr) {
    if (modified->kind == sqlite::ValueKind::kReal) {
      note.ModificationTime = modified->real;
      note.HasModificationTime = true;
    } else if (modified->kind == sqlite::ValueKind::kInteger) {
      note.ModificationTime = static_cast<double>(modified->integer);
      note.HasModificationTime = true;
    }
  }
  const bool seen = std::any_of(notes_.begin(), notes_.end(), [&](const RecoveredNote& n) {
    return n.Key == note.Key && n.Body == note.Body && n.Title == note.Title &&
           n.ModificationTime == note.ModificationTime;
  });
  if (!seen) notes_.push_back(std::move(note));
}

}  // namespace sieve
