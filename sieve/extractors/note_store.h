// Live notes of the newer notes store "NoteStore.sqlite" (system 9 on). Accounts, folders,
// attachments and their media share one table with the notes; Z_PRIMARYKEY tells which rows
// are notes. A note shows its folder's title, its attachments by name (also where their marks
// sit in its text), and a locked note its title only: its text is encrypted.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/note_body.h"
#include "sieve/records.h"
#include "sieve/sqlite/database.h"

namespace sieve {

// Appends the notes of an open store, in row order; nothing when it is not such a store.
void ReadNoteStoreNotes(sqlite::Database& db, std::vector<std::unique_ptr<NoteRecord>>& out);

struct NoteAttachmentName {
  std::string identifier;  // ZIDENTIFIER of the attachment row
  std::string name;        // its media's file name, else its title, else its type
};

// The name of each attachment mark of a body, in mark order: the named attachment's, else the
// mark's type.
std::vector<std::string> NoteAttachmentNames(const NoteBody& body, const std::vector<NoteAttachmentName>& attachments);

// Z_PK -> the column's text of every row of the object table that has one (folder titles,
// media file names); empty when the table lacks the column. The column name is the caller's own.
std::map<std::int64_t, std::string> NoteStoreNames(sqlite::Database& db, std::string_view column);

// The title of a note that has none of its own: the first line of its text.
std::string NoteTitleFromText(std::string_view text);

}  // namespace sieve
