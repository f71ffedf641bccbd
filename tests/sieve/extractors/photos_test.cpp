#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sieve/extractors/photo_library.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/records.h"
#include "sieve/sqlite/database.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;

struct Layout {
  std::string version;
  std::string name;  // the generator's layout
  bool manifestDb;
  bool walHistory = false;  // the library's last changes only in its -wal
};

const std::vector<Layout> kLayouts = {{"13.7", "ios13", false}, {"13.7", "ios13", true},
                                      {"16.7", "ios16", false}, {"16.7", "ios16", true},
                                      {"18.2", "ios18", false}, {"18.2", "ios18", true},
                                      {"18.2", "ios18", true, true}};

void Collect(void* record, _InfoType type, void* user) {
  if (type == INFO_CAMERA_ROLL) static_cast<std::vector<MediaFile>*>(user)->push_back(*static_cast<MediaFile*>(record));
}

class PhotoLayouts : public testing::TestWithParam<Layout> {};

// Live assets come out exactly; assets in "Recently Deleted" and assets purged from the library
// (rows deleted, files gone, carved) are the deleted items, scored by recall and precision.
TEST_P(PhotoLayouts, CameraRollJoinsTheLibraryToItsFiles) {
  const Layout& layout = GetParam();
  std::vector<std::string> options;
  if (layout.manifestDb) options.push_back("--manifest-db");
  if (layout.walHistory) options.push_back("--wal-history");
  const test::LayoutBackup& backup = test::SmallBackup(layout.version, "11", options);
  const JsonValue& truth = backup.Database("photos");
  ASSERT_EQ(truth.Text("layout"), layout.name);

  CItunesBackupReader reader;
  ASSERT_EQ(reader.ReadItunesbackFromPath(backup.Backup.Folder.c_str()), 0);
  std::vector<MediaFile> files;
  reader.SetCallBack(Collect, &files);
  ASSERT_EQ(reader.ReadBackup(0), 0);
  std::map<std::string, const MediaFile*> byName;
  for (const MediaFile& f : files) byName.emplace(f.FileName, &f);

  std::size_t trashedTruth = 0, trashedFound = 0, live = 0, purgedIntact = 0, purgedFound = 0;
  std::set<std::string> purged;
  for (const JsonValue& asset : truth["assets"].Items) {
    const std::string name = asset.Text("file_name");
    SCOPED_TRACE(name);
    const auto found = byName.find(name);
    if (asset["purged"].Bool) {
      // Known from its carved row only: deleted, no file, its date.
      purged.insert(name);
      if (!asset["intact"].Bool) continue;
      ++purgedIntact;
      if (found != byName.end() && found->second->Deleted == 1 && found->second->FilePath.empty() &&
          found->second->DateTaken == test::MacDateText(asset["date_created"])) {
        ++purgedFound;
      }
      continue;
    }
    ASSERT_NE(found, byName.end());
    const MediaFile& f = *found->second;
    EXPECT_EQ(f.DateTaken, test::MacDateText(asset["date_created"]));
    EXPECT_EQ(f.Width, asset.Int("width"));
    EXPECT_EQ(f.Height, asset.Int("height"));
    EXPECT_EQ(f.Albums, test::Strings(asset["albums"]));
    EXPECT_EQ(f.FilePath, backup.Stored(asset.Text("device_path")));
    // A video is shown by the thumbnail the device made of it.
    EXPECT_EQ(f.ThumbnailPath, asset.Find("thumbnail") != nullptr ? backup.Stored(asset.Text("thumbnail")) : "");
    if (asset["trashed"].Bool) {
      ++trashedTruth;
      if (f.Deleted == 1 && f.Trashed == 1) ++trashedFound;
      EXPECT_EQ(f.TrashedDate, test::MacDateText(asset["trashed_date"]));
    } else {
      ++live;
      EXPECT_EQ(f.Deleted, 0);
      EXPECT_EQ(f.TrashedDate, "");
    }
  }
  std::size_t reportedTrashed = 0, reportedPurged = 0, correctPurged = 0;
  for (const MediaFile& f : files) {
    reportedTrashed += f.Trashed;
    if (f.FilePath.empty()) {
      ++reportedPurged;
      correctPurged += purged.count(f.FileName);
    }
  }
  ASSERT_GE(purgedIntact, 1u);
  // A picture imported since the last checkpoint is read from the log.
  std::size_t inWal = 0;
  for (const JsonValue& asset : truth["assets"].Items) inWal += asset.Find("in_wal") != nullptr ? 1 : 0;
  EXPECT_EQ(inWal, layout.walHistory ? 1u : 0u);
  EXPECT_GE(static_cast<double>(purgedFound) / static_cast<double>(purgedIntact), 0.95);
  EXPECT_GE(static_cast<double>(correctPurged) / static_cast<double>(std::max<std::size_t>(reportedPurged, 1)), 0.98);
  ASSERT_GE(trashedTruth, 2u);
  ASSERT_GE(live, 4u);
  EXPECT_GE(static_cast<double>(trashedFound) / static_cast<double>(trashedTruth), 0.95);
  EXPECT_GE(static_cast<double>(trashedFound) / static_cast<double>(std::max<std::size_t>(reportedTrashed, 1)), 0.98);
}

INSTANTIATE_TEST_SUITE_P(Versions, PhotoLayouts, testing::ValuesIn(kLayouts), [](const auto& info) {
  return info.param.name + (info.param.manifestDb ? "_manifest_db" : "_mbdb") +
         (info.param.walHistory ? "_wal_history" : "");
});

// A library whose tables are not what they claim: no crash, and nothing taken from names
// that could carry SQL or point outside the asset's folder.
TEST(PhotoLibrary, OddTablesGiveWhatTheyCanOrNothing) {
  struct Case {
    const char* name;
    const char* sql;
    std::vector<std::string> paths;
    std::vector<std::string> albums;  // of the first asset
  };
  const std::vector<Case> cases = {
      {"no asset table", "CREATE TABLE ZOTHER (Z_PK INTEGER PRIMARY KEY, ZFILENAME TEXT);", {}, {}},
      {"older name, no album tables",
       "CREATE TABLE ZGENERICASSET (Z_PK INTEGER PRIMARY KEY, ZDIRECTORY TEXT, ZFILENAME TEXT);"
       "INSERT INTO ZGENERICASSET VALUES (1, 'DCIM/100APPLE', 'IMG_1.JPG');",
       {"Media/DCIM/100APPLE/IMG_1.JPG"}, {}},
      {"names with a folder part or empty are left out",
       "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZDIRECTORY TEXT, ZFILENAME TEXT, ZTRASHEDSTATE INTEGER);"
       "INSERT INTO ZASSET VALUES (1, 'DCIM/100APPLE', '../../x', 0), (2, '', 'a.JPG', 0), (3, 'DCIM', 'b.JPG', 7);",
       {"Media/DCIM/b.JPG"}, {}},
      {"a join table whose columns do not pair is not used",
       "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZDIRECTORY TEXT, ZFILENAME TEXT);"
       "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZTITLE TEXT);"
       "CREATE TABLE Z_9ASSETS (Z_8ALBUMS INTEGER, Z_3ASSETS INTEGER);"
       "CREATE TABLE \"Z_7ASSETS\" (\"Z_7ALBUMS\" INTEGER, \"Z_3ASSETS; DROP\" INTEGER);"
       "INSERT INTO ZASSET VALUES (1, 'DCIM/100APPLE', 'c.HEIC');"
       "INSERT INTO ZGENERICALBUM VALUES (1, 'A');"
       "INSERT INTO Z_9ASSETS VALUES (1, 1);",
       {"Media/DCIM/100APPLE/c.HEIC"}, {}},
      {"albums by title, each once",
       "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZDIRECTORY TEXT, ZFILENAME TEXT);"
       "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZTITLE TEXT);"
       "CREATE TABLE Z_28ASSETS (Z_28ALBUMS INTEGER, Z_3ASSETS INTEGER);"
       "INSERT INTO ZASSET VALUES (5, 'DCIM/100APPLE', 'd.MOV');"
       "INSERT INTO ZGENERICALBUM VALUES (1, 'B'), (2, 'A'), (3, 'B'), (4, NULL);"
       "INSERT INTO Z_28ASSETS VALUES (1, 5), (2, 5), (3, 5), (4, 5), (2, 99);",
       {"Media/DCIM/100APPLE/d.MOV"}, {"A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir.Join("Photos.sqlite");
    test::ExecSql(path, c.sql);
    sqlite::Database db;
    ASSERT_EQ(db.Open(path, true), 0);
    const std::vector<PhotoAsset> assets = ReadPhotoLibrary(db);
    std::vector<std::string> paths;
    for (const PhotoAsset& a : assets) paths.push_back(a.devicePath);
    EXPECT_EQ(paths, c.paths);
    if (!assets.empty()) {
      EXPECT_EQ(assets.front().albums, c.albums);
      EXPECT_FALSE(assets.front().trashed);  // only state 1 is "Recently Deleted"
    }
  }
}

}  // namespace
}  // namespace sieve
