#include "tools/sieve/file_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/sieve/text_output.h"

namespace sieve::cli {

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

ExtractOutcome ExtractInto(CItunesBackupReader& reader, int index, const std::string& domain,
                           const std::string& path, const std::string& target) {
  ExtractOutcome outcome;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    outcome.error = Printable(target) + " is a folder";
    return outcome;
  }
  int fd = -1;
  PrivatePath partial;
  const std::string temporary = TemporaryBeside(target, fd, partial, outcome.error);
  if (temporary.empty()) return outcome;
  ::close(fd);
  outcome.result = reader.ExtractFile(index, domain, path, temporary);
  if (outcome.result == 1) outcome.note = reader.LastExtractNote(index);
  if (outcome.result == 1 && ::rename(temporary.c_str(), target.c_str()) != 0) {
    outcome.result = 0;
    outcome.error = "cannot write " + Printable(target) + ": " + std::strerror(errno);
  }
  if (outcome.result != 1) ::unlink(temporary.c_str());
  partial.Release();
  return outcome;
}

std::string OctalMode(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode));
  return text;
}

}  // namespace sieve::cli
