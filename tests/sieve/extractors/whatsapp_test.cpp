#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sieve/extractors/whatsapp_info.h"
#include "sieve/extractors/whatsapp_system.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/path_safety.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "sieve/whatsapp_event.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using test::TempDir;

struct Scanned {
  std::vector<WaChat> chats;
  std::vector<WaAttachment> attachments;
};

void Collect(void* record, _InfoType type, void* user) {
  auto* out = static_cast<Scanned*>(user);
  if (type == INFO_WHATSAPP) out->chats.push_back(*static_cast<WaChat*>(record));
  if (type == INFO_WHATSAPP_ATTACHMENT) out->attachments.push_back(*static_cast<WaAttachment*>(record));
}

// Whole scan through the reader, so the index walk hands over database, media and thumbnails.
Scanned Scan(const std::string& folder) {
  CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(folder.c_str());
  Scanned scanned;
  if (index < 0) return scanned;
  reader.SetCallBack(&Collect, &scanned);
  reader.ReadBackup(index);
  // The vCards live in the reader's private folder, which goes with the reader.
  for (WaAttachment& a : scanned.attachments) {
    if (a.FilePath.ends_with(".vcf")) a.FilePath = test::ReadFile(a.FilePath);
  }
  return scanned;
}

std::string PhoneOf(const std::string& jid) { return jid.substr(0, jid.rfind('@')); }

std::string ExpectedText(const JsonValue& m) {
  const JsonValue& card = m["vcard_name"];
  if (!card.IsNull()) return SafeFileName(card.String) + ".vcf";
  return m.Text("text");
}

// Live chats and messages exactly as the truth has them, with the backup file of each
// media message.
void ExpectLiveChats(const Scanned& scanned, const JsonValue& truth, const test::LayoutBackup& backup) {
  std::size_t compared = 0, named = 0, events = 0, places = 0;
  for (const JsonValue& chat : truth["chats"].Items) {
    const std::string jid = chat.Text("jid");
    SCOPED_TRACE(jid);
    const WaChat* found = nullptr;
    for (const WaChat& c : scanned.chats) {
      if (c.PhoneNumber == PhoneOf(jid)) found = &c;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->PartnerName, chat.Text("partner"));
    std::vector<const WaMessage*> live;
    for (const WaMessage& m : found->Messages) {
      if (m.Deleted == 0) live.push_back(&m);
    }
    std::size_t i = 0;
    for (const JsonValue& m : truth["messages"].Items) {
      if (m.Text("jid") != jid) continue;
      SCOPED_TRACE(m.Int("pk"));
      ASSERT_LT(i, live.size());
      const WaMessage& got = *live[i++];
      EXPECT_EQ(got.IsIncoming, m.Int("incoming"));
      EXPECT_EQ(got.MessageType, m.Int("type"));
      EXPECT_EQ(got.Text, ExpectedText(m));
      EXPECT_EQ(got.Date, MacTimeTextFromDouble(m["date"].Number));
      // The full picture when the backup has it, else its thumbnail, else nothing.
      EXPECT_EQ(got.MediaPath, m["media_file"].IsNull() ? "" : backup.Stored(m.Text("media_file")));
      // A group names who wrote a line or caused an event; an event is no one's message.
      EXPECT_EQ(got.SenderName, m.Text("sender"));
      EXPECT_EQ(std::string(WaEventName(got.Event)), m.Text("event"));
      const JsonValue* latitude = m.Find("latitude");
      const bool hasPlace = latitude != nullptr && !latitude->IsNull();
      EXPECT_EQ(got.HasLocation, hasPlace ? 1 : 0);
      if (hasPlace) {
        EXPECT_DOUBLE_EQ(got.Latitude, latitude->Number);
        EXPECT_DOUBLE_EQ(got.Longitude, m["longitude"].Number);
      }
      named += !got.SenderName.empty();
      events += got.Event != kWaNoEvent;
      places += got.HasLocation;
      ++compared;
    }
    EXPECT_EQ(i, live.size());
  }
  EXPECT_EQ(compared, truth["messages"].Items.size());
  EXPECT_GE(named, 4u);
  EXPECT_GE(events, 3u);
  EXPECT_GE(places, 3u);
}

// Recovered messages against the deleted ones of the truth: each must be one of them, with
// its sender and event; counts the intact ones found and the system lines among them.
void ScoreDeleted(const Scanned& scanned, const JsonValue& truth, test::Recovery& score, std::size_t& events) {
  std::map<std::string, const JsonValue*> deleted;  // phone|direction|date|text
  for (const JsonValue& d : truth["deleted"].Items) {
    const std::string key = PhoneOf(d.Text("jid")) + "|" + std::to_string(d.Int("incoming")) + "|" +
                            MacTimeTextFromDouble(d["date"].Number) + "|" + d.Text("text");
    deleted[key] = &d;
    score.intact += d["intact"].Bool;
  }
  for (const WaChat& chat : scanned.chats) {
    for (const WaMessage& m : chat.Messages) {
      if (m.Deleted == 0) continue;
      ++score.reported;
      const auto hit = deleted.find(chat.PhoneNumber + "|" + std::to_string(m.IsIncoming) + "|" + m.Date + "|" + m.Text);
      if (hit == deleted.end()) {
        ADD_FAILURE() << "not deleted: " << chat.PhoneNumber << " " << m.Date << " " << m.Text;
        continue;
      }
      ++score.correct;
      score.found += (*hit->second)["intact"].Bool;
      EXPECT_EQ(m.SenderName, hit->second->Text("sender")) << m.Text;
      EXPECT_EQ(std::string(WaEventName(m.Event)), hit->second->Text("event")) << m.Text;
      events += m.Event != kWaNoEvent;
    }
  }
}

// Every layout of the store: the one of older systems and those of 13, 16 and 18 (columns added
// and dropped around the ones read), in both backup index layouts, some with the last changes in
// a -wal beside the store. Live chats, messages and attachments exactly; deleted messages by
// recall and precision, a whole deleted chat as a chat of its own without a partner name.
TEST(WhatsAppLayouts, LiveExactlyAndDeletedByRecallAndPrecision) {
  struct Layout {
    const char* version;
    std::vector<std::string> options;
    const char* name;
  };
  const Layout layouts[] = {{"9.3.2", {}, "ios15"},
                            {"13.7", {"--wal-history"}, "ios13"},
                            {"16.7", {"--manifest-db"}, "ios16"},
                            {"16.7", {"--manifest-db", "--wal-history"}, "ios16"},
                            {"18.2", {"--manifest-db", "--wal-history"}, "ios18"}};
  test::Recovery score;
  std::size_t thumbs = 0, none = 0, events = 0;
  for (const Layout& layout : layouts) {
    const test::LayoutBackup& b = test::SmallBackup(layout.version, "3", layout.options);
    SCOPED_TRACE(b.Backup.Folder);
    const JsonValue& truth = b.Database("whatsapp");
    ASSERT_EQ(truth.Text("layout"), layout.name);
    const Scanned scanned = Scan(b.Backup.Folder);
    ExpectLiveChats(scanned, truth, b);
    ScoreDeleted(scanned, truth, score, events);
    // A group's picture known only by its thumbnail, a chat's photo without any file.
    for (const JsonValue& m : truth["messages"].Items) {
      if (m.Int("type") != 1) continue;
      none += m["media_file"].IsNull();
      thumbs += !m["media_file"].IsNull() && m.Text("media_file").ends_with(".thumb");
    }
    const WaChat* gone = nullptr;
    for (const WaChat& chat : scanned.chats) {
      if (chat.PhoneNumber == "33612345678") gone = &chat;
    }
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->PartnerName.empty());
    EXPECT_FALSE(gone->Messages.empty());

    // Attachments: the linked files, and the contact cards written out.
    std::vector<const JsonValue*> expected;
    for (const JsonValue& a : truth["attachments"].Items) {
      if (!a["file"].IsNull() || !a["vcard_name"].IsNull()) expected.push_back(&a);
    }
    ASSERT_EQ(scanned.attachments.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const JsonValue& a = *expected[i];
      const WaAttachment& got = scanned.attachments[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(got.Date, MacTimeTextFromDouble(a["date"].Number));
      EXPECT_FALSE(got.Key.has_value());
      if (!a["vcard_name"].IsNull()) {
        EXPECT_EQ(got.Text, SafeFileName(a.Text("vcard_name")) + ".vcf");
        EXPECT_EQ(got.FilePath, a.Text("vcard"));  // Scan() replaced the path by the content
      } else {
        EXPECT_EQ(got.FilePath, b.Stored(a.Text("file")));
        EXPECT_EQ(got.Text, std::filesystem::path(a.Text("file")).filename().string());
      }
    }
  }
  EXPECT_GT(score.intact, 8u);
  score.Expect("whatsapp deleted messages", 0.95, 0.98);
  EXPECT_GT(events, 0u);  // recovered system lines, each with its event and member checked
  EXPECT_GE(thumbs, 2u);
  EXPECT_GE(none, 1u);
}

TEST(WhatsAppSystemLines, EventsNamesAndMapLinks) {
  struct Event {
    std::int32_t messageType;
    std::optional<std::int64_t> groupEventType;
    std::int32_t want;
  };
  for (const Event& e : std::vector<Event>{{0, std::nullopt, kWaNoEvent}, {0, 1, kWaNoEvent}, {5, 2, kWaNoEvent},
                                           {6, 11, kWaEventCreated}, {6, 2, kWaEventJoined}, {6, 3, kWaEventLeft},
                                           {6, 7, kWaEventRemoved}, {6, 1, kWaEventSubject}, {6, 5, kWaEventPicture},
                                           {6, 99, kWaEventOther}, {6, std::nullopt, kWaEventOther},
                                           {10, std::nullopt, kWaEventOther}}) {
    EXPECT_EQ(WaEventOf(e.messageType, e.groupEventType), e.want) << e.messageType << "/" << e.groupEventType.value_or(-1);
  }
  struct Name {
    const char *contact, *first, *push, *jid, *want;
  };
  for (const Name& n : std::vector<Name>{{"Anna Schmidt", "Anna", "Annie", "49170@s.whatsapp.net", "Anna Schmidt"},
                                         {"", "Anna", "Annie", "49170@s.whatsapp.net", "Anna"},
                                         {"", "", "Annie", "49170@s.whatsapp.net", "Annie"},
                                         {"", "", "", "49170@s.whatsapp.net", "49170"},
                                         {"", "", "", "", ""}}) {
    EXPECT_EQ(WaMemberName(n.contact, n.first, n.push, n.jid), n.want);
  }
  struct Place {
    double latitude, longitude;
    const char* want;
  };
  const double nan = std::nan("");
  for (const Place& p : std::vector<Place>{
           {52.516275, 13.377704, "https://www.openstreetmap.org/?mlat=52.516275&mlon=13.377704#map=16/52.516275/13.377704"},
           {-33.8567844, 151.2152967, "https://www.openstreetmap.org/?mlat=-33.856784&mlon=151.215297#map=16/-33.856784/151.215297"},
           {0.0, 0.0, ""}, {91.0, 0.0, ""}, {0.0, -180.5, ""}, {nan, 1.0, ""}, {1.0, INFINITY, ""}}) {
    EXPECT_EQ(MapLink(p.latitude, p.longitude), p.want) << p.latitude << "," << p.longitude;
  }
}

// Hand-made databases for the rules the generator does not vary.
class WhatsAppDatabase : public testing::Test {
 protected:
  void Exec(const std::string& sql) { sql_ += sql; }
  // One message, with a media item when item is not empty: {local path, card name, card, thumb path}.
  void Message(const std::string& jid, int type, const std::string& text, const std::vector<std::string>& item = {}) {
    const std::string pk = std::to_string(++messages_);
    if (!item.empty()) {
      sql_ += "INSERT INTO ZWAMEDIAITEM VALUES (" + pk + ", " + pk + ", " + Quote(item[0]) + ", " + Quote(item[1]) +
              ", " + Quote(item[2]) + ", " + Quote(item[3]) + ");";
    }
    sql_ += "INSERT INTO ZWAMESSAGE VALUES (" + pk + ", 9, " + std::to_string(type) + ", " + (item.empty() ? "NULL" : pk) +
            ", " + std::to_string(500000000 + messages_) + ", " + Quote(jid) + ", " + Quote(text) + ", NULL);";
  }
  // A text as an SQL literal; a NUL byte stays in it.
  static std::string Quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? "''" : c == '\0' ? "' || char(0) || '" : std::string(1, c);
    return out + "'";
  }
  void Read(const std::vector<std::string>& media = {}, const std::vector<std::string>& thumbs = {}) {
    DatabaseSource source;
    source.main.path = dir_.Join("ChatStorage.sqlite");
    test::ExecSql(source.main.path,
                  "CREATE TABLE ZWACHATSESSION ( Z_PK INTEGER PRIMARY KEY, ZCONTACTJID VARCHAR, ZPARTNERNAME VARCHAR );"
                  "CREATE TABLE ZWAMEDIAITEM ( Z_PK INTEGER PRIMARY KEY, ZMESSAGE INTEGER, ZMEDIALOCALPATH VARCHAR,"
                  " ZVCARDNAME VARCHAR, ZVCARDSTRING VARCHAR, ZXMPPTHUMBPATH VARCHAR );"
                  "CREATE TABLE ZWAMESSAGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZMESSAGETYPE INTEGER,"
                  " ZMEDIAITEM INTEGER, ZMESSAGEDATE TIMESTAMP, ZFROMJID VARCHAR, ZTEXT VARCHAR, ZTOJID VARCHAR );" + sql_);
    context_.privateFolder = &private_;
    info_.SetContext(&context_);
    info_.SetDatabase(RuleAction::MainDatabase, source);
    for (const auto& [list, action] : {std::pair{&media, RuleAction::File}, std::pair{&thumbs, RuleAction::Thumbnail}}) {
      for (const std::string& devicePath : *list) {
        FileRegistration r;
        r.action = action;
        r.devicePath = devicePath;
        r.file.path = "/backup/" + devicePath;
        info_.Register(r);
      }
    }
    ASSERT_EQ(info_.read(""), 0);
  }

  TempDir dir_;
  std::string sql_;  // the rows, written out by Read()
  int messages_ = 0;
  ScanContext context_;
  PrivateFolder private_;
  CWhatAppInfo info_;
};

TEST_F(WhatsAppDatabase, JidsAreBoundAndChatsWithoutAnAtAreSkipped) {
  const std::string quoted = "49\" OR \"1\"=\"1@s.whatsapp.net";
  Exec("INSERT INTO ZWACHATSESSION VALUES (1, 'no-at-sign', 'Skipped');"
       "INSERT INTO ZWACHATSESSION VALUES (2, '49\" OR \"1\"=\"1@s.whatsapp.net', 'Quoted');"
       "INSERT INTO ZWACHATSESSION VALUES (3, '120363@g.us', 'Group');");
  Message("no-at-sign", 0, "hidden");
  Message(quoted, 0, "one");
  Message("120363@g.us", 0, "two");
  Read();
  ASSERT_EQ(info_.Chats().size(), 2u);
  EXPECT_EQ(info_.Chats()[0].PhoneNumber, "49\" OR \"1\"=\"1");
  ASSERT_EQ(info_.Chats()[0].Messages.size(), 1u);  // spliced into SQL, the quotes would select all
  EXPECT_EQ(info_.Chats()[0].Messages[0].Text, "one");
  EXPECT_EQ(info_.Chats()[0].Messages[0].IsIncoming, 1);
  EXPECT_EQ(info_.Chats()[1].PhoneNumber, "120363");
}

TEST_F(WhatsAppDatabase, ContactsAreTypeFourOrCardTextAndTheirNamesAreCleaned) {
  Exec("INSERT INTO ZWACHATSESSION VALUES (1, 'a@s.whatsapp.net', 'A');");
  const std::string card = "BEGIN:VCARD\nFN:Fallback Name\nEND:VCARD";
  struct Case {
    int type;
    std::string text, cardName, cardString, expectedText;
  };
  const std::vector<Case> cases = {
      // Photos carry a MIME type and a hash in the card columns: not a contact.
      {1, "", "c2VjcmV0aGFzaA==", "image/jpeg", ""},
      {4, "Anna", "Anna", card, "Anna.vcf"},
      {4, "", "../../etc/passwd", card, "_._.._etc_passwd.vcf"},  // never a hidden file
      {4, "", "/abs<>:\"|?*\\x", card, "_abs________x.vcf"},
      {4, "", std::string("nul\0byte", 8), card, "nul_byte.vcf"},
      {4, "", "..", card, "_.vcf"},
      {4, "", "", card, "Fallback Name.vcf"},
      {0, card, "", "", "Fallback Name.vcf"},  // an old client's card sent as text
  };
  for (const Case& c : cases) Message("a@s.whatsapp.net", c.type, c.text, {"", c.cardName, c.cardString, ""});
  Read();
  ASSERT_EQ(info_.Chats().size(), 1u);
  const auto& messages = info_.Chats()[0].Messages;
  ASSERT_EQ(messages.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(messages[i].Text, cases[i].expectedText) << i;
  // Every card became a file inside the private folder, none anywhere else.
  std::size_t cards = 0;
  for (const WaAttachment& a : info_.Attachments()) {
    if (!a.Text.ends_with(".vcf")) continue;
    ++cards;
    EXPECT_EQ(std::filesystem::path(a.FilePath).parent_path(), std::filesystem::path(private_.Path())) << a.FilePath;
    EXPECT_EQ(test::ReadFile(a.FilePath), card);
  }
  EXPECT_EQ(cards, cases.size() - 1);
}

TEST_F(WhatsAppDatabase, MediaLinksToTheFullFileThenTheThumbnail) {
  Exec("INSERT INTO ZWACHATSESSION VALUES (1, 'a@s.whatsapp.net', 'A');");
  Message("a@s.whatsapp.net", 1, "", {"Media/a@s.whatsapp.net/1/x.jpg", "h", "image/jpeg", "Media/a@s.whatsapp.net/1/x.thumb"});
  Message("a@s.whatsapp.net", 1, "", {"Media/a@s.whatsapp.net/2/y.jpg", "h", "image/jpeg", "Media/a@s.whatsapp.net/2/y.thumb"});
  Message("a@s.whatsapp.net", 1, "", {"Media/a@s.whatsapp.net/3/z.jpg", "h", "image/jpeg", ""});
  Message("a@s.whatsapp.net", 1, "", {"/var/mobile/Library/Media/a@s.whatsapp.net/4/w.jpg", "h", "image/jpeg", ""});
  Read({"Library/Media/a@s.whatsapp.net/1/x.jpg", "Library/Media/a@s.whatsapp.net/4/w.jpg",
        "Library/Media/a@s.whatsapp.net/1/x.thumb"},
       {"Library/Media/a@s.whatsapp.net/1/x.thumb", "Library/Media/a@s.whatsapp.net/2/y.thumb",
        "Library/Media/b/3/z.thumb"});
  const auto& messages = info_.Chats().at(0).Messages;
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].MediaPath, "/backup/Library/Media/a@s.whatsapp.net/1/x.jpg");
  EXPECT_EQ(messages[1].MediaPath, "/backup/Library/Media/a@s.whatsapp.net/2/y.thumb");
  EXPECT_EQ(messages[2].MediaPath, "");  // a thumbnail of the same name in another folder is not its own
  EXPECT_EQ(messages[3].MediaPath, "/backup/Library/Media/a@s.whatsapp.net/4/w.jpg");
  ASSERT_EQ(info_.Attachments().size(), 3u);
  EXPECT_EQ(info_.Attachments()[1].Text, "y.thumb");
}

}  // namespace
}  // namespace sieve
