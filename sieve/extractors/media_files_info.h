// Photos, videos, documents and music are files of the backup, not rows of a
// database: the index walk hands them over and these extractors group them.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "sieve/records.h"
#include "sieve/extractors/database_info.h"
#include "sieve/extractors/photo_library.h"

namespace sieve {

// Documents of applications; the base of every file-list extractor.
class CAppDocumentInfo : public CDatabaseInfo {
 public:
  CAppDocumentInfo() : CAppDocumentInfo(INFO_APP_DOCUMENT) {}
  ~CAppDocumentInfo() override;
  void Register(const FileRegistration& file) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  // Adds a file to its group. A thumbnail stands for a picture whose full file may be
  // gone: it is listed, marked deleted, only while no file of that name is in the group,
  // and otherwise kept as that file's thumbnail; a full file arriving later takes over the
  // first entry of its name. Returns where in the group the file is listed.
  std::size_t AddFile(const std::string& group, MediaFile file);

 protected:
  explicit CAppDocumentInfo(_InfoType type) : type_(type) {}
  std::vector<MediaGroup>& Groups() { return groups_; }
  // The group of that name, added when missing.
  std::size_t GroupIndex(const std::string& name);
  static MediaFile FileOf(const FileRegistration& registration);
  // Camera roll and photo stream deliver the files of their first group one by one;
  // the others deliver whole groups.
  virtual bool DeliversFiles() const { return false; }

 private:
  _InfoType type_;
  std::vector<MediaGroup> groups_;
  std::unordered_map<std::string, std::size_t> groupByName_;
  std::vector<std::unordered_map<std::string, std::size_t>> fileByName_;  // per group: first file of a name
};

class CAppImageInfo : public CAppDocumentInfo {
 public:
  CAppImageInfo() : CAppDocumentInfo(INFO_APP_PICTURE) {}
};

class CAppVideoInfo : public CAppDocumentInfo {
 public:
  CAppVideoInfo() : CAppDocumentInfo(INFO_APP_VIDEO) {}
};

class CCameraInfo : public CAppDocumentInfo {
 public:
  CCameraInfo() : CAppDocumentInfo(INFO_CAMERA_ROLL) {}
  void Register(const FileRegistration& file) override;
  // With the photo library beside the files: dates taken, albums and "Recently Deleted".
  // 0, or the SQLite code of a failed open (the files stay listed as they are).
  int read(std::string backupFolder) override;

 protected:
  explicit CCameraInfo(_InfoType type) : CAppDocumentInfo(type) {}
  bool DeliversFiles() const override { return true; }

 private:
  // Gives a listed file what the library says of it; a purged asset is marked deleted,
  // and listed by name when the backup has no file of it.
  void Annotate(PhotoAsset asset, bool purged);

  std::unordered_map<std::string, std::size_t> fileByDevicePath_;  // full files of the first group
};

class CPhotostreamInfo : public CCameraInfo {
 public:
  CPhotostreamInfo() : CCameraInfo(INFO_PHOTO_STREAM) {}
};

class CMusicInfo : public CCameraInfo {
 public:
  CMusicInfo() : CCameraInfo(INFO_MUSIC) {}

 protected:
  bool DeliversFiles() const override { return false; }
};

}  // namespace sieve
