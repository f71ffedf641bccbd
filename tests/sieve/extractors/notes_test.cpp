#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sieve/extractors/html_text.h"
#include "sieve/extractors/note_body.h"
#include "sieve/private_folder.h"
#include "sieve/extractors/note_info.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using test::TempDir;

std::string ExpectedDate(double macSeconds) {
  return test::TestZoneDateText(static_cast<std::int64_t>(macSeconds) + 978307200);
}

std::vector<NoteRecord> ReadNotes(const std::string& older, const std::string& newer, const std::string& version,
                                  int* result = nullptr, const std::string& olderWal = "",
                                  const std::string& newerWal = "") {
  ScanContext context;
  PrivateFolder folder;
  context.productVersion = version;
  context.privateFolder = &folder;
  CNoteInfo info;
  info.SetContext(&context);
  DatabaseSource main, second;
  main.main.path = older;
  main.wal.path = olderWal;
  second.main.path = newer;
  second.wal.path = newerWal;
  if (!older.empty()) info.SetDatabase(RuleAction::MainDatabase, main);
  if (!newer.empty()) info.SetDatabase(RuleAction::SecondDatabase, second);
  const int rc = info.read("");
  if (result != nullptr) *result = rc;
  std::vector<NoteRecord> notes;
  for (std::size_t i = 0; i < info.RecordCount(INFO_NOTE); ++i) {
    notes.push_back(*static_cast<NoteRecord*>(info.RecordAt(INFO_NOTE, i)));
  }
  return notes;
}

struct Layout {
  std::string version;
  std::vector<std::string> seeds;
};

// The older store is the same from system 7 on; the newer one (from 9) changed its columns with
// 13, 15 and 17.
const std::vector<Layout> kLayouts = {{"6.1.3", {"3", "8", "21"}}, {"8.4", {"3", "8", "21"}}, {"10.2", {"3", "8", "21"}},
                                      {"13.7", {"3"}},             {"16.7", {"3"}},             {"18.2", {"3"}}};

// A generated backup of one layout and seed: its notes truth and its two stores.
struct Generated {
  std::string version;
  const test::GeneratedBackup& backup;
  const JsonValue& truth;
  std::string older, newer;
  std::string olderWal, newerWal;  // "" unless generated with their recent changes in a -wal

  Generated(const std::string& v, const test::LayoutBackup& b)
      : version(v),
        backup(b.Backup),
        truth(b.Database("notes")),
        older(b.Stored("Library/Notes/notes.sqlite")),
        newer(b.Stored("NoteStore.sqlite")),
        olderWal(b.Stored("Library/Notes/notes.sqlite-wal")),
        newerWal(b.Stored("NoteStore.sqlite-wal")) {}
};

// Every layout with every seed, the newest layout last.
std::vector<Generated> AllBackups() {
  std::vector<Generated> all;
  for (const Layout& layout : kLayouts) {
    for (const std::string& seed : layout.seeds) all.emplace_back(layout.version, test::SmallBackup(layout.version, seed));
  }
  return all;
}

// Every layout with its last changes left in a -wal beside each store, in both backup layouts;
// and in the newer backup layout without one.
std::vector<Generated> WalBackups() {
  std::vector<Generated> all;
  for (const Layout& layout : kLayouts) {
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"--wal-history"}, {"--wal-history", "--manifest-db"}, {"--manifest-db"}}) {
      all.emplace_back(layout.version, test::SmallBackup(layout.version, layout.seeds.front(), options));
    }
  }
  return all;
}

// Live notes of each store in row order: title, date and the text of the body (of the older
// store's HTML). Of the newer store, of every generation, one note per note row (accounts,
// folders and attachments share the table), dated by its creation, marked as in "Recently
// Deleted", with its folder, its attachments named (also in its text), the text out of its
// compressed body (the snippet when the file holds none, nothing for a damaged body), a locked
// note by its title only and a title-less note by its first line; the older store's follow.
TEST(NoteBackups, LiveNotesOfEachStoreMatchTheTruth) {
  std::set<std::string> generations;
  for (const Generated& g : AllBackups()) {
    for (const std::string store : {"older", "newer"}) {
      const bool newer = store == "newer";
      if (newer && g.newer.empty()) continue;
      SCOPED_TRACE(g.backup.Folder + " " + store);
      const JsonValue& truth = g.truth[store];
      const auto& live = truth["live"].Items;
      const auto& older = g.truth["older"]["live"].Items;
      int result = -1;
      const auto notes = ReadNotes(g.older, newer ? g.newer : "", g.version, &result);
      EXPECT_EQ(result, 0);
      ASSERT_GE(notes.size(), live.size() + (newer ? older.size() : 0));
      int locked = 0, attached = 0;
      for (std::size_t i = 0; i < live.size(); ++i) {
        SCOPED_TRACE(live[i].Text("title"));
        EXPECT_EQ(notes[i].Deleted, live[i].Int("deleted"));
        EXPECT_EQ(notes[i].Date, ExpectedDate(live[i]["date"].Number));
        EXPECT_EQ(notes[i].Title, live[i].Text("title"));
        EXPECT_EQ(notes[i].Content, live[i].Text("text"));
        if (!newer) continue;
        EXPECT_EQ(notes[i].Folder, live[i].Text("folder"));
        EXPECT_EQ(notes[i].Attachments, test::Strings(live[i]["attachments"]));
        EXPECT_EQ(notes[i].Locked, live[i].Int("locked"));
        locked += notes[i].Locked;
        attached += !notes[i].Attachments.empty();
      }
      if (!newer) {
        for (std::size_t i = live.size(); i < notes.size(); ++i) EXPECT_EQ(notes[i].Deleted, 1) << notes[i].Title;
        continue;
      }
      generations.insert(truth.Text("layout"));
      EXPECT_EQ(locked, 1);
      EXPECT_GT(attached, 0);
      EXPECT_EQ(notes[live.size()].Title, older[0].Text("title"));
    }
  }
  EXPECT_EQ(generations.size(), 4u);
}

// Layouts are chosen by the version as a number: "10.2" is past "9", "8.4" is not.
TEST(NoteBackups, NewerStoreIsReadFromSystemNineOnByNumber) {
  const Generated g = AllBackups().back();
  ASSERT_FALSE(g.newer.empty());
  const std::size_t newer = ReadNotes("", g.newer, "10.2").size();
  ASSERT_GT(newer, g.truth["newer"]["live"].Items.size());  // its recovered notes too
  const std::size_t all = ReadNotes(g.older, g.newer, "10.2").size();
  EXPECT_EQ(ReadNotes(g.older, g.newer, "9.0").size(), all);
  EXPECT_EQ(ReadNotes(g.older, g.newer, "8.4").size() + newer, all);
  EXPECT_EQ(ReadNotes(g.older, g.newer, "10.2").front().Title, g.truth["newer"]["live"].Items[0].Text("title"));
  // A missing older store is a failure, and the newer store still gives its notes.
  int result = 0;
  EXPECT_EQ(ReadNotes(g.newer + ".absent", g.newer, "10.2", &result).size(), newer);
  EXPECT_NE(result, 0);
}

// Deleted notes of each store whose body cells survive come back with their text, and with
// their title and date (and folder and attachments in the newer store) when the note row
// survives too; nothing else comes back. With a -wal, also the notes deleted since the last
// checkpoint (one of them only ever written to the log), and not the old row of a note
// retitled since.
TEST(NoteBackups, DeletedNotesRecallAndPrecisionPerLayout) {
  std::map<std::string, test::Recovery> figures;
  std::vector<Generated> backups = AllBackups();
  for (Generated& g : WalBackups()) backups.push_back(std::move(g));
  for (const Generated& g : backups) {
    for (const char* store : {"older", "newer"}) {
      const bool newer = std::string(store) == "newer";
      if (newer && g.newer.empty()) continue;
      SCOPED_TRACE(g.backup.Folder + " " + store);
      const JsonValue& truth = g.truth[store];
      // Each store lists its live notes first (the newer one's "Recently Deleted" among them,
      // marked deleted), then the recovered ones.
      const auto notes = newer ? ReadNotes("", g.newer, g.version, nullptr, "", g.newerWal)
                               : ReadNotes(g.older, "", g.version, nullptr, g.olderWal);
      const std::size_t live = truth["live"].Items.size();
      ASSERT_GE(notes.size(), live);
      for (std::size_t i = 0; i < live; ++i) EXPECT_EQ(notes[i].Title, truth["live"].Items[i].Text("title"));
      const std::vector<NoteRecord> recovered(notes.begin() + static_cast<std::ptrdiff_t>(live), notes.end());
      for (const NoteRecord& r : recovered) EXPECT_EQ(r.Deleted, 1) << r.Title;
      // A body longer than its page is carved up to the page end: most of its text is a match.
      const auto sameText = [](const NoteRecord& got, const JsonValue& want) {
        const std::string text = want.Text("text");
        if (got.Content == text) return true;
        return got.Content.size() >= 64 && text.starts_with(got.Content.substr(0, got.Content.size() - 16));
      };
      const auto sameNote = [&](const NoteRecord& got, const JsonValue& want) {
        return got.Title == want.Text("title") && got.Date == ExpectedDate(want["date"].Number) &&
               (!newer || got.Folder == want.Text("folder"));
      };
      const bool wal = !(newer ? g.newerWal : g.olderWal).empty();
      test::Recovery& f = figures[truth.Text("layout") + (wal ? " with -wal" : "") +
                           (g.backup.Folder.find("manifest-db") != std::string::npos ? " in Manifest.db" : "")];
      for (const JsonValue& want : truth["deleted"].Items) {
        if (!want["intact"].Bool) continue;
        ++f.intact;
        for (const NoteRecord& got : recovered) {
          if (got.Content == want.Text("text") && (!want["note_intact"].Bool || sameNote(got, want)) &&
              (!newer || got.Attachments == test::Strings(want["attachments"]))) {
            ++f.found;
            break;
          }
        }
      }
      for (const NoteRecord& got : recovered) {
        ++f.reported;
        for (const JsonValue& want : truth["deleted"].Items) {
          if (got.Content.empty() ? sameNote(got, want) : sameText(got, want)) {
            ++f.correct;
            break;
          }
        }
        for (const JsonValue& live : truth["live"].Items) {
          if (!got.Content.empty()) {
            EXPECT_NE(got.Content, live.Text("text")) << got.Title;
          }
        }
      }
    }
  }
  for (const auto& [layout, f] : figures) {
    const bool newer = layout.starts_with("NoteStore");
    f.Expect(layout, newer ? 0.95 : 0.9, newer ? 0.98 : 0.95);
  }
  EXPECT_EQ(figures.size(), 24u);  // 4 generations of the newer store and 2 of the older, 4 ways each
}

// A body deleted while its note row stays live belongs to no recovered note: it is listed on
// its own, titled by its first line and undated; in either store.
TEST(NoteBackups, BodyWithoutItsNoteIsTitledByItsFirstLine) {
  const Generated g = AllBackups().back();
  const struct {
    std::string source;
    const char* note;        // the first live note with a body: its row id and title
    const char* deleteBody;  // + that row id
  } stores[] = {
      {g.older, "SELECT n.Z_PK, n.ZTITLE FROM ZNOTE n JOIN ZNOTEBODY b ON b.ZOWNER = n.Z_PK WHERE b.ZCONTENT <> '' ORDER BY n.Z_PK LIMIT 1",
       "DELETE FROM ZNOTEBODY WHERE ZOWNER = "},
      {g.newer,
       "SELECT n.Z_PK, n.ZTITLE1 FROM ZICCLOUDSYNCINGOBJECT n JOIN ZICNOTEDATA d ON d.ZNOTE = n.Z_PK "
       "WHERE n.ZISPASSWORDPROTECTED = 0 AND n.ZSNIPPET <> '' ORDER BY n.Z_PK LIMIT 1",
       "DELETE FROM ZICNOTEDATA WHERE ZNOTE = "}};
  for (const auto& store : stores) {
    SCOPED_TRACE(store.source);
    TempDir dir;
    const std::string path = dir.Join("store.sqlite");
    test::WriteFile(path, test::ReadFile(store.source));
    const auto read = [&] { return store.source == g.older ? ReadNotes(path, "", g.version) : ReadNotes("", path, g.version); };
    const auto rows = test::Query(path, store.note);
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<NoteRecord> before = read();
    std::string text;
    for (const NoteRecord& r : before) {
      if (r.Deleted == 0 && r.Title == rows[0][1]) text = r.Content;
    }
    ASSERT_FALSE(text.empty());
    test::ExecSql(path, "PRAGMA secure_delete=OFF; " + std::string(store.deleteBody) + rows[0][0] + ";");
    const std::vector<NoteRecord> after = read();
    EXPECT_EQ(after.size(), before.size() + 1);
    int found = 0;
    for (const NoteRecord& r : after) {
      if (r.Deleted != 1 || r.Content != text) continue;
      ++found;
      EXPECT_EQ(r.Title, text.substr(0, text.find('\n')));
      EXPECT_EQ(r.Date, "");
    }
    EXPECT_EQ(found, 1);
  }
}

// Deleted notes of a store written here keep the user's text exactly as it was: titles that
// share their beginnings (so a body cannot be paired by a prefix alone), quotes (one double
// quote stays one), entities, and the dates of their note rows.
TEST(RecoveredNotes, KeepTheUsersQuotesTitlesAndDates) {
  const auto title = [](int pk) { return "Say \"hi\" to Zoë's " + std::to_string(pk); };
  const auto quoted = [](std::string text) {
    for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 2) text.insert(at, 1, '\'');
    return "'" + text + "'";
  };
  std::string script =
      "PRAGMA page_size=4096; PRAGMA secure_delete=OFF;"
      "CREATE TABLE ZNOTE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZBODY INTEGER, "
      "ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZSUMMARY VARCHAR, ZTITLE VARCHAR );"
      "CREATE TABLE ZNOTEBODY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER INTEGER, "
      "ZCONTENT VARCHAR, ZEXTERNALCONTENTREF VARCHAR, ZEXTERNALREPRESENTATION BLOB );";
  for (int pk = 1; pk <= 12; ++pk) {
    const std::string n = std::to_string(pk), date = std::to_string(400000000.5 + pk * 86400);
    script += "INSERT INTO ZNOTE VALUES(" + n + ", 3, 1, " + n + ", " + date + ", " + date + ", " + quoted(title(pk)) +
              ", " + quoted(title(pk)) + "); INSERT INTO ZNOTEBODY VALUES(" + n + ", 4, 1, " + n + ", " +
              quoted("<div>" + title(pk) + "</div><div>line &amp; \"more\" &lt;x&gt;</div>end " + n) + ", NULL, NULL);";
  }
  TempDir dir;
  const std::string path = dir.Join("notes.sqlite");
  test::ExecSql(path, script + "DELETE FROM ZNOTE WHERE Z_PK IN (3, 7, 10); DELETE FROM ZNOTEBODY WHERE Z_PK IN (3, 7, 10);");

  int result = -1;
  const auto notes = ReadNotes(path, "", "6.1.3", &result);
  EXPECT_EQ(result, 0);
  std::map<std::string, NoteRecord> recovered;
  for (const NoteRecord& r : notes) {
    if (r.Deleted) recovered[r.Content] = r;
  }
  ASSERT_EQ(recovered.size(), 3u);
  for (int pk : {3, 7, 10}) {
    SCOPED_TRACE(pk);
    const std::string text = title(pk) + "\nline & \"more\" <x>\nend " + std::to_string(pk);
    ASSERT_TRUE(recovered.contains(text));
    EXPECT_EQ(recovered[text].Title, title(pk));
    EXPECT_EQ(recovered[text].Date, ExpectedDate(400000000.5 + pk * 86400));
  }
  EXPECT_EQ(notes.size(), 12u);
}

// ---- HTML bodies of the older store as text

// Entities end at their semicolon; text after the last tag and line breaks are kept; what is
// not a tag is text.
TEST(HtmlText, EntitiesTagsAndWhatIsNotATag) {
  const std::pair<std::string, std::string> cases[] = {
      {"&lt;b&gt; &amp;amp; &quot;q&quot; &apos;a&#39;", "<b> &amp; \"q\" 'a'"},
      {"&ltb &amp &nbspx", "&ltb &amp &nbspx"},  // no ";": written as is
      {"a&nbsp;b &#233; &#xE9; &#X1F389;", "a b é é 🎉"},
      {"&#0; &#xD800; &#x110000; &#99999999999;", "\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD &#99999999999;"},
      {"&unknown; & ;", "&unknown; & ;"},
      {"<div>Hello</div>world", "Hello\nworld"},
      {"no tags at all", "no tags at all"},
      {"<div>one</div><div><br></div><div>three</div>", "one\n\nthree"},
      {"a<br>b<BR/>c<p>d</p>e", "a\nb\nc\nd\ne"},
      {"<b>bold</b> and <i>it</i>", "bold and it"},
      {"a < b > c", "a < b > c"},
      {"3<4 and 5>2", "3<4 and 5>2"},
      {"<div>cut <span", "cut <span"},
      {"x<!-- hidden -->y<script>alert(1)</script>z<style>p{}</style>", "xyz"},
      {"<!-- never closed", ""},
      {"<script>never closed", ""},
      {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(HtmlToText(html), text) << html;
}

// ---- compressed bodies of the newer store

std::string Varint(std::uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
  return out;
}

std::string Field(std::uint32_t number, const std::string& bytes) {
  return Varint((number << 3) | 2) + Varint(bytes.size()) + bytes;
}

// The body message: { 2: document { 2: version, 3: note { 2: text, 5: run } } }.
std::string NoteMessage(const std::string& text) {
  const std::string note = Varint(1 << 3) + Varint(7) + Field(2, text) + Field(5, Varint(1 << 3) + Varint(4));
  const std::string document = Varint(2 << 3) + Varint(0) + Varint((9 << 3) | 1) + std::string(8, 'f') +
                               Varint((10 << 3) | 5) + std::string(4, 'g') + Field(3, note);
  return Field(2, document);
}

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void PutLe(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A gzip stream of stored (uncompressed) deflate blocks: enough to carry any bytes.
std::string Gzip(const std::string& data) {
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, data.size() - pos);
    out.push_back(pos + n == data.size() ? 1 : 0);
    PutLe(out, static_cast<std::uint32_t>(n), 2);
    PutLe(out, static_cast<std::uint32_t>(~n & 0xFFFF), 2);
    out.append(data, pos, n);
    pos += n;
  } while (pos < data.size());
  PutLe(out, Crc32(data), 4);
  PutLe(out, static_cast<std::uint32_t>(data.size()), 4);
  return out;
}

std::string BodyText(const std::string& blob) {
  return NoteBodyText(std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
}

// Text comes only out of a whole, well-formed body within the decoder's cap; anything else
// gives none rather than part of one.
TEST(NoteBody, TextOfAWholeWellFormedBodyOnly) {
  const std::string whole = Gzip(NoteMessage("a text long enough to be cut at every byte"));
  for (std::size_t n = 0; n < whole.size(); ++n) EXPECT_EQ(BodyText(whole.substr(0, n)), "") << n;
  std::string badCrc = whole;
  badCrc[badCrc.size() - 5] ^= 1;
  const std::string text = "Einkauf\nMilch & \"Brot\"\n日本語 🎉";
  const std::string largest(kMaxInflatedNoteBody - 64, 'h');
  const std::pair<std::string, std::string> cases[] = {
      {Gzip(NoteMessage(text)), text},
      {Gzip(NoteMessage("")), ""},
      {Gzip(NoteMessage("bad \xC3 utf8")), "bad \xEF\xBF\xBD utf8"},
      {Gzip(NoteMessage(largest)), largest},
      {Gzip(NoteMessage(largest + std::string(64, 'h'))), ""},  // past the cap: refused, not held
      {badCrc, ""},
      {"plain text, not compressed", ""},
      {Gzip(""), ""},
      {Gzip("\x12\xff\xff\xff\xff\x0f" + std::string(20, 'x')), ""},          // length past the end
      {Gzip(Field(2, "\x1a\x05" "ab")), ""},                                  // inner length past the end
      {Gzip(Field(2, Field(3, Varint((2 << 3) | 3) + "xx"))), ""},            // group wire type
      {Gzip(Varint(0 << 3) + Varint(1) + NoteMessage("after field 0")), ""},  // field number 0
      {Gzip(Field(2, Field(3, Varint(1 << 3) + std::string(11, '\xff')))), ""},  // varint of 11 bytes
      {Gzip(Field(2, Field(4, Field(2, "wrong path")))), ""},
      {Gzip(Field(2, Field(3, Varint((4 << 3) | 1) + "1234"))), ""},          // fixed64 cut short
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_TRUE(BodyText(cases[i].first) == cases[i].second) << i;
  const std::string blob = Gzip(std::string(5000, 'z'));
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size());
  ASSERT_TRUE(InflateStream(bytes, 5000).has_value());
  EXPECT_EQ(InflateStream(bytes, 5000)->size(), 5000u);
  EXPECT_FALSE(InflateStream(bytes, 4999).has_value());
}

// Attribute runs name the attachment under each mark; the reader puts the names in its place.
TEST(NoteBody, AttachmentMarksAreNamedInOrder) {
  const std::string mark = "\xEF\xBF\xBC";
  const auto run = [](const std::string& id, const std::string& type) {
    return Field(5, Varint(1 << 3) + Varint(1) + Field(12, Field(1, id) + Field(2, type)));
  };
  const std::string note = Field(2, "a" + mark + "b" + mark) + Field(5, Varint(1 << 3) + Varint(1)) +
                           run("ID-1", "public.jpeg") + run("", "com.adobe.pdf");
  const std::string blob = Gzip(Field(2, Field(3, note)));
  const auto body = DecodeNoteBody(std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
  ASSERT_TRUE(body.has_value());
  ASSERT_EQ(body->attachments.size(), 2u);
  EXPECT_EQ(body->attachments[0].identifier, "ID-1");
  EXPECT_EQ(body->attachments[1].type, "com.adobe.pdf");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"x.jpg", "y.pdf"}, "a[x.jpg]b[y.pdf]"}, {{"x.jpg"}, "a[x.jpg]b" + mark}, {{}, body->text},
      {{"x", "y", "z"}, "a[x]b[y]"}};
  for (const auto& [names, text] : cases) EXPECT_EQ(NameAttachmentMarks(body->text, names), text);
}

}  // namespace
}  // namespace sieve
