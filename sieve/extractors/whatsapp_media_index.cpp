#include "sieve/extractors/whatsapp_media_index.h"

namespace sieve {
namespace {

std::string_view LastPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// True when `longer` is `shorter` or ends with "/" followed by it.
bool EndsWithPath(std::string_view longer, std::string_view shorter) {
  if (longer == shorter) return true;
  return longer.size() > shorter.size() && longer.ends_with(shorter) &&
         longer[longer.size() - shorter.size() - 1] == '/';
}

}  // namespace

void CWaMediaIndex::Add(std::string devicePath, StoredFile file) {
  const std::string name(LastPart(devicePath));
  if (name.empty()) return;
  byName_[name].push_back(files_.size());
  files_.push_back(WaMediaFile{std::move(devicePath), std::move(file)});
}

void CWaMediaIndex::Clear() {
  files_.clear();
  byName_.clear();
}

const WaMediaFile* CWaMediaIndex::Find(std::string_view databasePath) const {
  while (databasePath.starts_with('/')) databasePath.remove_prefix(1);
  const std::string_view name = LastPart(databasePath);
  if (name.empty()) return nullptr;
  const auto found = byName_.find(std::string(name));
  if (found == byName_.end()) return nullptr;
  for (const std::size_t index : found->second) {
    const WaMediaFile& candidate = files_[index];
    if (EndsWithPath(candidate.devicePath, databasePath) || EndsWithPath(databasePath, candidate.devicePath)) {
      return &candidate;
    }
  }
  return nullptr;
}

}  // namespace sieve
