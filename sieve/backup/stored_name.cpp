#include "sieve/backup/stored_name.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "sieve/backup/crypto.h"

namespace sieve {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kStoredNameLength = 40;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool LooksLikeStoredName(const std::string& name) {
  if (name.size() != kStoredNameLength) return false;
  for (char c : name) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}

// Lower ranks win: the folder itself before its sub-folders, and inside each the
// lower-case name, then the upper-case one, then any other mix.
int CaseRank(const std::string& name) {
  if (name == Lower(name)) return 0;
  if (name == Upper(name)) return 1;
  return 2;
}

bool IsPlainFile(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

}  // namespace

std::string StoredFileName(const std::string& domain, const std::string& path) {
  std::string text;
  text.reserve(domain.size() + 1 + path.size());
  text += domain;
  text += '-';
  text += path;
  const crypto::Sha1Digest digest = crypto::Sha1(text.data(), text.size());
  return crypto::HexLower(digest.data(), digest.size());
}

StoredFileLocator::StoredFileLocator(std::string folder) : folder_(std::move(folder)) {
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    const fs::file_type type = it->symlink_status(typeError).type();
    if (type == fs::file_type::regular) {
      if (!LooksLikeStoredName(name)) continue;
      storedNamesAtTop_ = true;
      if (CaseRank(name) == 2) OfferOdd(name, it->path().string(), false);
    } else if (type == fs::file_type::directory && name.size() == 2 && IsHexDigit(name[0]) &&
               IsHexDigit(name[1])) {
      subFolders_[Lower(name)].push_back(name);
      std::error_code subError;
      for (fs::directory_iterator sub(it->path(), subError); !subError && sub != end; sub.increment(subError)) {
        const std::string inner = sub->path().filename().string();
        if (!LooksLikeStoredName(inner)) continue;
        // The usual ones are found by name when asked for; only the odd ones are kept.
        if (CaseRank(inner) != 2 && Lower(inner.substr(0, 2)) == Lower(name)) continue;
        std::error_code subType;
        if (sub->symlink_status(subType).type() != fs::file_type::regular) continue;
        OfferOdd(inner, sub->path().string(), true);
      }
    }
  }
  // Two sub-folders of one name in different cases: the smaller path first, as for ties.
  for (auto& [prefix, folders] : subFolders_) std::sort(folders.begin(), folders.end());
}

void StoredFileLocator::OfferOdd(std::string name, std::string path, bool inSubFolder) {
  const int rank = CaseRank(name) + (inSubFolder ? 3 : 0);
  auto [slot, added] = odd_.try_emplace(Lower(std::move(name)), Candidate{path, rank});
  if (added) return;
  // Directory order is arbitrary; ties go to the smaller path so the answer is stable.
  Candidate& best = slot->second;
  if (rank < best.rank || (rank == best.rank && path < best.path)) best = Candidate{std::move(path), rank};
}

std::string StoredFileLocator::Find(const std::string& storedName) const {
  if (!LooksLikeStoredName(storedName)) return {};
  const std::string lower = Lower(storedName);
  const std::string upper = Upper(storedName);
  Candidate best{{}, 6};
  const auto odd = odd_.find(lower);
  if (odd != odd_.end()) best = odd->second;
  // The usual names in rank order: the first one on disk beats every later one.
  const auto tryName = [&](const fs::path& path, int rank) {
    if (rank >= best.rank || !IsPlainFile(path)) return false;
    best = Candidate{path.string(), rank};
    return true;
  };
  if (storedNamesAtTop_) {
    if (tryName(fs::path(folder_) / lower, 0) || tryName(fs::path(folder_) / upper, 1)) return best.path;
  }
  if (const auto folders = subFolders_.find(lower.substr(0, 2)); folders != subFolders_.end()) {
    for (const int rank : {3, 4}) {
      for (const std::string& sub : folders->second) {
        if (tryName(fs::path(folder_) / sub / (rank == 3 ? lower : upper), rank)) return best.path;
      }
    }
  }
  return best.path;
}

std::string FindStoredFile(const std::string& folder, const std::string& storedName) {
  if (!LooksLikeStoredName(storedName)) return {};
  // The usual cases cost one look-up; only an odd mix of cases needs the listing.
  for (const std::string& name : {Lower(storedName), Upper(storedName)}) {
    const fs::path candidate = fs::path(folder) / name;
    if (IsPlainFile(candidate)) return candidate.string();
  }
  return StoredFileLocator(folder).Find(storedName);
}

}  // namespace sieve
