// A folder only this user can read (mode 0700), unique per reader, for decrypted
// copies of databases and for pictures written out of them. Removed with its owner.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "sieve/private_cleanup.h"

namespace sieve {

class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Creates the folder on first use under $TMPDIR (else /tmp) as "sieve-<pid>-XXXXXX",
  // registered for removal on a signal; the first one of a process also sweeps away
  // folders of earlier runs that are no longer running. False when it cannot.
  bool Ensure();
  const std::string& Path() const { return path_; }

  // A path inside the folder for a new file: the name made safe, and made unique
  // ("name", "name-2.ext", ...) so two files of the same name never overwrite each other.
  // "" when the folder cannot be created.
  std::string NewFilePath(std::string_view name);

  // Removes everything inside the folder (the next scan starts clean).
  void Clear();
  // Removes the folder itself.
  void Remove();

 private:
  std::string path_;
  PrivatePath onSignal_;
  std::set<std::string> used_;
};

}  // namespace sieve
