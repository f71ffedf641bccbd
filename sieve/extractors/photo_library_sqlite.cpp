#include "sieve/extractors/photo_library_sqlite.h"

#include <algorithm>
#include <set>

#include "sieve/reader/time_text.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

// No file name on a phone comes near this; a longer text is not a name.
constexpr std::uint32_t kMaxNameBytes = 255;

}  // namespace

int CPhotoLibrarySqlite::Recover() {
  assets_.clear();
  seen_.clear();
  if (!IsLoaded()) return kNotLoaded;
  if (!Searchable()) return kNotSearchable;
  table_.clear();
  for (const char* name : {"ZASSET", "ZGENERICASSET"}) {
    const auto columns = TableColumns(name);
    if (StoredColumnIndex(columns, "ZFILENAME") < 0 || StoredColumnIndex(columns, "ZDIRECTORY") < 0) continue;
    table_ = name;
    directory_ = StoredColumnIndex(columns, "ZDIRECTORY");
    fileName_ = StoredColumnIndex(columns, "ZFILENAME");
    dateCreated_ = StoredColumnIndex(columns, "ZDATECREATED");
    trashedState_ = StoredColumnIndex(columns, "ZTRASHEDSTATE");
    trashedDate_ = StoredColumnIndex(columns, "ZTRASHEDDATE");
    kind_ = StoredColumnIndex(columns, "ZKIND");
    width_ = StoredColumnIndex(columns, "ZWIDTH");
    height_ = StoredColumnIndex(columns, "ZHEIGHT");
    break;
  }
  if (table_.empty()) return 0;
  const int carved = scan();
  return carved < 0 ? carved : static_cast<int>(assets_.size());
}

std::vector<RecordShape> CPhotoLibrarySqlite::Shapes() const {
  auto shape = table_.empty() ? std::nullopt : ShapeForTable(table_);
  if (!shape) return {RecordShape{}};
  // Without its folder and name an asset row says nothing worth showing.
  NarrowColumn(*shape, directory_, kText, kMaxNameBytes);
  NarrowColumn(*shape, fileName_, kText, kMaxNameBytes);
  NarrowColumn(*shape, dateCreated_, kInteger | kReal | kNull);
  return {*shape};
}

// An asset is named by its folder and file name.
CSqliteDelete::ShapeTable CPhotoLibrarySqlite::TableOf(std::size_t) const {
  return {table_, {RowIdentity{directory_, fileName_}}};
}

bool CPhotoLibrarySqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const std::string name = TextAt(record.values, fileName_);
  const std::string directory = TextAt(record.values, directory_);
  // A name with a folder part in it would point outside the asset's folder.
  return !name.empty() && !directory.empty() && name.find('/') == std::string::npos &&
         name.find('.') != std::string::npos;
}

void CPhotoLibrarySqlite::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  PhotoAsset asset;
  asset.devicePath = "Media/" + TextAt(record.values, directory_) + "/" + TextAt(record.values, fileName_);
  if (!seen_.insert(asset.devicePath).second) return;  // an older copy of the same row
  if (const auto taken = NumberAt(record.values, dateCreated_)) asset.dateTaken = MacTimeTextFromDouble(*taken);
  asset.trashed = IntegerAt(record.values, trashedState_).value_or(0) == 1;
  if (const auto trashed = NumberAt(record.values, trashedDate_); asset.trashed && trashed) {
    asset.trashedDate = MacTimeTextFromDouble(*trashed);
  }
  asset.kind = static_cast<std::int32_t>(std::clamp<std::int64_t>(IntegerAt(record.values, kind_).value_or(0), 0, 1));
  asset.width = Int32At(record.values, width_);
  asset.height = Int32At(record.values, height_);
  assets_.push_back(std::move(asset));
}

}  // namespace sieve
