// The messages and WhatsApp views and their attachment views: conversations with
// hostile text exported and read back by Python's html.parser and csv, directions
// and deleted marks, attachment copies with numbered names, and an encrypted generated
// backup scanned through the reader whose copied attachments must be the generator's
// plain files.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QUrl>
#include <algorithm>
#include <set>

#include "export_parsers.h"
#include "quarry/views/attachment_models.h"
#include "quarry/views/category_table.h"
#include "quarry/views/chat_models.h"
#include "quarry/views/dictionary.h"
#include "quarry/views/scan_session.h"
#include "sieve/info_type.h"
#include "sieve/whatsapp_event.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

using sieve::test::JsonValue;


ExportReport Recover(const CategoryModel& model, const QString& folder, bool cancelled = false) {
  ExportReport report;
  const std::atomic<bool> cancel{cancelled};
  model.SnapshotChecked()->RecoverTo(folder, cancel, report);
  return report;
}

// One conversation's message as the test writes it, for either record kind.
struct Said {
  bool outgoing;
  bool deleted;
  std::string text;
  std::string attachment;  // stored path
};

const std::string kHostile = "<script>alert('x')</script> & \"q\", a";
const std::string kLines = "line one\nline two, \"quoted\"";

// Two conversations: a live one with hostile text, a deleted message and two
// attachments; one that exists only in recovered messages (an e-mail thread for
// messages, a chat without a partner name for WhatsApp).
std::vector<Said> LiveMessages(const std::string& picture, const std::string& document) {
  return {{true, false, kHostile, ""}, {false, true, kLines, ""}, {false, false, "../x.jpg", picture},
          {true, false, "report", document}};
}

struct Kind { const char* name; bool whatsapp; };

struct Views { std::unique_ptr<CategoryModel> chats, attachments; };

Views MakeViews(const Kind& kind, const ViewContext& context, const std::string& picture, const std::string& document) {
  Views v;
  const std::vector<Said> live = LiveMessages(picture, document);
  if (!kind.whatsapp) {
    auto attachments = std::make_unique<MessageAttachmentsModel>(context);
    attachments->Add({"../x.jpg", picture, "image/jpeg", "Library/SMS/Attachments/x.jpg", {}});
    attachments->Add({"re\"port\".txt", document, "text/plain", "Library/SMS/Attachments/r.txt", {}});
    auto chats = std::make_unique<MessagesModel>(context);
    sieve::SmsConversation a{0, "+1 555 <0>", "Ann \"Q\", <b>", {}};
    for (const Said& s : live) {
      a.Messages.push_back({s.deleted, s.outgoing, 0, s.text, "2016-03-16 20:31:23", s.outgoing ? "OUT" : "IN",
                            s.attachment, s.attachment == picture ? "image/jpeg" : (s.attachment.empty() ? "" : "text/plain")});
    }
    sieve::SmsConversation b{1, "bob@example.com", "", {{1, 0, 0, "gone", "2016-03-17 01:00:00", "IN", "", ""}}};
    chats->Add(a);
    chats->Add(b);
    v.chats = std::move(chats);
    v.attachments = std::move(attachments);
  } else {
    auto chats = std::make_unique<WhatsAppModel>(context);
    sieve::WaChat a{"Ann \"Q\", <b>", "+1 555 <0>", {}};
    for (const Said& s : live) a.Messages.push_back({s.deleted, s.outgoing ? 0 : 1, 0, s.text, "2016-03-16 20:31:23", s.attachment});
    sieve::WaChat b{"", "4915", {{1, 1, 0, "gone", "2016-03-17 01:00:00", ""}}};
    chats->Add(a);
    chats->Add(b);
    // WhatsApp reports its attachments after the chats.
    auto attachments = std::make_unique<WhatsAppAttachmentsModel>(context);
    attachments->Add({"../x.jpg", picture, {}, "2016-03-16 20:31:23"});
    attachments->Add({"re\"port\".txt", document, {}, "2016-03-16 20:31:23"});
    v.chats = std::move(chats);
    v.attachments = std::move(attachments);
  }
  return v;
}

JsonValue ReadChatsWithPython(const QString& folder, const char* name) {
  const auto run = sieve::test::RunCommand({"/usr/bin/python3", EXPORT_READER, "--chats", folder.toStdString(), name});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  return sieve::test::ParseJson(run.Out.empty() ? "{}" : run.Out);
}

TEST(ChatsExport, HostileConversationsReadBackFromPageAndCsv) {
  for (const Kind kind : {Kind{"Messages", false}, Kind{"WhatsApp", true}}) {
    SCOPED_TRACE(kind.name);
    sieve::test::TempDir dir;
    const std::string picture = dir.Join("0a1b2c"), document = dir.Join("3d4e5f");  // stored names carry no type
    sieve::test::WriteFile(picture, "\xFF\xD8\xFF picture bytes");
    sieve::test::WriteFile(document, "report text");
    const ViewContext context{{}, std::make_shared<const FileSource>()};
    const Views views = MakeViews(kind, context, picture, document);
    EXPECT_EQ(views.chats->FoundCount(), 2);
    EXPECT_EQ(views.attachments->CheckedSize(), 17 + 11);

    const QString out = Q(dir.Join("out"));
    const ExportReport report = Recover(*views.chats, out);
    EXPECT_TRUE(report.Failed.isEmpty()) << report.Failed.join(QLatin1Char('\n')).toStdString();
    const QString folder = QDir(out).filePath(QLatin1String(kind.name));
    const JsonValue read = ReadChatsWithPython(folder, kind.name);

    // The page: tabs marked as their conversations, bubbles by direction, text as written.
    ASSERT_EQ(read["tabs"].Items.size(), 2u);
    EXPECT_NE(read["tabs"].Items[0].Text("text").find("Ann \"Q\", <b>"), std::string::npos);
    EXPECT_FALSE(read["tabs"].Items[0]["deleted"].Bool);
    EXPECT_TRUE(read["tabs"].Items[1]["deleted"].Bool);
    ASSERT_EQ(read["chats"].Items.size(), 2u);
    const auto& bubbles = read["chats"].Items[0].Items;
    const std::vector<Said> said = LiveMessages(picture, document);
    ASSERT_EQ(bubbles.size(), said.size());
    for (std::size_t i = 0; i < said.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(bubbles[i].Text("class"), said[i].outgoing ? "out" : "in");
      EXPECT_EQ(bubbles[i].Text("text"), said[i].text);
      EXPECT_EQ(bubbles[i]["deleted"].Bool, said[i].deleted);
      ASSERT_EQ(bubbles[i]["hrefs"].Items.size(), said[i].attachment.empty() ? 0u : 1u);
      if (said[i].attachment.empty()) continue;
      // The link leads to a copy beside the page, inside its folder, with the stored bytes.
      const QString href = QUrl::fromPercentEncoding(QByteArray::fromStdString(bubbles[i]["hrefs"].Items[0].String));
      const QFileInfo copy(QDir(folder).filePath(QStringLiteral("HTML/") + href));
      EXPECT_TRUE(copy.canonicalFilePath().startsWith(QDir(folder).filePath(QStringLiteral("HTML/Attachments/"))))
          << href.toStdString();
      EXPECT_EQ(test::ReadBytes(copy.filePath()).toStdString(), sieve::test::ReadFile(said[i].attachment));
      EXPECT_EQ(bubbles[i]["imgs"].Items.size(), said[i].attachment == picture ? 1u : 0u);
    }
    EXPECT_TRUE(read["chats"].Items[1].Items[0]["deleted"].Bool);

    // The CSV: one line per message, who, direction, text, attachment, deleted.
    const auto& rows = read["csv"]["rows"].Items;
    ASSERT_EQ(rows.size(), 1 + said.size() + 1);
    const std::size_t who = kind.whatsapp ? 3 : 2;  // columns before the date
    for (std::size_t i = 0; i < said.size(); ++i) {
      const auto& row = rows[i + 1].Items;
      ASSERT_EQ(row.size(), who + (kind.whatsapp ? 7 : 5));  // WhatsApp adds sender and map link
      EXPECT_EQ(row[who + 1].String, said[i].outgoing ? "Sent" : "Received");
      EXPECT_EQ(row[who + 2].String, said[i].text);
      EXPECT_EQ(row[who + 3].String.empty(), said[i].attachment.empty());
      EXPECT_EQ(row[who + 4].String, said[i].deleted ? "1" : "0");
    }
    const auto& gone = rows.back().Items;
    EXPECT_EQ(gone[who + 4].String, "1");
    if (kind.whatsapp) {
      // Chat title, name and phone apart; a chat without a name is titled by its phone.
      EXPECT_EQ(rows[1].Items[1].String, "Ann \"Q\", <b>");
      EXPECT_EQ(rows[1].Items[2].String, "+1 555 <0>");
      EXPECT_EQ(gone[0].String, "4915");
      EXPECT_EQ(gone[1].String, "");
    } else {
      EXPECT_EQ(gone[1].String, "bob@example.com");
    }

    // Deleted-only keeps the conversations holding recovered messages; search finds words of messages.
    views.chats->ShowDeletedOnly(true);
    EXPECT_EQ(views.chats->rowCount(), 2);
    views.chats->ShowDeletedOnly(false);
    views.chats->SearchText(QStringLiteral("LINE TWO"));
    EXPECT_EQ(views.chats->rowCount(), 1);
  }
}

// A group chat: lines of members carry their names, events are system lines (neither
// sent nor received, worded in the program's language), a shared location links to a map.
TEST(ChatsExport, WhatsAppGroupLinesEventsAndLocationsReadBack) {
  sieve::test::TempDir dir;
  const ViewContext context{{}, std::make_shared<const FileSource>()};
  WhatsAppModel chats(context);
  sieve::WaChat group{"Familie <b>", "120363", {}};
  const auto message = [](int deleted, int incoming, int type, const std::string& text, const std::string& sender,
                          int event) {
    sieve::WaMessage m{deleted, incoming, type, text, "2016-03-16 20:31:23", ""};
    m.SenderName = sender;
    m.Event = event;
    return m;
  };
  group.Messages.push_back(message(0, 1, 6, "", "Anna \"A\" <x>", sieve::kWaEventCreated));
  group.Messages.push_back(message(0, 1, 0, "hello, all", "Anna \"A\" <x>", sieve::kWaNoEvent));
  group.Messages.push_back(message(1, 1, 6, "New <name>", "Bob", sieve::kWaEventSubject));
  group.Messages.push_back(message(0, 1, 6, "", "", sieve::kWaEventLeft));
  sieve::WaMessage place = message(0, 0, 5, "Brandenburger Tor", "", sieve::kWaNoEvent);
  place.HasLocation = 1;
  place.Latitude = 52.516275;
  place.Longitude = 13.377704;
  group.Messages.push_back(place);
  chats.Add(group);

  const QString out = Q(dir.Join("out"));
  const ExportReport report = Recover(chats, out);
  EXPECT_TRUE(report.Failed.isEmpty()) << report.Failed.join(QLatin1Char('\n')).toStdString();
  const JsonValue read = ReadChatsWithPython(QDir(out).filePath(QStringLiteral("WhatsApp")), "WhatsApp");
  const std::string link = "https://www.openstreetmap.org/?mlat=52.516275&mlon=13.377704#map=16/52.516275/13.377704";
  struct Line { const char* cls; std::string text, sender, map, type; bool deleted; };
  const std::vector<Line> want = {
      {"system", "Anna \"A\" <x> created the group", "Anna \"A\" <x>", "", "System", false},
      {"in", "hello, all", "Anna \"A\" <x>", "", "Received", false},
      {"system", "Bob changed the subject to \u201cNew <name>\u201d", "Bob", "", "System", true},
      {"system", "Someone left", "", "", "System", false},
      {"out", "Brandenburger Tor\nLocation: 52.516275, 13.377704", "", link, "Sent", false}};
  ASSERT_EQ(read["chats"].Items.size(), 1u);
  const auto& lines = read["chats"].Items[0].Items;
  const auto& rows = read["csv"]["rows"].Items;
  ASSERT_EQ(lines.size(), want.size());
  ASSERT_EQ(rows.size(), want.size() + 1);
  EXPECT_EQ(rows[0].Items.back().String, "Map");
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].Text("class"), want[i].cls);
    EXPECT_EQ(lines[i].Text("text"), want[i].text);
    // The page names the member above a bubble; a system line names it in its words.
    EXPECT_EQ(lines[i].Text("sender"), std::string(want[i].cls) == "system" ? "" : want[i].sender);
    EXPECT_EQ(lines[i].Text("map"), want[i].map);
    EXPECT_EQ(lines[i]["deleted"].Bool, want[i].deleted);
    EXPECT_EQ(lines[i]["hrefs"].Items.size(), want[i].map.empty() ? 0u : 1u);
    const auto& row = rows[i + 1].Items;
    ASSERT_EQ(row.size(), 10u);
    EXPECT_EQ(row[4].String, want[i].type);
    EXPECT_EQ(row[5].String, want[i].text);
    EXPECT_EQ(row[8].String, want[i].sender);
    EXPECT_EQ(row[9].String, want[i].map);
  }
}

TEST(AttachmentsExport, CopiesKeepTheirNamesNumberedInsideTheFolder) {
  for (const Kind kind : {Kind{"Message Attachments", false}, Kind{"WhatsApp Attachments", true}}) {
    SCOPED_TRACE(kind.name);
    sieve::test::TempDir dir;
    const std::string one = dir.Join("s1"), two = dir.Join("s2");
    sieve::test::WriteFile(one, "first");
    sieve::test::WriteFile(two, "second");
    const ViewContext context{{}, std::make_shared<const FileSource>()};
    std::unique_ptr<CategoryModel> model;
    if (kind.whatsapp) {
      auto m = std::make_unique<WhatsAppAttachmentsModel>(context);
      for (const auto& path : {one, two}) m->Add({"../x.jpg", path, {}, ""});
      m->Add({"gone.jpg", dir.Join("missing"), {}, ""});
      model = std::move(m);
    } else {
      auto m = std::make_unique<MessageAttachmentsModel>(context);
      for (const auto& path : {one, two}) m->Add({"../x.jpg", path, "image/jpeg", "", {}});
      m->Add({"gone.jpg", dir.Join("missing"), "image/jpeg", "", {}});
      model = std::move(m);
    }
    const QString out = Q(dir.Join("out"));
    Recover(*model, out, /*cancelled=*/true);
    EXPECT_TRUE(test::FilesBelow(out).empty());

    const ExportReport report = Recover(*model, out);
    EXPECT_EQ(report.Skipped.size(), 1);  // the missing file is named, not lost silently
    const auto files = test::FilesBelow(out);
    ASSERT_EQ(files.size(), 2u);  // nothing escaped the folder through "../"
    const std::string first = files.begin()->first, second = std::next(files.begin())->first;
    EXPECT_EQ(first.rfind(std::string(kind.name) + "/", 0), 0u) << first;
    EXPECT_EQ(second.substr(0, second.size() - 6) + ".jpg", first) << first << " " << second;  // "_1.jpg"
    EXPECT_EQ(files.begin()->second, "first");
    EXPECT_EQ(std::next(files.begin())->second, "second");
  }
}

// A generated backup scanned as the program scans it: every copied attachment (the
// attachment views' and the pages') is a plain file of the generator's although the backup
// is encrypted (plain and encrypted backups give the same records: the reader's tests).
TEST(ChatsExport, AScannedEncryptedBackupGivesDecryptedAttachments) {
  sieve::test::TempDir dir;
  const std::string password = "chat ✓ pass";
  const auto backup = sieve::test::MakeBackup(
      dir, "b", {"--profile", "small", "--manifest-db", "--encrypted", "--password-file",
                 sieve::test::WritePasswordFile(dir, password)});
  std::set<std::string> plainHashes;
  for (const auto& file : sieve::test::ReadTruthFiles(backup.TruthPath)) plainHashes.insert(file.Sha256);
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(backup.Folder.c_str());
  reader.SetPassword(index, password);
  ASSERT_EQ(reader.CheckPassword(index), 1);
  ViewContext context;
  context.files = MakeReaderFileSource(reader, index);
  ScanTargets targets{};
  std::vector<std::unique_ptr<CategoryModel>> models;
  const int types[] = {sieve::INFO_SMS, sieve::INFO_SMS_ATTACHMENT, sieve::INFO_WHATSAPP, sieve::INFO_WHATSAPP_ATTACHMENT};
  for (const int type : types) {
    models.push_back(CategoryOfType(type)->makeModel(context));
    targets[static_cast<std::size_t>(type)] = models.back().get();
  }
  ScanSession session(reader, index);
  session.Run();
  session.Deliver(targets);
  const QString out = Q(dir.Join("out"));
  for (const auto& model : models) {
    ASSERT_GT(model->FoundCount(), 0);
    const ExportReport report = Recover(*model, out);
    EXPECT_TRUE(report.Failed.isEmpty()) << report.Failed.join(QLatin1Char('\n')).toStdString();
  }

  std::size_t copies = 0;
  for (const auto& [path, bytes] : test::FilesBelow(out)) {
    const bool attachment = path.find("Attachments/") != std::string::npos;
    if (!attachment || path.ends_with(".vcf")) continue;  // shared contacts exist only as database text
    ++copies;
    EXPECT_TRUE(plainHashes.contains(sieve::test::Sha256Hex(bytes.toStdString()))) << path;
  }
  EXPECT_GE(copies, static_cast<std::size_t>(models[1]->FoundCount()));

  // One CSV line per message, the recovered ones marked.
  const auto rows = test::ReadCsv(QString::fromUtf8(test::ReadBytes(out + QStringLiteral("/Messages/CSV/Messages.csv"))));
  const auto& messages = static_cast<const MessagesModel&>(*models[0]);
  std::size_t entries = 0, deleted = 0;
  for (qsizetype i = 0; i < messages.FoundCount(); ++i) {
    for (const ChatEntry& e : messages.Item(i).Entries) {
      ++entries;
      deleted += (e.Deleted || messages.Item(i).Deleted) ? 1 : 0;
    }
  }
  ASSERT_EQ(rows.size(), entries + 1);
  EXPECT_GT(deleted, 0u);
  EXPECT_EQ(static_cast<std::size_t>(std::count_if(rows.begin() + 1, rows.end(),
                                                   [](const QStringList& r) { return r.last() == QLatin1String("1"); })),
            deleted);
}

// What a message says of itself (edited, unsent, audio, reactions) reads in the chosen language;
// a reaction kind this program does not know is shown as stored, another's by their address.
TEST(MessageNotes, FollowTheChosenLanguage) {
  CRBDictionary german;
  ASSERT_TRUE(german.LoadFile(QStringLiteral(QUARRY_DIC_DIR "/de/quarry.ini")));
  ViewContext deContext;
  deContext.texts = [&](const QString& key) { return german.Text(key); };
  sieve::SmsMessage edited, unsent, audio, reacted, plain;
  edited.Edited = 1;
  unsent.Unsent = 1;
  audio.IsAudio = 1;
  audio.Edited = 1;
  reacted.Reactions = {{"love", "", 1}, {"firework", "+1555", 0}, {"question", "+1666", 0}};
  const struct {
    const sieve::SmsMessage& message;
    const char* english;
    const char* german;
  } cases[] = {{edited, "(edited)", "(bearbeitet)"},
               {unsent, "(unsent)", "(widerrufen)"},
               {audio, "(edited) (audio message)", "(bearbeitet) (Sprachnachricht)"},
               {reacted, "[love: me, firework: +1555, question: +1666]",
                "[Herz: ich, firework: +1555, Fragezeichen: +1666]"},
               {plain, "", ""}};
  for (const auto& c : cases) {
    sieve::SmsConversation conversation{0, "+1555", "", {c.message}};
    for (const auto& [context, want] : {std::pair{ViewContext{}, c.english}, std::pair{deContext, c.german}}) {
      std::vector<ChatThread> threads;
      MessageTraits::Take(conversation, context, threads);
      ASSERT_EQ(threads.size(), 1u);
      ASSERT_EQ(threads[0].Entries.size(), 1u);
      EXPECT_EQ(threads[0].Entries[0].Note, QString::fromUtf8(want));
    }
  }
}

}  // namespace
}  // namespace quarry::views
