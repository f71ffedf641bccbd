#include "sieve/extractors/photo_library.h"

#include <algorithm>
#include <limits>
#include <map>

#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

// Names taken from the file's own schema go into SQL text: only plain identifiers do.
bool PlainIdentifier(const std::string& name) {
  return !name.empty() && name.size() < 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::string ColumnOrNull(sqlite::Database& db, const std::string& table, const char* column) {
  return db.HasColumn(table, column) ? std::string(column) : std::string("NULL");
}

std::int32_t Clamp32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::int32_t>::max()));
}

// "Z_<n>" + suffix: the entity number Core Data puts in a join table's names.
bool EntityName(const std::string& name, const std::string& suffix, std::string& number) {
  if (name.size() <= 2 + suffix.size() || name.compare(0, 2, "Z_") != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  number = name.substr(2, name.size() - 2 - suffix.size());
  return !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct AlbumJoin {
  std::string table, albumColumn, assetColumn;
};

// The table joining albums to assets: named Z_<n>ASSETS, with a Z_<n>ALBUMS column and one
// Z_<m>ASSETS column (Z_26ASSETS on iOS 13 and 14, Z_28ASSETS on 16, Z_30ASSETS on 18).
bool FindAlbumJoin(sqlite::Database& db, AlbumJoin& join) {
  std::vector<std::string> tables;
  if (sqlite::Statement list = db.Prepare("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
      list.Ok()) {
    while (list.Step()) tables.push_back(list.Text(0));
  }
  for (const std::string& table : tables) {
    std::string number, other;
    if (!EntityName(table, "ASSETS", number) || !PlainIdentifier(table)) continue;
    join = {table, "", ""};
    for (const std::string& column : db.ColumnNames(table)) {
      if (column == "Z_" + number + "ALBUMS") join.albumColumn = column;
      if (EntityName(column, "ASSETS", other) && PlainIdentifier(column)) join.assetColumn = column;
    }
    if (!join.albumColumn.empty() && !join.assetColumn.empty()) return true;
  }
  return false;
}

void ReadAlbums(sqlite::Database& db, const std::map<std::int64_t, std::size_t>& byKey,
                std::vector<PhotoAsset>& assets) {
  AlbumJoin join;
  if (!db.HasColumn("ZGENERICALBUM", "ZTITLE") || !FindAlbumJoin(db, join)) return;
  // An album the user threw away no longer holds its pictures.
  const std::string trashed = db.HasColumn("ZGENERICALBUM", "ZTRASHEDSTATE") ? " AND COALESCE(a.ZTRASHEDSTATE, 0) = 0" : "";
  sqlite::Statement rows = db.Prepare("SELECT j." + join.assetColumn + ", a.ZTITLE FROM " + join.table +
                                      " j JOIN ZGENERICALBUM a ON a.Z_PK = j." + join.albumColumn +
                                      " WHERE a.ZTITLE IS NOT NULL AND a.ZTITLE <> ''" + trashed +
                                      " ORDER BY j." + join.assetColumn + ", a.ZTITLE, a.Z_PK");
  if (!rows.Ok()) return;
  while (rows.Step()) {
    const auto found = byKey.find(rows.Int64(0));
    if (found == byKey.end()) continue;
    std::vector<std::string>& albums = assets[found->second].albums;
    std::string title = rows.Text(1);
    if (std::find(albums.begin(), albums.end(), title) == albums.end()) albums.push_back(std::move(title));
  }
}

}  // namespace

std::vector<PhotoAsset> ReadPhotoLibrary(sqlite::Database& db) {
  std::vector<PhotoAsset> assets;
  // iOS 14 renamed the asset table; the older name stays for iOS 11 to 13.
  std::string table;
  for (const char* name : {"ZASSET", "ZGENERICASSET"}) {
    if (db.HasColumn(name, "ZFILENAME") && db.HasColumn(name, "ZDIRECTORY") && db.HasColumn(name, "Z_PK")) {
      table = name;
      break;
    }
  }
  if (table.empty()) return assets;
  std::string sql = "SELECT Z_PK, ZDIRECTORY, ZFILENAME";
  for (const char* column : {"ZDATECREATED", "ZTRASHEDSTATE", "ZTRASHEDDATE", "ZKIND", "ZWIDTH", "ZHEIGHT"}) {
    sql += ", " + ColumnOrNull(db, table, column);
  }
  sqlite::Statement rows = db.Prepare(sql + " FROM " + table + " ORDER BY Z_PK");
  if (!rows.Ok()) return assets;
  std::map<std::int64_t, std::size_t> byKey;
  while (rows.Step()) {
    const std::string directory = rows.Text(1);
    const std::string name = rows.Text(2);
    // A name with a folder part in it would point outside the asset's folder.
    if (directory.empty() || name.empty() || name.find('/') != std::string::npos) continue;
    PhotoAsset asset;
    asset.devicePath = "Media/" + directory + "/" + name;
    if (!rows.IsNull(3)) asset.dateTaken = MacTimeTextFromDouble(rows.Double(3));
    asset.trashed = rows.Int64(4) == 1;
    if (asset.trashed && !rows.IsNull(5)) asset.trashedDate = MacTimeTextFromDouble(rows.Double(5));
    asset.kind = static_cast<std::int32_t>(std::clamp<std::int64_t>(rows.Int64(6), 0, 1));
    asset.width = Clamp32(rows.Int64(7));
    asset.height = Clamp32(rows.Int64(8));
    byKey.emplace(rows.Int64(0), assets.size());
    assets.push_back(std::move(asset));
  }
  ReadAlbums(db, byKey, assets);
  return assets;
}

}  // namespace sieve
