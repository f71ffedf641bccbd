// Where the contents of an index entry live in the backup folder.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace sieve {

// SHA-1 of the index's own bytes of domain + "-" + path, as 40 lower-case hex digits.
std::string StoredFileName(const std::string& domain, const std::string& path);

// Finds the stored file in the backup folder whichever case its name has on disk:
// lower case, then upper case, then any other case, in the folder itself and then in
// its two-digit sub-folders ("xx/<name>"). Returns the full path as it is on disk, or
// "" when missing. Links are never followed: a stored file is a plain file.
std::string FindStoredFile(const std::string& folder, const std::string& storedName);

// The same search for many names: one pass over the folder at the start notes its
// sub-folders and the few names whose case is neither all lower nor all upper; each
// look-up then tries the usual names on disk. What it keeps does not grow with the
// number of stored files, however large the backup.
class StoredFileLocator {
 public:
  explicit StoredFileLocator(std::string folder);
  std::string Find(const std::string& storedName) const;

 private:
  struct Candidate {
    std::string path;
    int rank = 0;
  };
  void OfferOdd(std::string name, std::string path, bool inSubFolder);

  std::string folder_;
  bool storedNamesAtTop_ = false;  // the folder itself holds stored files (the older layout)
  // Lower-case "xx" -> the sub-folders of that name as they are on disk.
  std::unordered_map<std::string, std::vector<std::string>> subFolders_;
  // Lower-case stored name -> the best file of an odd case, or one in a sub-folder not
  // named after it: rare, so kept whole.
  std::unordered_map<std::string, Candidate> odd_;
};

}  // namespace sieve
