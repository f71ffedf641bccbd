// Assets the photo library no longer holds (emptied from "Recently Deleted", or removed
// with their album), carved from the free space and the write-ahead log of Photos.sqlite.
// Their files are usually gone; the name, the folder and when the picture was taken remain.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "sieve/extractors/photo_library.h"
#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

class CPhotoLibrarySqlite : public CSqliteDelete {
 public:
  // Returns the number of assets found, or kNotLoaded / kNotSearchable; copies of live rows
  // are left out, and each device path is reported once.
  int Recover();
  const std::vector<PhotoAsset>& Assets() const { return assets_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  std::string table_;
  int directory_ = -1, fileName_ = -1, dateCreated_ = -1, trashedState_ = -1, trashedDate_ = -1, kind_ = -1,
      width_ = -1, height_ = -1;
  std::vector<PhotoAsset> assets_;
  std::set<std::string> seen_;
};

}  // namespace sieve
