#include "sieve/extractors/media_files_info.h"

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
void CAppDocumentInfo::AddFile(const std::string& groupName, MediaFile file) {
  const std::size_t g = GroupIndex(groupName);
  MediaGroup& group = groups_[g];
  const auto [found, added] = fileByName_[g].try_emplace(file.FileName, group.Files.size());
  if (!added) {
    MediaFile& sameName = group.Files[found->second];
    if (file.Deleted != 0) return;  // the picture is already listed
    if (sameName.Deleted != 0) {
      // The full file replaces the thumbnail that stood for it.
      sameName = std::move(file);
      return;
    }
    // Two live files of one name in a group are both listed; the first keeps the name's slot.
  }
  group.Files.push_back(std::move(file));
}

void CAppDocumentInfo::Register(const FileRegistration& registration) {
  MediaFile file;
  file.Deleted = registration.action == RuleAction::Thumbnail ? 1 : 0;
  file.FileName = registration.name;
  file.FilePath = registration.file.path;
  file.FileKey = registration.file.key;
  file.ModifiedTime = registration.file.modifiedTime;
  AddFile(registration.group, std::move(file));
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
