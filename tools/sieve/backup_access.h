// Opening one backup folder for a command: loading it, unlocking an encrypted
// one and turning the reader's failures into exit codes and messages.
#pragma once

#include <string>

#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/password.h"

namespace sieve::cli {

// Adds the backup folder to the reader and returns its index. Throws
// CommandError (exit 4) when the folder is missing or holds no Info.plist.
int LoadBackup(CItunesBackupReader& reader, const std::string& folder);

// For an encrypted backup: obtains the password, gives it to the reader and
// checks it before any long work. Throws CommandError (exit 3 for a wrong
// password). A backup that is not encrypted needs nothing.
void Unlock(CItunesBackupReader& reader, int index, const PasswordSource& source);

ExitCode ExitCodeFor(ReaderError error);

// The error for the reader's last failure on this backup; `fallback` is the
// message when the reader recorded none.
CommandError ReaderFailure(const CItunesBackupReader& reader, int index,
                           const std::string& fallback);

}  // namespace sieve::cli
