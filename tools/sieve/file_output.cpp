#include "tools/sieve/file_output.h"

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "sieve/private_folder.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

void EnsureOutputFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw CommandError(kExitFailure, Printable(folder) + " is not a folder");
    return;
  }
  // Decrypted content is private: a new output folder is the owner's alone.
  if (::mkdir(folder.c_str(), 0700) != 0) {
    throw CommandError(kExitFailure, "cannot create " + Printable(folder) + ": " + std::strerror(errno));
  }
}

std::string FolderOf(const std::string& target) {
  const std::filesystem::path targetPath(target);
  return targetPath.has_parent_path() ? targetPath.parent_path().string() : ".";
}

std::string TemporaryBeside(const std::string& target, int& fd, PrivatePath& onSignal, std::string& error) {
  const std::string folder = FolderOf(target);
  std::string temporary = folder + "/.sieve-partial-XXXXXX";
  // mkstemp creates the file with mode 0600.
  fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file in " + Printable(folder) + ": " + std::strerror(errno);
    return {};
  }
  onSignal.Register(temporary);
  return temporary;
}

int PutInPlace(const std::string& temporary, const std::string& target, bool replace) {
  const int placed = replace ? ::rename(temporary.c_str(), target.c_str()) : ::link(temporary.c_str(), target.c_str());
  const int error = placed == 0 ? 0 : errno;
  // After a link, or any failure, the temporary name goes.
  if (!replace || placed != 0) ::unlink(temporary.c_str());
  return error;
}

std::string ExistsMessage(const std::string& target) {
  return Printable(target) + " exists; give --force to replace it";
}

namespace {

ExtractOutcome ExtractWith(CItunesBackupReader& reader, int index, const std::string& target, bool replace,
                           const std::function<int(const std::string& temporary)>& extract) {
  ExtractOutcome outcome;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    // Told before the work, not after it.
    outcome.kept = !S_ISDIR(st.st_mode) && !replace;
    if (S_ISDIR(st.st_mode)) outcome.error = Printable(target) + " is a folder";
    if (outcome.kept) outcome.error = ExistsMessage(target);
    if (!outcome.error.empty()) return outcome;
  }
  int fd = -1;
  PrivatePath partial;
  const std::string temporary = TemporaryBeside(target, fd, partial, outcome.error);
  if (temporary.empty()) return outcome;
  ::close(fd);
  outcome.result = extract(temporary);
  if (outcome.result == 1) {
    outcome.note = reader.LastExtractNote(index);
    if (const int error = PutInPlace(temporary, target, replace); error != 0) {
      outcome.result = 0;
      outcome.kept = error == EEXIST;
      outcome.error = outcome.kept ? ExistsMessage(target)
                                      : "cannot write " + Printable(target) + ": " + std::strerror(error);
    }
  } else {
    ::unlink(temporary.c_str());
  }
  partial.Release();
  return outcome;
}

}  // namespace

ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const std::string& domain,
                           const std::string& path, const std::string& target, bool replace) {
  return ExtractWith(reader, index, target, replace, [&](const std::string& temporary) {
    return reader.ExtractFile(index, domain, path, temporary);
  });
}

ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const BackupFileEntry& entry,
                           const std::string& target, bool replace) {
  return ExtractWith(reader, index, target, replace, [&](const std::string& temporary) {
    return reader.ExtractEntry(index, entry, temporary);
  });
}

bool CopyAll(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(to, buffer + written, static_cast<std::size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      written += w;
    }
  }
}

ExtractOutcome ExtractToStandardOutput(CItunesBackupReader& reader, int index, const std::string& domain,
                                       const std::string& path) {
  ExtractOutcome outcome;
  PrivateFolder folder;
  const std::string copy = folder.NewFilePath("extracted");
  if (copy.empty()) {
    outcome.error = "cannot create a private folder for the decrypted copy";
    return outcome;
  }
  outcome.result = reader.ExtractFile(index, domain, path, copy);
  if (outcome.result != 1) return outcome;
  outcome.note = reader.LastExtractNote(index);
  const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
  ::unlink(copy.c_str());
  std::fflush(stdout);
  if (fd < 0 || !CopyAll(fd, STDOUT_FILENO)) {
    outcome.result = 0;
    outcome.error = fd < 0 ? "cannot read the decrypted copy" : "cannot write standard output";
  }
  if (fd >= 0) ::close(fd);
  return outcome;
}

std::string OctalMode(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode));
  return text;
}

}  // namespace sieve::cli
