#include "sieve/extractors/note_info.h"

#include <algorithm>
#include <set>

#include <sqlite3.h>

#include "sieve/extractors/html_text.h"
#include "sieve/extractors/note_body.h"
#include "sieve/extractors/note_sqlite.h"
#include "sieve/extractors/note_store.h"
#include "sieve/extractors/note_store_sqlite.h"
#include "sieve/reader/time_text.h"
#include "sieve/reader/text.h"
#include "sieve/reader/version.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

// The first system version whose notes live in the newer store.
constexpr char kNoteStoreVersion[] = "9";
constexpr std::size_t kLongestRecoveredTitle = 80;

// A title for a recovered body whose note row is gone: its first line of text.
std::string TitleFromText(const std::string& text) {
  return std::string(Utf8Prefix(NoteTitleFromText(text), kLongestRecoveredTitle));
}

// The recovered note row a recovered body belongs to; nullptr when none is known. The row ids
// link them when they survived, but freeing a cell overwrites its first bytes, row id among
// them, so mostly only the note's title is left to tell: a note is titled by the first line
// of its text. Of several titles that fit, the longest is the note's own.
const RecoveredNote* NoteOfBody(const std::vector<RecoveredNote>& notes, const std::set<std::size_t>& used,
                                const RecoveredNoteBody& body, const std::string& text) {
  for (const RecoveredNote& note : notes) {
    if ((body.Owner >= 0 && note.Key == body.Owner) || (body.Key >= 0 && note.Body == body.Key)) return &note;
  }
  const std::string_view firstLine = std::string_view(text).substr(0, text.find('\n'));
  const RecoveredNote* best = nullptr;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const RecoveredNote& note = notes[i];
    if (used.count(i) != 0 || note.Title.empty() || !firstLine.starts_with(note.Title)) continue;
    // A row whose ids survived belongs to a body whose ids say so.
    if (note.Key >= 0 && body.Owner >= 0) continue;
    if (best == nullptr || note.Title.size() > best->Title.size()) best = &note;
  }
  return best;
}

}  // namespace

CNoteInfo::~CNoteInfo() = default;

std::size_t CNoteInfo::RecordCount(_InfoType type) const {
  return type == INFO_NOTE ? records_.size() : 0;
}

void* CNoteInfo::RecordAt(_InfoType type, std::size_t index) {
  if (type != INFO_NOTE || index >= records_.size()) return nullptr;
  return records_[index].get();
}

int CNoteInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  noteStore_.reset();
  if (context_ != nullptr && CompareVersions(context_->productVersion, kNoteStoreVersion) >= 0) {
    ReadNoteStore();
  }
  const int result = ReadOlderStore();
  // Live notes of both stores come first, then the recovered ones.
  if (noteStore_) RecoverNoteStore(*noteStore_);
  noteStore_.reset();
  return result;
}

void CNoteInfo::ReadNoteStore() {
  if (!SecondDatabase.IsSet()) return;
  const OpenableDatabase openable = PrepareDatabase(SecondDatabase, "NoteStore.sqlite");
  if (!openable.ok) return;
  sqlite::Database db;
  if (db.Open(openable.path, openable.immutable) != SQLITE_OK) return;
  ReadNoteStoreNotes(db, records_);
  noteStore_ = NoteStoreFile{openable.path, NoteStoreNames(db, "ZTITLE2"), NoteStoreNames(db, "ZFILENAME")};
}

int CNoteInfo::ReadOlderStore() {
  if (!MainDatabase.IsSet()) return 0;
  const OpenableDatabase openable = PrepareDatabase(MainDatabase, "notes.sqlite");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  if (const int rc = db.Open(openable.path, openable.immutable); rc != SQLITE_OK) return rc;
  sqlite::Statement notes = db.Prepare("SELECT Z_PK, ZTITLE, ZMODIFICATIONDATE FROM ZNOTE ORDER BY Z_PK");
  if (!notes.Ok()) return notes.Result() != SQLITE_OK ? notes.Result() : SQLITE_ERROR;
  sqlite::Statement body = db.Prepare("SELECT ZCONTENT FROM ZNOTEBODY WHERE ZOWNER = ?1 ORDER BY Z_PK LIMIT 1");
  while (notes.Step()) {
    auto record = std::make_unique<NoteRecord>();
    record->Title = notes.Text(1);
    record->Date = MacTimeTextFromDouble(notes.Double(2));
    if (body.Ok()) {
      body.Reset();
      body.Bind(1, notes.Int64(0));
      if (body.Step()) record->Content = HtmlToText(body.Text(0));
    }
    // A row with nothing left to show (a damaged file's) is not listed.
    if (record->Title.empty() && record->Content.empty()) continue;
    records_.push_back(std::move(record));
  }
  notes = sqlite::Statement();
  body = sqlite::Statement();
  db.Close();
  RecoverOlderStore(openable.path);
  return 0;
}

bool CNoteInfo::HasContent(const std::string& content) const {
  return std::any_of(records_.begin(), records_.end(),
                     [&](const std::unique_ptr<NoteRecord>& r) { return r->Content == content; });
}

void CNoteInfo::RecoverOlderStore(const std::string& path) {
  CNoteSqlite engine;
  if (engine.Load(path) != 0 || engine.scan() < 0) return;
  std::vector<RecoveredText> texts;
  for (const RecoveredNoteBody& body : engine.Bodies()) texts.push_back({HtmlToText(body.Text), {}});
  AddRecovered(engine.Notes(), engine.Bodies(), texts, {});
}

void CNoteInfo::RecoverNoteStore(const NoteStoreFile& store) {
  CNoteStoreSqlite engine;
  if (engine.Load(store.path) != 0 || engine.scan() < 0) return;
  const std::map<std::int64_t, std::string>& mediaFiles = store.mediaFiles;
  // Deleting a note deletes its attachment rows; their media rows, which name the files, stay.
  std::vector<NoteAttachmentName> attachments;
  for (const RecoveredNoteAttachment& a : engine.Attachments()) {
    const auto file = mediaFiles.find(a.Media);
    std::string name = file != mediaFiles.end() ? file->second : std::string();
    if (name.empty()) name = a.Title;
    if (name.empty()) name = a.Type;
    attachments.push_back({a.Identifier, std::move(name)});
  }
  std::vector<RecoveredText> texts;
  for (std::size_t i = 0; i < engine.Bodies().size(); ++i) {
    NoteBody body{engine.Bodies()[i].Text, engine.BodyAttachments()[i]};
    std::vector<std::string> names = NoteAttachmentNames(body, attachments);
    texts.push_back({NameAttachmentMarks(body.text, names), std::move(names)});
  }
  AddRecovered(engine.Notes(), engine.Bodies(), texts, store.folders);
}

void CNoteInfo::AddRecovered(const std::vector<RecoveredNote>& notes, const std::vector<RecoveredNoteBody>& bodies,
                             const std::vector<RecoveredText>& texts,
                             const std::map<std::int64_t, std::string>& folders) {
  const auto folderOf = [&](const RecoveredNote& note) {
    const auto found = folders.find(note.Folder);
    return found == folders.end() ? std::string() : found->second;
  };
  std::set<std::size_t> used;
  for (std::size_t i = 0; i < bodies.size() && i < texts.size(); ++i) {
    const std::string& text = texts[i].text;
    if (text.empty() || HasContent(text)) continue;
    auto record = std::make_unique<NoteRecord>();
    record->Deleted = 1;
    record->Content = text;
    record->Attachments = texts[i].attachments;
    if (const RecoveredNote* note = NoteOfBody(notes, used, bodies[i], text)) {
      used.insert(static_cast<std::size_t>(note - notes.data()));
      record->Title = note->Title;
      record->Date = MacTimeTextFromDouble(note->ModificationTime);
      record->Folder = folderOf(*note);
    } else {
      record->Title = TitleFromText(text);
      record->Date = kEmptyDateText;
    }
    records_.push_back(std::move(record));
  }
  // A note row whose body was overwritten still tells its title and date.
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const RecoveredNote& note = notes[i];
    if (used.count(i) != 0) continue;
    const std::string date = MacTimeTextFromDouble(note.ModificationTime);
    const bool known = std::any_of(records_.begin(), records_.end(), [&](const std::unique_ptr<NoteRecord>& r) {
      return r->Title == note.Title && r->Date == date;
    });
    if (known) continue;
    auto record = std::make_unique<NoteRecord>();
    record->Deleted = 1;
    record->Title = note.Title;
    record->Date = date;
    record->Folder = folderOf(note);
    records_.push_back(std::move(record));
  }
}

}  // namespace sieve
