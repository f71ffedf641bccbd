// Feeds arbitrary bytes to every category's deleted-record engine as its database file:
// each takes its shapes from the file's own schema, carves, and compares with the live
// rows, so one input reaches the address-book, message, note, calendar, bookmark,
// call-history and photo-library carving alike.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/extractors/bookmark_sqlite.h"
#include "sieve/extractors/calendar_sqlite.h"
#include "sieve/extractors/call_sqlite.h"
#include "sieve/extractors/contact_sqlite.h"
#include "sieve/extractors/note_sqlite.h"
#include "sieve/extractors/photo_library_sqlite.h"
#include "sieve/extractors/sms_sqlite.h"

namespace {

// Touches every recovered text, so a value decoded past its bounds shows up under ASan.
std::size_t Touch(const std::string& text) { return text.empty() ? 0 : static_cast<unsigned char>(text.back()) + text.size(); }

template <typename Engine, typename Visit>
std::size_t Run(Engine& engine, const std::vector<std::uint8_t>& bytes, Visit visit) {
  if (engine.LoadBytes(bytes) != 0) return 0;
  return engine.scan() > 0 ? visit(engine) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::size_t sink = 0;

  sieve::CContactSqlite contacts;
  if (contacts.LoadBytes(bytes) == 0 && contacts.Recover() > 0) {
    for (const auto& person : contacts.People()) {
      for (const auto& text : person.texts) sink += Touch(text);
      for (const auto& value : person.values) sink += Touch(value.value) + Touch(value.guid);
    }
  }
  for (const auto layout : {sieve::SmsLayout::Newer, sieve::SmsLayout::Older}) {
    sieve::CSmsSqlite sms(layout);
    sink += Run(sms, bytes, [](const sieve::CSmsSqlite& e) {
      std::size_t n = 0;
      for (const auto& h : e.Handles()) n += Touch(h.id) + Touch(h.service);
      for (const auto& m : e.Messages()) n += Touch(m.text) + Touch(m.address);
      return n;
    });
  }
  sieve::CNoteSqlite notes;
  sink += Run(notes, bytes, [](const sieve::CNoteSqlite& e) {
    std::size_t n = 0;
    for (const auto& note : e.Notes()) n += Touch(note.Title);
    for (const auto& body : e.Bodies()) n += Touch(body.Text);
    return n;
  });
  sieve::CCalendarSqlite calendar;
  sink += Run(calendar, bytes, [](const sieve::CCalendarSqlite& e) {
    std::size_t n = 0;
    for (const auto& item : e.Items()) n += Touch(item.summary) + Touch(item.description) + Touch(item.locationText);
    return n;
  });
  sieve::CBookmarkSqlite bookmarks;
  sink += Run(bookmarks, bytes, [](const sieve::CBookmarkSqlite& e) {
    std::size_t n = 0;
    for (const auto& b : e.Bookmarks()) n += Touch(b.title) + Touch(b.url);
    return n;
  });
  sieve::CCallSqlite calls;
  sink += Run(calls, bytes, [](const sieve::CCallSqlite& e) {
    std::size_t n = 0;
    for (const auto& call : e.Calls()) n += Touch(call.address) + Touch(call.name);
    return n;
  });
  sieve::CPhotoLibrarySqlite photos;
  if (photos.LoadBytes(bytes) == 0 && photos.Recover() > 0) {
    for (const auto& asset : photos.Assets()) sink += Touch(asset.devicePath) + Touch(asset.dateTaken);
  }
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
