// Where the contents of an index entry live in the backup folder.
#pragma once

#include <string>
#include <unordered_map>

namespace sieve {

// SHA-1 of the index's own bytes of domain + "-" + path, as 40 lower-case hex digits.
std::string StoredFileName(const std::string& domain, const std::string& path);

// Finds the stored file in the backup folder whichever case its name has on disk:
// lower case, then upper case, then any other case, in the folder itself and then in
// its two-digit sub-folders ("xx/<name>"). Returns the full path as it is on disk, or
// "" when missing. Links are never followed: a stored file is a plain file.
std::string FindStoredFile(const std::string& folder, const std::string& storedName);

// The same search over a listing made once, so that a large index costs one pass over
// the folder instead of several file-system look-ups per entry.
class StoredFileLocator {
 public:
  explicit StoredFileLocator(std::string folder);
  std::string Find(const std::string& storedName) const;

 private:
  struct Candidate {
    std::string path;
    int rank;
  };
  void Offer(std::string name, std::string path, bool inSubFolder);

  std::string folder_;
  std::unordered_map<std::string, Candidate> byName_;  // lower-case stored name -> best file
};

}  // namespace sieve
