// Manifest.db read row by row: every field of the MBFile archive, and rows that
// cannot be read skipped and counted.
#include "sieve/backup/manifest_db.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>

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
  EXPECT_EQ(result.delivered, 5u);
  // Stored name, path, kind, link target, key, size, times, class, owner.
  std::vector<std::string> got;
  for (const CManifestRecord& r : records) {
    got.push_back(r.StoredName.substr(0, 6) + " " + r.Domain + "/" + r.Path + " " +
                  (r.IsDirectory() ? "d" : r.IsSymlink() ? "l" : r.IsRegularFile() ? "f" : "?") + r.LinkTarget + " " +
                  (r.HasEncryptionKey ? (r.EncryptionKey == key ? "key" : "other key") : "nokey") + " " +
                  std::to_string(r.Size) + " " + std::to_string(r.ModifiedTime) + " " + std::to_string(r.CreatedTime) +
                  " " + std::to_string(r.ProtectionClass) + " " + std::to_string(r.UserId));
  }
  const auto name = [](const char* domain, const char* path) { return StoredFileName(domain, path).substr(0, 6); };
  const std::string times = " 1500000000 1499999990 3 501";
  EXPECT_EQ(got, (std::vector<std::string>{
                     name("HomeDomain", "") + " HomeDomain/ d nokey 0" + times,
                     name("HomeDomain", "Library/SMS/sms.db") + " HomeDomain/Library/SMS/sms.db f key 8192" + times,
                     name("HomeDomain", "Library/empty") + " HomeDomain/Library/empty f key 0" + times,  // keeps its key
                     name("MediaDomain", "Media/link") + " MediaDomain/Media/link l../elsewhere nokey 0" + times,
                     // Flags decide the kind even when the archive's mode disagrees.
                     name("HomeDomain", "Library/folder") + " HomeDomain/Library/folder d nokey 0" + times}));
}

// Files that are not an index at all, or damaged ones, are the hostile campaign's part
// (tools/mkhostile: manifest-db-*, fifo-Manifest.db); here, a table without the archive
// column and a sink that stops.
TEST(ManifestDb, OtherTablesAndStopping) {
  test::TempDir dir;
  const std::string other = dir.Join("other.db");
  WriteIndex(other, {}, "CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER)");
  ManifestDbResult result;
  ReadAll(other, result);
  EXPECT_EQ(result.status, ManifestDbStatus::NotAnIndex) << "no file column";

  const std::string good = dir.Join("good.db");
  std::vector<Row> rows;
  for (int i = 0; i < 40; ++i) rows.push_back(FileRow("HomeDomain", "Library/f" + std::to_string(i), 1, {}));
  WriteIndex(good, rows);
  // The sink stops the reading; what came before stays delivered.
  int seen = 0;
  result = ReadManifestDb(good, [&seen](CManifestRecord&&) { return ++seen < 10; });
  EXPECT_EQ(result.status, ManifestDbStatus::Stopped);
  EXPECT_EQ(seen, 10);
}

}  // namespace
}  // namespace sieve
