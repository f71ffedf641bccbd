#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sieve/extractors/index_entry.h"
#include "sieve/extractors/sms_reactions.h"
#include "sieve/extractors/sms_info.h"
#include "sieve/private_folder.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;

struct Layout {
  std::string version;
  std::string name;    // the generator's layout name
  std::string label;   // test name
  bool manifestDb = false;  // the newer backup index (Manifest.db) instead of Manifest.mbdb
};
// "10.3" must read as the newer layout: a text comparison would put it before "6".
const std::vector<Layout> kLayouts = {{"5.1.1", "ios5", "ios5"},
                                      {"9.3.2", "ios8", "ios8"},
                                      {"10.3", "ios8", "ios10_3"},
                                      {"12.4", "ios12", "ios12"},
                                      {"13.7", "ios13", "ios13"},
                                      {"16.5", "ios16", "ios16"},
                                      {"18.1", "ios18", "ios18"},
                                      {"16.5", "ios16", "ios16_manifest_db", true}};

// address, text, date, from me
using Message = std::tuple<std::string, std::string, std::string, int>;

struct Reading {
  ScanContext context;
  PrivateFolder folder;
  CSmsInfo info;
  int result = -1;

  Reading(const test::GeneratedBackup& backup, const std::string& database, const std::string& version,
          const std::string& wal = "") {
    context.productVersion = version;
    context.privateFolder = &folder;
    info.SetContext(&context);
    DatabaseSource source;
    source.main.path = database;
    source.wal.path = wal;
    info.SetDatabase(RuleAction::MainDatabase, source);
    // The attachment files, as the index walk hands them over.
    for (const test::TruthFile& f : test::ReadTruthFiles(backup.TruthPath)) {
      // The walk leaves out the previews the device keeps beside the MMS parts.
      if (f.StoredName.empty() || f.Path.find("Library/SMS/") == std::string::npos ||
          f.Path.find("preview") != std::string::npos) {
        continue;
      }
      FileRegistration file;
      file.devicePath = f.Path;
      file.domain = f.Domain;
      file.file.path = backup.Folder + "/" + f.StoredPath;
      info.Register(file);
    }
    result = info.read("");
  }
  std::vector<Message> Where(int deleted) const {
    std::vector<Message> out;
    for (const SmsConversation& c : info.Conversations()) {
      for (const SmsMessage& m : c.Messages) {
        if (m.Deleted == deleted) out.emplace_back(c.Address, m.Text, m.Date, m.IsFromMe);
      }
    }
    return out;
  }
};

// A layout's generated backup: its messages truth and its sms.db.
struct Generated {
  const test::GeneratedBackup& backup;
  const JsonValue& truth;
  const std::map<std::string, std::string>& storedByPath;
  std::string database;
  std::string wal;  // "" unless generated with its recent changes in a -wal

  explicit Generated(const test::LayoutBackup& b)
      : backup(b.Backup),
        truth(b.Database("messages")),
        storedByPath(b.StoredByPath),
        database(b.Stored("Library/SMS/sms.db")),
        wal(b.Stored("Library/SMS/sms.db-wal")) {}
};

class MessageLayouts : public testing::TestWithParam<Layout> {
 protected:
  Generated G(bool walHistory = false) const {
    std::vector<std::string> options;
    if (GetParam().manifestDb) options.push_back("--manifest-db");
    if (walHistory) options.push_back("--wal-history");
    return Generated(test::SmallBackup(GetParam().version, "11", options));
  }
};

// Message rows that are no tapback (older files have no tapbacks, nor their column).
int CountMessages(const std::string& path, const std::string& where) {
  const bool tapbacks = !test::Query(path, "SELECT 1 FROM pragma_table_info('message') WHERE name = 'associated_message_type'").empty();
  return std::stoi(test::Query(path, "SELECT count(*) FROM message WHERE (" + where + ")" +
                                         (tapbacks ? " AND associated_message_type NOT BETWEEN 2000 AND 3999" : ""))[0][0]);
}

// Every message row of the file comes out once, with its party, date, direction, text and
// first attachment; group messages sent with handle_id 0 included.
TEST_P(MessageLayouts, LiveMessagesAreExactAndNoneGoesMissing) {
  const Generated g = G();
  ASSERT_EQ(g.truth.Text("layout"), GetParam().name);
  Reading reading(g.backup, g.database, GetParam().version);
  ASSERT_EQ(reading.result, 0);
  EXPECT_EQ(static_cast<int>(reading.Where(0).size()), CountMessages(g.database, "1"));

  std::map<std::string, const SmsMessage*> byText;  // texts are unique in generated files
  std::map<std::string, std::string> addressOf;
  for (const SmsConversation& c : reading.info.Conversations()) {
    for (const SmsMessage& m : c.Messages) {
      if (m.Deleted != 0) continue;
      EXPECT_EQ(c.Deleted, 0);
      const std::string key = m.Text + '\x1f' + m.Date;
      EXPECT_TRUE(byText.emplace(key, &m).second) << "twice: " << m.Text;
      addressOf[key] = c.Address;
    }
  }
  for (const JsonValue& want : g.truth["live"].Items) {
    const bool stands = want.Text("text") == "\xEF\xBF\xBC" && !want["attachment"].IsNull();
    const std::string text = stands ? want.Text("attachment_name") : want.Text("text");
    const std::string key = text + '\x1f' + want.Text("date");
    SCOPED_TRACE(want.Int("rowid"));
    const auto got = byText.find(key);
    ASSERT_NE(got, byText.end()) << want.Text("text") << " at " << want.Text("date");
    const SmsMessage& m = *got->second;
    EXPECT_EQ(addressOf[key], want.Text("address"));
    EXPECT_EQ(m.IsFromMe, want.Int("is_from_me"));
    EXPECT_EQ(m.Direction, want.Int("is_from_me") ? "OUT" : "IN");
    if (want["attachment"].IsNull()) {
      EXPECT_TRUE(m.AttachmentPath.empty());
    } else {
      EXPECT_EQ(m.AttachmentPath, g.storedByPath.at(want.Text("attachment")));
      EXPECT_EQ(m.MimeType, want.Text("mime"));
    }
    EXPECT_EQ(m.RowId, GetParam().name == "ios5" ? want.Int("rowid") : 0);
    EXPECT_EQ(m.AttachmentName, want.Text("attachment_name"));
    if (want.Find("edited") == nullptr) continue;  // the layouts before iOS 13 know none of what follows
    EXPECT_EQ(m.Edited, want["edited"].Bool ? 1 : 0);
    EXPECT_EQ(m.Unsent, want["unsent"].Bool ? 1 : 0);
    EXPECT_EQ(m.IsAudio, want["audio"].Bool ? 1 : 0);
    std::multiset<std::tuple<std::string, std::string, int>> reactions, wanted;
    for (const SmsReaction& r : m.Reactions) reactions.emplace(r.Kind, r.Sender, r.IsFromMe);
    for (const JsonValue& r : want["reactions"].Items) {
      wanted.emplace(r.Text("kind"), r.Text("from"), static_cast<int>(r.Int("from_me")));
    }
    EXPECT_EQ(reactions, wanted);
  }
  EXPECT_EQ(byText.size(), g.truth["live"].Items.size());
}

// Deleted messages whose cells survive, each under its own party: also those of a whole
// conversation deleted with its handle, and (in a backup that keeps the last changes in a
// -wal) those deleted since the last checkpoint, found in superseded frames. The old text of
// a message edited since is no deleted message.
TEST_P(MessageLayouts, DeletedMessagesRecallAndPrecision) {
  std::vector<bool> variants = {false};
  // The generator keeps no -wal of the oldest layout; the backup index has no bearing on the log.
  if (GetParam().name != "ios5" && !GetParam().manifestDb) variants.push_back(true);
  for (const bool wal : variants) {
    const Generated g = G(wal);
    ASSERT_EQ(g.wal.empty(), !wal);
    Reading reading(g.backup, g.database, GetParam().version, g.wal);
    EXPECT_EQ(static_cast<int>(reading.Where(0).size()), static_cast<int>(g.truth["live"].Items.size()));
    const std::vector<Message> recovered = reading.Where(1);
    int inWal = 0;
    for (const JsonValue& d : g.truth["deleted"].Items) inWal += d.Find("wal") != nullptr && d["intact"].Bool;
    // A text longer than its page is carved up to the first overflow page: a prefix counts
    // (a character cut in two ends it as a replacement mark). The columns after the text
    // (the direction of the older layout, party and date of the newer) are lost with the
    // rest of such a cell. An unsent message has no text to find.
    const auto same = [](const Message& got, const Message& want) {
      std::string text = std::get<1>(got);
      while (text.ends_with("\xEF\xBF\xBD")) text.resize(text.size() - 3);
      const bool cut = text.size() < std::get<1>(want).size();
      const bool tailLost = cut && std::get<2>(got).empty() && std::get<0>(got).empty();
      return (tailLost || (std::get<0>(got) == std::get<0>(want) && std::get<2>(got) == std::get<2>(want))) &&
             (cut || std::get<3>(got) == std::get<3>(want)) && (!text.empty() || std::get<1>(want).empty()) &&
             std::get<1>(want).starts_with(text);
    };
    test::Recovery score;
    score.Score(recovered, g.truth["deleted"], [&](const Message& got, const JsonValue& d) {
      return same(got, Message{d.Text("address"), d.Text("text"), d.Text("date"), static_cast<int>(d.Int("is_from_me"))});
    });
    // Every intact message found, nothing else reported.
    score.Expect("messages " + GetParam().label + (wal ? " with -wal" : ""), 1.0, 1.0);
    EXPECT_EQ(inWal > 0, wal);
  }
}

// Sent group messages (handle_id 0) live in the chat's conversation, never as deleted, and
// the conversation is named by its members.
TEST_P(MessageLayouts, GroupMessagesStayInTheirChat) {
  const Generated g = G();
  if (g.truth["group"].IsNull()) GTEST_SKIP() << "no group chats in this layout";
  Reading reading(g.backup, g.database, GetParam().version);
  const std::string identifier = g.truth["group"].Text("identifier");
  const int sent = CountMessages(g.database, "handle_id = 0");
  ASSERT_GT(sent, 0);
  const JsonValue& names = g.truth["names"];
  reading.info.FillContactNames([&](std::string_view address) { return names.Text(address); });
  int inChat = 0;
  for (const SmsConversation& c : reading.info.Conversations()) {
    for (const SmsMessage& m : c.Messages) {
      if (c.Address == identifier) {
        EXPECT_EQ(m.Deleted, 0) << m.Text;
        EXPECT_EQ(m.IsFromMe, 1);
        ++inChat;
      }
    }
    if (c.Address == identifier) {
      std::string members;
      for (const JsonValue& member : g.truth["group"]["members"].Items) {
        members += (members.empty() ? "" : ", ") + names.Text(member.String);
      }
      EXPECT_EQ(c.ContactName, members);
    } else {
      EXPECT_EQ(c.ContactName, names.Text(c.Address)) << c.Address;
    }
  }
  EXPECT_EQ(inChat, sent);
}

// The attachment list names only files of the backup: the row that points outside is refused.
// An attachment whose row was deleted with its message, while its file is still in the backup,
// is listed as deleted; no live attachment is.
TEST_P(MessageLayouts, AttachmentsStayInsideTheBackupAndDeletedRowsAreFound) {
  const Generated g = G();
  Reading reading(g.backup, g.database, GetParam().version);
  std::set<std::string> wanted, listed, deleted, intact, gone;
  for (const JsonValue& m : g.truth["live"].Items) {
    if (!m["attachment"].IsNull()) wanted.insert(m.Text("attachment"));
  }
  ASSERT_FALSE(wanted.empty());
  for (const SmsAttachment& a : reading.info.Attachments()) {
    EXPECT_EQ(a.RelativePath.find(".."), std::string::npos) << a.RelativePath;
    EXPECT_EQ(a.RelativePath.find("preview"), std::string::npos) << a.RelativePath;
    EXPECT_EQ(a.BackupFile, g.storedByPath.at(a.RelativePath));
    EXPECT_EQ(a.FileName, a.RelativePath.substr(a.RelativePath.rfind('/') + 1));
    listed.insert(a.RelativePath);
    if (a.Deleted != 0) deleted.insert(a.RelativePath);
  }
  for (const std::string& path : wanted) EXPECT_TRUE(listed.count(path)) << path;
  // The generator deletes attachment rows in some layouts only.
  if (const JsonValue* rows = g.truth.Find("deleted_attachments")) {
    for (const JsonValue& d : rows->Items) {
      gone.insert(d.Text("path"));
      if (d["intact"].Bool) intact.insert(d.Text("path"));
    }
    EXPECT_FALSE(intact.empty());
  }
  for (const std::string& path : intact) EXPECT_TRUE(deleted.count(path)) << path;
  for (const std::string& path : deleted) EXPECT_TRUE(gone.count(path)) << "not deleted: " << path;
}

INSTANTIATE_TEST_SUITE_P(Layouts, MessageLayouts, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) { return info.param.label; });

// A handle table built here: the lost rowid of a deleted handle is read from its entry in the
// (id, service) index, whether that entry kept its header or not.
TEST(IndexEntries, RowidsFollowTheIndexedValues) {
  const std::string intact = std::string("\x08\x21\x11\x01", 4) + "+15551234567" + "SMS" + "\x2a";
  const std::string damaged = std::string("\x00\x00\x00\x10", 4) + "+15559876543" + "iMessage" + "\x07";
  std::string file = std::string(64, '\x55') + intact + std::string(9, '\x00') + damaged + std::string(3, '\x00');
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  const auto any = [](std::int64_t) { return true; };
  EXPECT_EQ(RowidsIndexedUnder(bytes, "+15551234567SMS", any), (std::set<std::int64_t>{42}));
  // Without a header the rowid is read as one and as two bytes.
  EXPECT_EQ(RowidsIndexedUnder(bytes, "+15559876543iMessage", any), (std::set<std::int64_t>{7, 7 * 256}));
  EXPECT_EQ(RowidsIndexedUnder(bytes, "+15559876543iMessage", [](std::int64_t r) { return r < 100; }),
            (std::set<std::int64_t>{7}));
  EXPECT_TRUE(RowidsIndexedUnder(bytes, "absent", any).empty());
  EXPECT_TRUE(RowidsIndexedUnder(bytes.first(70), "+15551234567SMS", any).empty());  // key runs off the end

  // Each lost row takes the one rowid still open; ambiguity gives nothing.
  EXPECT_EQ(AssignLostRowids({{3}, {3, 5}, {8, 9}}, {3, 5, 8, 9}), (std::vector<std::int64_t>{3, 5, -1}));
  EXPECT_EQ(AssignLostRowids({{4}}, {3}), (std::vector<std::int64_t>{-1}));
}

// Tapback rows: which message they answer and what they add or take back; a sender keeps
// one reaction per message.
TEST(Tapbacks, ParseAndApply) {
  struct Case {
    std::int64_t type;
    std::string guid;
    std::optional<std::string> answered, kind;
    bool removal;
  };
  const std::vector<Case> cases = {
      {2000, "p:0/AAAA", "AAAA", "love", false},     {2005, "bp:BBBB", "BBBB", "question", false},
      {3001, "p:1/CCCC", "CCCC", "like", true},      {2007, "bp:DDDD", "DDDD", "sticker", false},
      {1999, "p:0/AAAA", std::nullopt, std::nullopt, false}, {2008, "p:0/AAAA", std::nullopt, std::nullopt, false},
      {2000, "bp:", std::nullopt, std::nullopt, false},     {0, "", std::nullopt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::optional<Tapback> got = ParseTapback(c.type, c.guid);
    ASSERT_EQ(got.has_value(), c.answered.has_value());
    if (!got) continue;
    EXPECT_EQ(got->answered, *c.answered);
    EXPECT_EQ(got->kind, *c.kind);
    EXPECT_EQ(got->removal, c.removal);
  }
  std::vector<SmsReaction> reactions;
  ApplyTapback(reactions, {"G", "love", false}, "+1555", false);
  ApplyTapback(reactions, {"G", "like", false}, "ignored", true);
  ApplyTapback(reactions, {"G", "laugh", false}, "+1555", false);  // replaces the sender's love
  ApplyTapback(reactions, {"G", "love", true}, "", true);          // takes back nothing of the owner's
  ASSERT_EQ(reactions.size(), 2u);
  EXPECT_EQ(reactions[0].Kind, "like");
  EXPECT_EQ(reactions[0].Sender, "");
  EXPECT_EQ(reactions[1].Kind, "laugh");
  ApplyTapback(reactions, {"G", "like", true}, "", true);
  ASSERT_EQ(reactions.size(), 1u);
  EXPECT_EQ(reactions[0].Sender, "+1555");
}

}  // namespace
}  // namespace sieve
