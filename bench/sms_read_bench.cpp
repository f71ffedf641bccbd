// Times reading a large sms.db of the handle/message layout (the messages extractor, which
// also joins chats and attachments and carves the free space) beside the sqlite3 command-line
// program printing the same message columns, both in the same run.
//
//   sms_read_bench [--messages N]     (default 100000)
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_support.h"
#include "sieve/extractors/sms_info.h"
#include "sieve/private_folder.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::Exec;
using bench::SecondsOf;

constexpr const char* kMessageColumns = "SELECT ROWID, handle_id, date, text, is_from_me FROM message ORDER BY ROWID";

// The tables of the iOS 6-9 layout the reader touches, with the real column order; a few
// hundred handles and chats, messages spread over them, one in fifty with an attachment,
// and every twentieth message deleted so the carving has free space to work on.
void Build(const std::string& path, int messageCount) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db, "PRAGMA page_size=4096; PRAGMA secure_delete=OFF; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  Exec(db,
       "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, "
       "replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, "
       "attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
       "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
       "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, "
       "is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0);"
       "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, "
       "state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT);"
       "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
       "created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT);"
       "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, "
       "service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service));"
       "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER, UNIQUE(message_id, attachment_id));"
       "CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER, UNIQUE(chat_id, handle_id));"
       "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, PRIMARY KEY (chat_id, message_id));");
  constexpr int kHandles = 400;
  Exec(db, "BEGIN");
  for (int h = 1; h <= kHandles; ++h) {
    const std::string id = "+4477009" + std::to_string(10000 + h);
    Exec(db, "INSERT INTO handle(ROWID, id, country, service) VALUES(" + std::to_string(h) + ", '" + id + "', 'gb', '" +
                 (h % 3 ? "SMS" : "iMessage") + "')");
    Exec(db, "INSERT INTO chat(ROWID, guid, style, chat_identifier, service_name) VALUES(" + std::to_string(h) +
                 ", 'SMS;-;" + id + "', 45, '" + id + "', 'SMS')");
    Exec(db, "INSERT INTO chat_handle_join VALUES(" + std::to_string(h) + ", " + std::to_string(h) + ")");
  }
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO message(ROWID, guid, text, handle_id, service, date, is_from_me) VALUES(?,?,?,?,?,?,?)",
                     -1, &insert, nullptr);
  std::string text;
  for (int m = 1; m <= messageCount; ++m) {
    const int handle = 1 + (m * 7) % kHandles;
    const std::string guid = "B5E0C1A2-" + std::to_string(1000000 + m) + "-4F3D-9E21";
    text.assign("Message number " + std::to_string(m) + " about the plans for ");
    text.append(static_cast<std::size_t>(20 + (m * 37) % 160), static_cast<char>('a' + m % 26));
    sqlite3_bind_int(insert, 1, m);
    sqlite3_bind_text(insert, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, handle);
    sqlite3_bind_text(insert, 5, handle % 3 ? "SMS" : "iMessage", -1, SQLITE_STATIC);
    sqlite3_bind_int64(insert, 6, 400000000 + static_cast<std::int64_t>(m) * 37);
    sqlite3_bind_int(insert, 7, m % 2);
    sqlite3_step(insert);
    sqlite3_reset(insert);
    Exec(db, "INSERT INTO chat_message_join VALUES(" + std::to_string(handle) + ", " + std::to_string(m) + ")");
    if (m % 50 == 0) {
      const std::string a = std::to_string(m / 50);
      Exec(db, "INSERT INTO attachment(ROWID, guid, filename, mime_type) VALUES(" + a + ", 'at-" + a +
                   "', '~/Library/SMS/Attachments/0" + std::to_string(m % 10) + "/IMG_" + a + ".jpeg', 'image/jpeg')");
      Exec(db, "INSERT INTO message_attachment_join VALUES(" + std::to_string(m) + ", " + a + ")");
    }
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  Exec(db, "DELETE FROM message WHERE ROWID % 20 = 0");
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  int messageCount = 100000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--messages" && i + 1 < argc) {
      messageCount = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--messages N]\n", argv[0]);
      return 2;
    }
  }
  if (messageCount <= 0) return 2;
  const bench::ScratchFolder folder("sms_read_bench");
  const std::string path = folder / "sms.db";
  const auto start = Clock::now();
  Build(path, messageCount);
  std::printf("built sms.db: %d messages (every 20th deleted), %.1f MB in %.1f s\n", messageCount,
              static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0),
              std::chrono::duration<double>(Clock::now() - start).count());

  std::size_t live = 0, recovered = 0;
  const double reader = SecondsOf([&] {
    sieve::PrivateFolder privateFolder;
    sieve::ScanContext context;
    context.productVersion = "9.3.2";
    context.privateFolder = &privateFolder;
    sieve::CSmsInfo info;
    info.SetContext(&context);
    sieve::DatabaseSource source;
    source.main.path = path;
    info.SetDatabase(sieve::RuleAction::MainDatabase, source);
    if (info.read("") != 0) {
      std::fprintf(stderr, "the messages reader failed on %s\n", path.c_str());
      std::exit(1);
    }
    live = recovered = 0;
    for (const auto& conversation : info.Conversations()) {
      for (const auto& message : conversation.Messages) (message.Deleted ? recovered : live) += 1;
    }
  });

  const std::string command = "sqlite3 -readonly '" + path + "' '" + kMessageColumns + "' > /dev/null";
  const double cli = SecondsOf([&] {
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      std::exit(1);
    }
  });
  const double rows = static_cast<double>(live);
  std::printf("  messages reader (CSmsInfo + carving) %8.3f s  %10.0f rows/s  (%zu live, %zu recovered)\n", reader,
              rows / reader, live, recovered);
  std::printf("  sqlite3 CLI, same message columns    %8.3f s  %10.0f rows/s\n", cli, rows / cli);
  std::printf("  reader / CLI time                    %8.2f x\n", reader / cli);
  return 0;
}
