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
  bool kept = false;  // the target existed and, without `replace`, was left as it was
};

// Creates an empty file (mode 0600) under a private temporary name in the folder
// of `target`, for content that is renamed over `target` once complete, and
// registers it in `onSignal` so that a signal removes it with the library's
// private data. Returns its path with `fd` open on it, or "" with `error` set.
std::string TemporaryBeside(const std::string& target, int& fd, PrivatePath& onSignal, std::string& error);

// Makes the folder decrypted files are written into, mode 0700, when it is not
// there; throws CommandError when it cannot, or when `folder` is not a folder.
void EnsureOutputFolder(const std::string& folder);

// The folder a file named `target` goes into ("." for a bare name).
std::string FolderOf(const std::string& target);

// Puts a complete file from its temporary name in place as `target`: renamed over
// an existing file only when `replace`, else linked, which fails with EEXIST when
// a file appeared there meanwhile; the temporary name is gone afterwards either way.
// 0 when placed, else the errno of the failure.
int PutInPlace(const std::string& temporary, const std::string& target, bool replace);

// The message for a target that exists and may not be replaced.
std::string ExistsMessage(const std::string& target);

// Extracts domain/path of the backup to `target`; an existing file there is
// replaced only when `replace`.
ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const std::string& domain,
                           const std::string& path, const std::string& target, bool replace);

// The same for an entry of a listing, without looking it up in the index again.
ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const BackupFileEntry& entry,
                           const std::string& target, bool replace);

// Extracts domain/path of the backup to standard output. The reader writes
// only into files, so the content passes through a file in a private folder
// (mode 0700, removed on signals) that is unlinked as soon as it is open.
ExtractOutcome ExtractToStandardOutput(CItunesBackupReader& reader, int index, const std::string& domain,
                                       const std::string& path);

// Copies everything left in `from` to `to`; false when reading or writing fails.
bool CopyAll(int from, int to);

// Octal text of a file mode ("100644").
std::string OctalMode(std::uint32_t mode);

}  // namespace sieve::cli
