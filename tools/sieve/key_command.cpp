// `key`: derives the key of an encrypted backup's password once and saves it,
// so that later commands open the backup with --key-file without the slow
// derivation. The key opens the backup as the password does: the file is the
// owner's alone.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "sieve/itunes_backup_reader.h"
#include "sieve/secret.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/file_output.h"
#include "tools/sieve/options.h"
#include "tools/sieve/password.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

// Refuses what would fail or overwrite at the end, before the user waits for the derivation.
void CheckTarget(const std::string& target, bool replace) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw CommandError(kExitFailure, Printable(target) + " is a folder");
    if (!replace) throw CommandError(kExitFailure, ExistsMessage(target));
  }
  const std::string folder = FolderOf(target);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw CommandError(kExitFailure, "no folder " + Printable(folder) + " for " + Printable(target));
  }
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the whole text under a temporary name, then puts it in place (PutInPlace):
// no partial key file is ever left under `target`.
void WriteKeyFile(const std::string& target, std::string& text, bool replace) {
  std::string error;
  int fd = -1;
  PrivatePath partial;
  const std::string temporary = TemporaryBeside(target, fd, partial, error);
  if (temporary.empty()) {
    WipeSecret(text);
    throw CommandError(kExitFailure, error);
  }
  const bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  int savedErrno = errno;
  WipeSecret(text);
  const bool closed = ::close(fd) == 0;
  if (written && !closed) savedErrno = errno;
  const bool complete = written && closed;
  if (complete) {
    savedErrno = PutInPlace(temporary, target, replace);
  } else {
    ::unlink(temporary.c_str());
  }
  partial.Release();
  if (complete && savedErrno == 0) return;
  if (complete && savedErrno == EEXIST) throw CommandError(kExitFailure, ExistsMessage(target));
  throw CommandError(kExitFailure,
                     "cannot write the key file " + Printable(target) + ": " + std::strerror(savedErrno));
}

}  // namespace

int RunKey(const Arguments& args) {
  const Options options(args, {"--force", kPasswordStdinOption}, {"-o", "--output", kPasswordFileOption});
  options.RequirePositional(1, kKeyUsage);
  const auto target = options.Value("-o") ? options.Value("-o") : options.Value("--output");
  if (!target || target->empty()) throw UsageError("key needs -o FILE; usage: " + std::string(kKeyUsage));
  // A key on standard output lands in a terminal's scrollback or a pipe's logs:
  // it only ever goes into a file of its own, made private before it is written.
  if (*target == "-") {
    throw UsageError("key writes only to a file (mode 0600), never to standard output; give -o FILE");
  }
  const bool replace = options.Has("--force");
  const PasswordSource password = PasswordSourceFrom(options);
  CheckTarget(*target, replace);

  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  if (reader.GetIsEncrypt(index) == 0) {
    throw CommandError(kExitFailure, Printable(reader.BackupFolder(index)) + " is not encrypted; it has no key");
  }
  Unlock(reader, index, password);
  FileKey key{};
  if (reader.GetDerivedKey(index, key) != 1) throw ReaderFailure(reader, index, "the key cannot be derived");
  std::string text = KeyText(key);
  WipeSecret(key);
  text += '\n';
  WriteKeyFile(*target, text, replace);
  return kExitOk;
}

}  // namespace sieve::cli
