#include "sieve/extractors/note_store_sqlite.h"

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr char kObjects[] = "ZICCLOUDSYNCINGOBJECT";
constexpr char kNoteData[] = "ZICNOTEDATA";
constexpr std::size_t kDataShape = 0;
constexpr std::size_t kObjectShape = 1;
constexpr std::uint32_t kLongestText = 655350;

std::span<const std::uint8_t> BytesOf(const Value& value) {
  return {reinterpret_cast<const std::uint8_t*>(value.bytes.data()), value.bytes.size()};
}

}  // namespace

std::optional<std::int64_t> CNoteStoreSqlite::EntityNamed(std::string_view name) const {
  const int column = StoredColumnIndex(TableColumns("Z_PRIMARYKEY"), "Z_NAME");
  std::optional<std::int64_t> found;
  ForEachLiveRow("Z_PRIMARYKEY", [&](std::int64_t rowid, const std::vector<Value>& values) {
    if (HasText(values, column) && TextAt(values, column) == name) found = rowid;
  });
  return found;
}

void CNoteStoreSqlite::FindColumns() {
  columns_ = Columns{};
  const auto objects = TableColumns(kObjects);
  const auto at = [&](std::string_view name) { return StoredColumnIndex(objects, name); };
  columns_.entity = at("Z_ENT");
  columns_.title = at("ZTITLE1");
  columns_.noteData = at("ZNOTEDATA");
  // Notes moved their creation date to a new column in later systems.
  for (std::string_view name : {"ZCREATIONDATE3", "ZCREATIONDATE1", "ZCREATIONDATE"}) {
    if (columns_.created < 0) columns_.created = at(name);
  }
  columns_.folder = at("ZFOLDER");
  columns_.identifier = at("ZIDENTIFIER");
  columns_.note = at("ZNOTE");
  columns_.media = at("ZMEDIA");
  columns_.typeUti = at("ZTYPEUTI");
  columns_.attachmentTitle = at("ZTITLE");
  const auto data = TableColumns(kNoteData);
  columns_.dataNote = StoredColumnIndex(data, "ZNOTE");
  columns_.data = StoredColumnIndex(data, "ZDATA");
  noteEntity_ = EntityNamed("ICNote");
  attachmentEntity_ = EntityNamed("ICAttachment");
}

int CNoteStoreSqlite::scan() {
  notes_.clear();
  bodies_.clear();
  marks_.clear();
  attachments_.clear();
  if (Searchable()) FindColumns();
  const int result = CSqliteDelete::scan();
  return result < 0 ? result : static_cast<int>(notes_.size() + bodies_.size());
}

std::vector<RecordShape> CNoteStoreSqlite::Shapes() const {
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> data = ShapeForTable(kNoteData);
  std::optional<RecordShape> objects = ShapeForTable(kObjects);
  // Without the entity numbers a note row cannot be told from a folder's or an account's.
  if (!data || !objects || columns_.data < 0 || columns_.entity < 0 || !noteEntity_) return shapes;
  // A body is a compressed blob, never held inline as text; its note is a row number.
  NarrowColumn(*data, columns_.data, kBlob, kMaxInflatedNoteBody);
  NarrowColumn(*data, columns_.dataNote, kInteger | kNull);
  LimitValueBytes(*objects, kLongestText);
  NarrowColumn(*objects, columns_.entity, kInteger);
  NarrowColumn(*objects, columns_.noteData, kInteger | kNull);
  NarrowColumn(*objects, columns_.created, kNull | kReal | kInteger);
  shapes.push_back(std::move(*data));
  shapes.push_back(std::move(*objects));
  return shapes;
}

// A body is named by its note; an object by its CloudKit identifier.
CSqliteDelete::ShapeTable CNoteStoreSqlite::TableOf(std::size_t shapeIndex) const {
  if (shapeIndex == kDataShape) return {kNoteData, {{columns_.dataNote}}};
  return {kObjects, {{columns_.identifier}}};
}

bool CNoteStoreSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  if (shapeIndex == kDataShape) {
    const Value* data = ValueAt(record.values, columns_.data);
    // Only a body that still decodes is worth a note: a cut blob inflates to nothing.
    return data != nullptr && data->kind == ValueKind::kBlob && !data->truncated &&
           DecodeNoteBody(BytesOf(*data)).has_value();
  }
  const std::optional<std::int64_t> entity = IntegerAt(record.values, columns_.entity);
  if (entity == noteEntity_) return HasText(record.values, columns_.title);
  return attachmentEntity_ && entity == attachmentEntity_ && IntegerAt(record.values, columns_.note).has_value() &&
         HasText(record.values, columns_.typeUti);
}

void CNoteStoreSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin&) {
  if (shapeIndex == kDataShape) {
    const Value* data = ValueAt(record.values, columns_.data);
    std::optional<NoteBody> body = data != nullptr ? DecodeNoteBody(BytesOf(*data)) : std::nullopt;
    if (!body) return;
    RecoveredNoteBody found;
    found.Key = record.rowid;
    found.Owner = IntegerAt(record.values, columns_.dataNote).value_or(-1);
    found.Text = std::move(body->text);
    bodies_.push_back(std::move(found));
    marks_.push_back(std::move(body->attachments));
    return;
  }
  if (shapeIndex != kObjectShape) return;
  if (IntegerAt(record.values, columns_.entity) == noteEntity_) {
    RecoveredNote note;
    note.Key = record.rowid;
    note.Title = TextAt(record.values, columns_.title);
    note.Body = IntegerAt(record.values, columns_.noteData).value_or(-1);
    note.Folder = IntegerAt(record.values, columns_.folder).value_or(-1);
    if (const auto created = NumberAt(record.values, columns_.created)) {
      note.ModificationTime = *created;
      note.HasModificationTime = true;
    }
    notes_.push_back(std::move(note));
    return;
  }
  RecoveredNoteAttachment attachment;
  attachment.Note = IntegerAt(record.values, columns_.note).value_or(-1);
  attachment.Media = IntegerAt(record.values, columns_.media).value_or(-1);
  attachment.Identifier = TextAt(record.values, columns_.identifier);
  attachment.Type = TextAt(record.values, columns_.typeUti);
  attachment.Title = TextAt(record.values, columns_.attachmentTitle);
  attachments_.push_back(std::move(attachment));
}

}  // namespace sieve
