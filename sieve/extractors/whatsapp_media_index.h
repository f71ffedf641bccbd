// WhatsApp's media and thumbnail files of a backup, found by the paths the chat
// database records for them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sieve/extractors/database_info.h"

namespace sieve {

struct WaMediaFile {
  std::string devicePath;  // the path inside its domain, as the backup's index holds it
  StoredFile file;
};

class CWaMediaIndex {
 public:
  void Add(std::string devicePath, StoredFile file);
  void Clear();
  std::size_t Size() const { return files_.size(); }

  // The file a database path names. The database records paths relative to the app's
  // folders ("Media/<jid>/..") or, in old versions, absolute on the device, while the
  // index holds them relative to the domain ("Library/Media/<jid>/.."): two paths name
  // the same file when one is the other or ends with "/" and the other. First added wins;
  // nullptr when none (also for an empty path).
  const WaMediaFile* Find(std::string_view databasePath) const;

 private:
  std::vector<WaMediaFile> files_;
  std::unordered_map<std::string, std::vector<std::size_t>> byName_;  // last path part -> files
};

}  // namespace sieve
