#include "sieve/extractors/note_store.h"

#include <initializer_list>

#include "sieve/extractors/note_body.h"
#include "sieve/reader/time_text.h"

namespace sieve {
namespace {

constexpr std::string_view kTable = "ZICCLOUDSYNCINGOBJECT";

// The first of the candidate columns the table has, else the fallback. The names are ours,
// never taken from the file, so they can be written into a query.
std::string ColumnOr(sqlite::Database& db, std::initializer_list<std::string_view> candidates,
                     std::string_view fallback = "NULL") {
  for (std::string_view column : candidates) {
    if (db.HasColumn(kTable, column)) return std::string(column);
  }
  return std::string(fallback);
}

// The entity number of the named kind of object; -1 when the file does not say.
std::int64_t EntityNumber(sqlite::Database& db, std::string_view name) {
  if (!db.TableExists("Z_PRIMARYKEY")) return -1;
  sqlite::Statement query = db.Prepare("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?1");
  if (!query.Ok()) return -1;
  query.Bind(1, name);
  return query.Step() && !query.IsNull(0) ? query.Int64(0) : -1;
}

using Attachment = NoteAttachmentName;

// A note's attachments, named by their media's file name, else their title, else their type.
class AttachmentQuery {
 public:
  explicit AttachmentQuery(sqlite::Database& db) {
    if (!db.HasColumn(kTable, "ZNOTE") || !db.HasColumn(kTable, "ZTYPEUTI")) return;
    const std::string media = db.HasColumn(kTable, "ZMEDIA") && db.HasColumn(kTable, "ZFILENAME")
                                  ? "(SELECT m.ZFILENAME FROM ZICCLOUDSYNCINGOBJECT m WHERE m.Z_PK = a.ZMEDIA)"
                                  : "NULL";
    query_ = db.Prepare("SELECT a." + ColumnOr(db, {"ZIDENTIFIER"}) + ", " + media + ", a." +
                        ColumnOr(db, {"ZTITLE"}) + ", a.ZTYPEUTI FROM ZICCLOUDSYNCINGOBJECT a "
                        "WHERE a.ZNOTE = ?1 AND a.ZTYPEUTI IS NOT NULL ORDER BY a.Z_PK");
  }

  std::vector<Attachment> Of(std::int64_t note) {
    std::vector<Attachment> found;
    if (!query_.Ok()) return found;
    query_.Reset();
    query_.Bind(1, note);
    while (query_.Step()) {
      Attachment a{query_.Text(0), query_.Text(1)};
      for (int column = 2; a.name.empty() && column <= 3; ++column) a.name = query_.Text(column);
      found.push_back(std::move(a));
    }
    return found;
  }

 private:
  sqlite::Statement query_;
};

}  // namespace

std::vector<std::string> NoteAttachmentNames(const NoteBody& body, const std::vector<NoteAttachmentName>& attachments) {
  std::vector<std::string> names;
  for (const NoteBodyAttachment& mark : body.attachments) {
    std::string name = mark.type.empty() ? std::string("attachment") : mark.type;
    for (const NoteAttachmentName& a : attachments) {
      if (!mark.identifier.empty() && a.identifier == mark.identifier) name = a.name;
    }
    names.push_back(std::move(name));
  }
  return names;
}

std::map<std::int64_t, std::string> NoteStoreNames(sqlite::Database& db, std::string_view column) {
  std::map<std::int64_t, std::string> names;
  if (!db.TableExists(kTable) || !db.HasColumn(kTable, column)) return names;
  const std::string name(column);
  sqlite::Statement rows = db.Prepare("SELECT Z_PK, " + name + " FROM ZICCLOUDSYNCINGOBJECT WHERE " + name +
                                      " IS NOT NULL");
  while (rows.Ok() && rows.Step()) names[rows.Int64(0)] = rows.Text(1);
  return names;
}

std::string NoteTitleFromText(std::string_view text) { return std::string(text.substr(0, text.find('\n'))); }

void ReadNoteStoreNotes(sqlite::Database& db, std::vector<std::unique_ptr<NoteRecord>>& out) {
  if (!db.TableExists(kTable) || !db.HasColumn(kTable, "ZTITLE1")) return;
  // Which rows are notes: Z_PRIMARYKEY names the entity; without it, rows with a title.
  const std::int64_t noteEntity = EntityNumber(db, "ICNote");
  const std::string which = noteEntity >= 0 ? "n.Z_ENT = " + std::to_string(noteEntity)
                                            : std::string("n.ZTITLE1 IS NOT NULL AND n.ZTITLE1 <> ''");
  const bool hasFolders = db.HasColumn(kTable, "ZFOLDER") && db.HasColumn(kTable, "ZTITLE2");
  // Notes moved their creation date to a new column in later systems.
  const std::string sql =
      "SELECT n.Z_PK, n." + ColumnOr(db, {"ZMARKEDFORDELETION"}, "0") + ", n." +
      ColumnOr(db, {"ZCREATIONDATE3", "ZCREATIONDATE1", "ZCREATIONDATE"}) + ", n.ZTITLE1, n." +
      ColumnOr(db, {"ZSNIPPET"}) + ", n." + ColumnOr(db, {"ZISPASSWORDPROTECTED"}, "0") + ", " +
      (hasFolders ? "(SELECT f.ZTITLE2 FROM ZICCLOUDSYNCINGOBJECT f WHERE f.Z_PK = n.ZFOLDER)" : "NULL") +
      " FROM ZICCLOUDSYNCINGOBJECT n WHERE " + which + " ORDER BY n.Z_PK";
  sqlite::Statement notes = db.Prepare(sql);
  if (!notes.Ok()) return;
  sqlite::Statement body;
  if (db.TableExists("ZICNOTEDATA")) body = db.Prepare("SELECT ZDATA FROM ZICNOTEDATA WHERE ZNOTE = ?1 ORDER BY Z_PK LIMIT 1");
  AttachmentQuery attachmentsOf(db);
  while (notes.Step()) {
    auto record = std::make_unique<NoteRecord>();
    const std::int64_t key = notes.Int64(0);
    record->Deleted = notes.Int(1) != 0 ? 1 : 0;
    record->Date = MacTimeTextFromDouble(notes.Double(2));
    record->Title = notes.Text(3);
    record->Locked = notes.Int(5) != 0 ? 1 : 0;
    record->Folder = notes.Text(6);
    const std::vector<Attachment> attachments = attachmentsOf.Of(key);
    for (const Attachment& a : attachments) record->Attachments.push_back(a.name);
    bool hasData = false;
    if (body.Ok()) {
      body.Reset();
      body.Bind(1, key);
      if (body.Step() && !body.IsNull(0)) {
        hasData = true;
        // A locked note's body is encrypted with a key made from its password: it is listed, unread.
        if (record->Locked == 0) {
          if (const std::optional<NoteBody> decoded = DecodeNoteBody(body.Blob(0))) {
            record->Content = NameAttachmentMarks(decoded->text, NoteAttachmentNames(*decoded, attachments));
          }
        }
      }
    }
    // A note whose text is not stored in this file is known by its snippet only.
    if (!hasData) record->Content = notes.Text(4);
    if (record->Title.empty()) record->Title = NoteTitleFromText(record->Content);
    // A row with nothing left to show (a damaged file's, or an empty note) is not listed.
    if (record->Title.empty() && record->Content.empty() && record->Attachments.empty()) continue;
    out.push_back(std::move(record));
  }
}

}  // namespace sieve
