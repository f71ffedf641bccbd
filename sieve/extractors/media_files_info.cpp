#include "sieve/extractors/media_files_info.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "sieve/extractors/photo_library.h"
#include "sieve/extractors/photo_library_sqlite.h"
#include "sieve/sqlite/database.h"

namespace sieve {

CAppDocumentInfo::~CAppDocumentInfo() = default;

std::size_t CAppDocumentInfo::GroupIndex(const std::string& name) {
  const auto [found, added] = groupByName_.try_emplace(name, groups_.size());
  if (added) {
    groups_.push_back(MediaGroup{name, {}});
    fileByName_.emplace_back();
  }
  return found->second;
}

// One application can hold a hundred thousand files: look-ups by name are hashed so
// that registering them stays linear.
std::size_t CAppDocumentInfo::AddFile(const std::string& groupName, MediaFile file) {
  const std::size_t g = GroupIndex(groupName);
  MediaGroup& group = groups_[g];
  const auto [found, added] = fileByName_[g].try_emplace(file.FileName, group.Files.size());
  if (!added) {
    MediaFile& sameName = group.Files[found->second];
    if (file.Deleted != 0) {
      // The file is already listed; its thumbnail is what a video is shown by.
      if (sameName.ThumbnailPath.empty()) {
        sameName.ThumbnailPath = std::move(file.FilePath);
        sameName.ThumbnailKey = file.FileKey;
      }
      return found->second;
    }
    if (sameName.Deleted != 0) {
      // The full file replaces the thumbnail that stood for it, and keeps it as its thumbnail.
      file.ThumbnailPath = std::move(sameName.FilePath);
      file.ThumbnailKey = sameName.FileKey;
      sameName = std::move(file);
      return found->second;
    }
    // Two live files of one name in a group are both listed; the first keeps the name's slot.
  }
  group.Files.push_back(std::move(file));
  return group.Files.size() - 1;
}

MediaFile CAppDocumentInfo::FileOf(const FileRegistration& registration) {
  MediaFile file;
  file.Deleted = registration.action == RuleAction::Thumbnail ? 1 : 0;
  file.FileName = registration.name;
  file.FilePath = registration.file.path;
  file.FileKey = registration.file.key;
  file.ModifiedTime = registration.file.modifiedTime;
  return file;
}

void CAppDocumentInfo::Register(const FileRegistration& registration) {
  AddFile(registration.group, FileOf(registration));
}

void CCameraInfo::Register(const FileRegistration& registration) {
  const std::size_t at = AddFile(registration.group, FileOf(registration));
  // The photo library names full files by their path on the device.
  if (registration.action == RuleAction::File && registration.group == Groups().front().Name) {
    fileByDevicePath_[registration.devicePath] = at;
  }
}

int CCameraInfo::read(std::string /*backupFolder*/) {
  if (!MainDatabase.IsSet()) return 0;
  const OpenableDatabase file = PrepareDatabase(MainDatabase, "Photos.sqlite");
  if (!file.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  if (const int rc = db.Open(file.path, file.immutable); rc != SQLITE_OK) return rc;
  std::set<std::string> live;
  for (PhotoAsset& asset : ReadPhotoLibrary(db)) {
    live.insert(asset.devicePath);
    Annotate(std::move(asset), false);
  }
  db.Close();
  // Assets the library let go of: listed as deleted, by their file or their thumbnail when
  // the backup still has one, else by name and date alone.
  CPhotoLibrarySqlite engine;
  if (engine.Load(file.path) != 0 || engine.Recover() < 0) return 0;
  for (const PhotoAsset& asset : engine.Assets()) {
    if (live.count(asset.devicePath) == 0) Annotate(asset, true);
  }
  return 0;
}

void CCameraInfo::Annotate(PhotoAsset asset, bool purged) {
  constexpr const char* kGroup = "Camera Roll";
  MediaFile* f = nullptr;
  if (const auto found = fileByDevicePath_.find(asset.devicePath); found != fileByDevicePath_.end()) {
    f = &Groups().front().Files[found->second];
  }
  if (f == nullptr && purged) {
    const std::string name = asset.devicePath.substr(asset.devicePath.rfind('/') + 1);
    // A thumbnail listed in the picture's place, or a new entry of its own.
    std::vector<MediaFile>& files = Groups()[GroupIndex(kGroup)].Files;
    const auto thumbnail = std::find_if(files.begin(), files.end(),
                                        [&](const MediaFile& m) { return m.Deleted != 0 && m.FileName == name; });
    if (thumbnail != files.end()) {
      f = &*thumbnail;
    } else {
      MediaFile gone;
      gone.FileName = name;
      f = &files[AddFile(kGroup, std::move(gone))];
    }
  }
  if (f == nullptr) return;
  f->DateTaken = std::move(asset.dateTaken);
  f->Width = asset.width;
  f->Height = asset.height;
  f->Albums = std::move(asset.albums);
  if (purged) f->Deleted = 1;
  if (asset.trashed) {
    f->Trashed = 1;
    f->Deleted = 1;
    f->TrashedDate = std::move(asset.trashedDate);
  }
}

std::size_t CAppDocumentInfo::RecordCount(_InfoType type) const {
  if (type != type_) return 0;
  if (DeliversFiles()) return groups_.empty() ? 0 : groups_.front().Files.size();
  return groups_.size();
}

void* CAppDocumentInfo::RecordAt(_InfoType type, std::size_t index) {
  if (index >= RecordCount(type)) return nullptr;
  if (DeliversFiles()) return &groups_.front().Files[index];
  return &groups_[index];
}

}  // namespace sieve
