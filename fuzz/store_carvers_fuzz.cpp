// Feeds arbitrary bytes, as a database file, to the carvers of the newer notes store (note,
// attachment and compressed body rows, each body inflated and decoded while it is weighed)
// and of Safari's history (visits and their pages).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/extractors/history_sqlite.h"
#include "sieve/extractors/note_store_sqlite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::size_t sink = 0;
  sieve::CNoteStoreSqlite notes;
  notes.LoadBytes(bytes);
  if (notes.scan() > 0) {
    for (const auto& body : notes.Bodies()) sink += body.Text.size();
    for (const auto& note : notes.Notes()) sink += note.Title.size();
    for (const auto& a : notes.Attachments()) sink += a.Identifier.size() + a.Type.size() + a.Title.size();
  }
  sieve::CHistorySqlite history;
  history.LoadBytes(bytes);
  if (history.scan() > 0) {
    for (const auto& visit : history.Visits()) sink += visit.title.size();
    for (const auto& page : history.Pages()) sink += page.url.size();
  }
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
