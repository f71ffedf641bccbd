#include "tools/sieve/backup_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "sieve/secret.h"
#include "tools/sieve/terminal_prompt.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

int LoadBackup(CItunesBackupReader& reader, const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    throw CommandError(kExitNotABackup, "no such folder: " + Printable(folder));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw CommandError(kExitNotABackup, Printable(folder) + " is not a folder");
  }
  const int index = reader.ReadItunesbackFromPath(folder.c_str());
  if (index < 0) {
    throw CommandError(kExitNotABackup,
                       Printable(folder) + " is not a backup folder (it has no Info.plist)");
  }
  if (Verbose()) {
    const std::string layout = LayoutName(reader.Layout(index));
    Detail("opened " + Printable(folder) + ": " + (layout.empty() ? "no index" : layout) +
           (reader.GetIsEncrypt(index) != 0 ? ", encrypted" : ", not encrypted"));
  }
  return index;
}

namespace {

// CheckPassword with the slow derivation explained to a person at a terminal.
int CheckSecret(CItunesBackupReader& reader, int index, bool isKey) {
  Detail(isKey ? "checking the key" : "checking the password");
  const bool told = !isKey && !Quiet() && ::isatty(STDERR_FILENO) == 1;
  if (told) {
    std::fputs("checking the password (seconds for backups of iOS 10.2 and later; Ctrl-C gives up)...", stderr);
    std::fflush(stderr);
  }
  const int checked = reader.CheckPassword(index);
  if (told) std::fputs("\r\033[K", stderr);
  Detail(checked == 1 ? "the backup is open" : "the backup did not open");
  return checked;
}

}  // namespace

void Unlock(CItunesBackupReader& reader, int index, const PasswordSource& source) {
  if (reader.GetIsEncrypt(index) == 0) return;
  int checked = 0;
  if (source.keyFile) {
    FileKey key = ReadKeyFile(*source.keyFile);
    reader.SetDerivedKey(index, key);
    WipeSecret(key);
    checked = CheckSecret(reader, index, true);
  } else if (source.file || source.fromStdin || ::isatty(STDIN_FILENO) != 1) {
    // A file or a pipe gets one try: asking again could not change its answer.
    std::string password = ObtainPassword(source);
    reader.SetPassword(index, password);
    WipeSecret(password);
    checked = CheckSecret(reader, index, false);
  } else {
    checked = AskForPassword("sieve", Printable(reader.BackupName(index)), [&](std::string& password) {
      reader.SetPassword(index, password);
      return CheckSecret(reader, index, false);
    });
  }
  if (checked == 1) return;
  if (checked < 0) {
    throw CommandError(kExitWrongPassword, source.keyFile ? "wrong key: the key file does not open this backup"
                                                          : "wrong password");
  }
  throw ReaderFailure(reader, index, "the backup is encrypted but has no usable key bag");
}

std::vector<BackupFileEntry> ReadIndexEntries(CItunesBackupReader& reader, int index) {
  std::vector<BackupFileEntry> entries;
  const int read = reader.ReadFileIndex(index, entries);
  PrintWarnings(reader, index);
  if (read < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (read != 1) throw ReaderFailure(reader, index, "cannot read the file index");
  return entries;
}

void PrintWarnings(const CItunesBackupReader& reader, int index) {
  for (const std::string& warning : reader.Warnings(index)) Warn(Printable(warning));
}

std::string LayoutName(BackupLayout layout) {
  switch (layout) {
    case BackupLayout::Mbdb: return "Manifest.mbdb";
    case BackupLayout::ManifestDb: return "Manifest.db";
    case BackupLayout::Unknown: break;
  }
  return "";
}

CommandError ReaderFailure(const CItunesBackupReader& reader, int index,
                           const std::string& fallback) {
  RunOutcome outcome = FailureOutcome(reader, index, fallback);
  // The reader's text and the folder come from the backup.
  outcome.message = Printable(outcome.message);
  return CommandError(outcome);
}

}  // namespace sieve::cli
