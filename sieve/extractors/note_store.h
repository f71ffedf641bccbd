// Live notes of the newer notes store "NoteStore.sqlite" (system 9 on). Accounts, folders,
// attachments and their media share one table with the notes; Z_PRIMARYKEY tells which rows
// are notes. A note shows its folder's title, its attachments by name (also where their marks
// sit in its text), and a locked note its title only: its text is encrypted.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/records.h"
#include "sieve/sqlite/database.h"

namespace sieve {

// Appends the notes of an open store, in row order; nothing when it is not such a store.
void ReadNoteStoreNotes(sqlite::Database& db, std::vector<std::unique_ptr<NoteRecord>>& out);

// The title of a note that has none of its own: the first line of its text.
std::string NoteTitleFromText(std::string_view text);

}  // namespace sieve
