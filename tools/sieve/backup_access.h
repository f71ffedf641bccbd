// Opening one backup folder for a command: loading it, unlocking an encrypted
// one and turning the reader's failures into exit codes and messages.
#pragma once

#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/password.h"

namespace sieve::cli {

// Adds the backup folder to the reader and returns its index. Throws
// CommandError (exit 4) when the folder is missing or holds no Info.plist.
int LoadBackup(CItunesBackupReader& reader, const std::string& folder);

// For an encrypted backup: obtains the password (or the saved key), gives it
// to the reader and checks it before any long work; the slow key derivation
// runs here, once, and cannot be stopped part-way: call it outside any
// InterruptGuard, so that Ctrl-C ends it at once. Throws CommandError (exit 3
// for a wrong password or key). A backup that is not encrypted needs nothing.
void Unlock(CItunesBackupReader& reader, int index, const PasswordSource& source);

// The whole file index; prints the reader's warnings once it is read. Throws
// CommandError for a wrong password or when nothing could be read; a damaged
// index returns the entries before the damage with LastError telling so.
std::vector<BackupFileEntry> ReadIndexEntries(CItunesBackupReader& reader, int index);

// Prints the reader's warnings on this backup (an unfinished or incremental
// backup, index rows skipped) on standard error, one "sieve: warning:" line each.
void PrintWarnings(const CItunesBackupReader& reader, int index);

// "Manifest.mbdb", "Manifest.db", or "" when the folder holds neither.
std::string LayoutName(BackupLayout layout);

// The error for the reader's last failure on this backup (FailureOutcome, made
// printable); `fallback` is the message when the reader recorded none.
CommandError ReaderFailure(const CItunesBackupReader& reader, int index,
                           const std::string& fallback);

}  // namespace sieve::cli
