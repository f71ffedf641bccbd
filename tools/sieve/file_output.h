// Writing one extracted file into place: through a private temporary name in
// the target's folder, renamed over the target only when it is complete, so
// that a failure never leaves a partial or foreign file under the target name.
#pragma once

#include <cstdint>
#include <string>

#include "sieve/itunes_backup_reader.h"
#include "sieve/private_cleanup.h"

namespace sieve::cli {

struct ExtractOutcome {
  int result = 0;  // as ExtractFile: 1 written, 0 failed, -1 wrong password
  std::string error;  // why it failed, when the reader did not say
  std::string note;   // what the reader noticed about a file it still wrote
};

// Creates an empty file (mode 0600) under a private temporary name in the folder
// of `target`, for content that is renamed over `target` once complete, and
// registers it in `onSignal` so that a signal removes it with the library's
// private data. Returns its path with `fd` open on it, or "" with `error` set.
std::string TemporaryBeside(const std::string& target, int& fd, PrivatePath& onSignal, std::string& error);

// The folder a file named `target` goes into ("." for a bare name).
std::string FolderOf(const std::string& target);

// Extracts domain/path of the backup to `target`.
ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const std::string& domain,
                           const std::string& path, const std::string& target);

// Octal text of a file mode ("100644").
std::string OctalMode(std::uint32_t mode);

}  // namespace sieve::cli
