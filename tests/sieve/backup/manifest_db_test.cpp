// Manifest.db read row by row: every field of the MBFile archive, rows that
// cannot be read skipped and counted, and damaged files failing clearly.
#include "sieve/backup/manifest_db.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sieve/backup/stored_name.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Meta {
  std::uint64_t size = 0, mode = 0100644, protection = 3;
  std::int64_t modified = 1500000000;
  std::optional<std::string> target = std::nullopt;
  std::optional<Bytes> key = std::nullopt;
};

// An MBFile archive shaped as devices write it: scalars in place, strings and the
// key behind references into $objects.
Bytes MbFile(const Meta& m) {
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t root = plist_new_dict();
  plist_array_append_item(objects, root);
  plist_dict_set_item(root, "Size", plist_new_uint(m.size));
  plist_dict_set_item(root, "Mode", plist_new_uint(m.mode));
  plist_dict_set_item(root, "LastModified", plist_new_uint(static_cast<std::uint64_t>(m.modified)));
  plist_dict_set_item(root, "Birth", plist_new_uint(static_cast<std::uint64_t>(m.modified - 10)));
  plist_dict_set_item(root, "ProtectionClass", plist_new_uint(m.protection));
  plist_dict_set_item(root, "InodeNumber", plist_new_uint(1234));
  plist_dict_set_item(root, "UserID", plist_new_uint(501));
  plist_dict_set_item(root, "GroupID", plist_new_uint(501));
  std::uint64_t next = 2;
  if (m.target) {
    plist_array_append_item(objects, plist_new_string(m.target->c_str()));
    plist_dict_set_item(root, "Target", plist_new_uid(next++));
  }
  if (m.key) {
    plist_t data = plist_new_dict();
    plist_dict_set_item(data, "NS.data", plist_new_data(reinterpret_cast<const char*>(m.key->data()), m.key->size()));
    plist_array_append_item(objects, data);
    plist_dict_set_item(root, "EncryptionKey", plist_new_uid(next++));
  }
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_t archive = plist_new_dict();
  plist_dict_set_item(archive, "$top", top);
  plist_dict_set_item(archive, "$objects", objects);
  return test::ToBinaryPlist(archive);
}

struct Row {
  std::optional<std::string> fileId, domain, path;
  int flags;
  Bytes archive;
};

Row FileRow(const std::string& domain, const std::string& path, int flags, const Meta& meta) {
  return {StoredFileName(domain, path), domain, path, flags, MbFile(meta)};
}

void WriteIndex(const std::string& path, const std::vector<Row>& rows,
                const char* schema = "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, "
                                     "flags INTEGER, file BLOB)") {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO Files VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr) == SQLITE_OK) {
    for (const Row& r : rows) {
      const auto text = [&](int i, const std::optional<std::string>& v) {
        if (v) sqlite3_bind_text(insert, i, v->c_str(), -1, SQLITE_TRANSIENT);
        else sqlite3_bind_null(insert, i);
      };
      text(1, r.fileId);
      text(2, r.domain);
      text(3, r.path);
      sqlite3_bind_int(insert, 4, r.flags);
      sqlite3_bind_blob(insert, 5, r.archive.data(), static_cast<int>(r.archive.size()), SQLITE_TRANSIENT);
      EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
  }
  sqlite3_close(db);
}

std::vector<CManifestRecord> ReadAll(const std::string& path, ManifestDbResult& result) {
  std::vector<CManifestRecord> out;
  result = ReadManifestDb(path, [&out](CManifestRecord&& r) {
    out.push_back(std::move(r));
    return true;
  });
  return out;
}

TEST(ManifestDb, ReadsEveryFieldAndSkipsWhatCannotBeRead) {
  test::TempDir dir;
  Bytes key(44, 0x5A);
  key[0] = 3;
  std::vector<Row> rows = {
      FileRow("HomeDomain", "", 2, {.mode = 040755}),
      FileRow("HomeDomain", "Library/SMS/sms.db", 1, {.size = 8192, .key = key}),
      FileRow("HomeDomain", "Library/empty", 1, {.size = 0, .key = key}),
      FileRow("MediaDomain", "Media/link", 4, {.mode = 0120755, .target = "../elsewhere"}),
      // Flags decide the kind even when the archive's mode disagrees.
      FileRow("HomeDomain", "Library/folder", 2, {.mode = 0100644}),
  };
  rows.push_back({std::nullopt, std::nullopt, std::nullopt, 16, MbFile({})});  // seen on real devices
  rows.push_back({StoredFileName("A", "b"), "A", std::nullopt, 1, MbFile({})});
  rows.push_back({"not-a-file-id", "A", "c", 1, MbFile({})});
  rows.push_back({StoredFileName("A", "d"), "A", "d", 1, Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2}});
  rows.push_back({StoredFileName("A", "e"), "A", "e", 1, Bytes{}});
  const std::string path = dir.Join("Manifest.db");
  WriteIndex(path, rows);

  ManifestDbResult result;
  const std::vector<CManifestRecord> records = ReadAll(path, result);
  EXPECT_EQ(result.status, ManifestDbStatus::Ok);
  EXPECT_EQ(result.skipped, 5u);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(result.delivered, 5u);

  EXPECT_TRUE(records[0].IsDirectory());
  EXPECT_EQ(records[0].Path, "");
  const CManifestRecord& db = records[1];
  EXPECT_EQ(db.StoredName, StoredFileName("HomeDomain", "Library/SMS/sms.db"));
  EXPECT_EQ(db.Domain, "HomeDomain");
  EXPECT_TRUE(db.IsRegularFile());
  EXPECT_EQ(db.Size, 8192u);
  EXPECT_EQ(db.ModifiedTime, 1500000000u);
  EXPECT_EQ(db.CreatedTime, 1499999990u);
  EXPECT_EQ(db.ProtectionClass, 3);
  EXPECT_EQ(db.UserId, 501u);
  EXPECT_EQ(db.EncryptionKey, key);
  EXPECT_TRUE(records[2].HasEncryptionKey) << "an empty file keeps its key";
  EXPECT_TRUE(records[3].IsSymlink());
  EXPECT_EQ(records[3].LinkTarget, "../elsewhere");
  EXPECT_FALSE(records[3].HasEncryptionKey);
  EXPECT_TRUE(records[4].IsDirectory());
}

TEST(ManifestDb, DamagedFilesFailClearly) {
  test::TempDir dir;
  const std::string good = dir.Join("good.db");
  std::vector<Row> rows;
  for (int i = 0; i < 400; ++i) {
    rows.push_back(FileRow("HomeDomain", "Library/f" + std::to_string(i), 1, {.size = static_cast<std::uint64_t>(i)}));
  }
  WriteIndex(good, rows);
  const std::string bytes = test::ReadFile(good);

  struct Case {
    const char* name;
    std::string content;
    std::vector<ManifestDbStatus> allowed;
  };
  const std::vector<Case> cases = {
      {"not sqlite", "hello, this is not a database", {ManifestDbStatus::NotAnIndex}},
      {"empty", "", {ManifestDbStatus::NotAnIndex}},
      {"half", bytes.substr(0, bytes.size() / 2), {ManifestDbStatus::Damaged, ManifestDbStatus::NotAnIndex}},
      {"header only", bytes.substr(0, 100), {ManifestDbStatus::NotAnIndex}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Join(std::string(c.name) + ".db");
    test::WriteFile(path, c.content);
    ManifestDbResult result;
    ReadAll(path, result);
    EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), result.status), c.allowed.end())
        << c.name << ": " << ManifestDbStatusText(result.status);
  }

  const std::string other = dir.Join("other.db");
  WriteIndex(other, {}, "CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER)");
  ManifestDbResult result;
  ReadAll(other, result);
  EXPECT_EQ(result.status, ManifestDbStatus::NotAnIndex) << "no file column";

  const std::string fifo = dir.Join("fifo.db");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ReadAll(fifo, result);
  EXPECT_EQ(result.status, ManifestDbStatus::Missing);

  // The sink stops the reading; what came before stays delivered.
  int seen = 0;
  result = ReadManifestDb(good, [&seen](CManifestRecord&&) { return ++seen < 10; });
  EXPECT_EQ(result.status, ManifestDbStatus::Stopped);
  EXPECT_EQ(seen, 10);
}

}  // namespace
}  // namespace sieve
