// `unpack`: every file of a backup, decrypted, into DIR/domain/path with its
// original modification time - a plain copy that other tools can read.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "sieve/path_safety.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/file_output.h"
#include "tools/sieve/options.h"
#include "tools/sieve/progress.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {
namespace fs = std::filesystem;

constexpr std::uint32_t kTypeMask = 0xF000;
constexpr std::uint32_t kTypeLink = 0xA000;

struct UnpackCounts {
  std::size_t written = 0;
  std::size_t existing = 0;  // kept: replaced only with --force
  std::size_t unsafe = 0;
  std::size_t links = 0;
  std::size_t missing = 0;
  std::size_t failed = 0;
};

// Domain and path become one relative path; a domain is one folder name.
bool SafeTarget(const BackupFileEntry& e) {
  if (!IsSafeRelativePath(e.Domain) || e.Domain.find('/') != std::string::npos) return false;
  if (e.Path.empty()) return e.IsDirectory;  // the domain's own folder
  return IsSafeRelativePath(e.Path);
}

void SetModifiedTime(const std::string& path, std::uint32_t seconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    Warn("cannot set the time of " + Printable(path) + ": " + std::strerror(errno));
  }
}

class Unpacker {
 public:
  Unpacker(CItunesBackupReader& reader, int index, std::string root, bool replace)
      : reader_(reader), index_(index), root_(std::move(root)), replace_(replace) {}

  void Entry(const BackupFileEntry& e) {
    const std::string shown = Printable(e.Domain + "/" + e.Path);
    if (!SafeTarget(e)) {
      Warn("skipped an entry with an unsafe name: " + shown);
      ++counts_.unsafe;
      return;
    }
    // Links are neither followed nor recreated: the copy stays inside its folder.
    if ((e.Mode & kTypeMask) == kTypeLink || !e.LinkTarget.empty()) {
      ++counts_.links;
      return;
    }
    const std::string target = e.Path.empty() ? root_ + "/" + e.Domain
                                              : root_ + "/" + e.Domain + "/" + e.Path;
    if (e.IsDirectory) {
      MakeFolders(target, shown);
      return;
    }
    // Partial and incremental backups list files they do not hold: nothing to copy, nothing broken.
    if (e.StoredPath.empty()) {
      Warn("skipped " + shown + ": the backup does not hold its stored file");
      ++counts_.missing;
      return;
    }
    if (!MakeFolders(fs::path(target).parent_path().string(), shown)) return;
    const ExtractOutcome outcome = ExtractInto(reader_, index_, e, target, replace_);
    if (outcome.kept) {
      ++counts_.existing;
      return;
    }
    if (outcome.result != 1) {
      const std::string why = !outcome.error.empty() ? outcome.error : reader_.LastErrorText(index_);
      Warn("cannot unpack " + shown + (why.empty() ? "" : ": " + Printable(why)));
      ++counts_.failed;
      return;
    }
    if (!outcome.note.empty()) Warn(shown + ": " + Printable(outcome.note));
    Detail("unpacked " + shown);
    // Readable by the owner whatever the index says; never executable or set-id.
    ::chmod(target.c_str(), static_cast<mode_t>((e.Mode & 0644) | 0600));
    SetModifiedTime(target, e.ModifiedTime);
    ++counts_.written;
  }

  // Writing files into the folders changed their times: they are set once everything is
  // written, in a pass of their own over the index (setting a folder's time changes no
  // other folder's), so that no list of folders grows with the index.
  void FolderTime(const BackupFileEntry& e) const {
    if (!e.IsDirectory || !SafeTarget(e) || (e.Mode & kTypeMask) == kTypeLink || !e.LinkTarget.empty()) return;
    const std::string target = e.Path.empty() ? root_ + "/" + e.Domain : root_ + "/" + e.Domain + "/" + e.Path;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) SetModifiedTime(target, e.ModifiedTime);
  }

  const UnpackCounts& Counts() const { return counts_; }

 private:
  bool MakeFolders(const std::string& folder, const std::string& shown) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
      Warn("cannot create the folder for " + shown + ": " + (ec ? ec.message() : "not a folder"));
      ++counts_.failed;
      return false;
    }
    return true;
  }

  CItunesBackupReader& reader_;
  int index_;
  std::string root_;
  bool replace_;
  UnpackCounts counts_;
};

bool Copied(const BackupFileEntry& e) { return !e.IsDirectory && !e.StoredPath.empty(); }

// Reads the index through `each`, entry by entry; throws as a listing would on failure.
void ForEachEntry(CItunesBackupReader& reader, int index, const std::function<void(const BackupFileEntry&)>& each) {
  const int read = reader.ForEachFile(index, [&](const BackupFileEntry& e) {
    each(e);
    return true;
  });
  if (read < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (read != 1) throw ReaderFailure(reader, index, "cannot read the file index");
}

std::string Summary(const UnpackCounts& c) {
  return "written " + std::to_string(c.written) + ", skipped " +
         std::to_string(c.unsafe + c.links + c.missing + c.existing) + " (" + std::to_string(c.unsafe) +
         " unsafe names, " + std::to_string(c.links) + " links, " + std::to_string(c.missing) +
         " not in the backup, " + std::to_string(c.existing) + " existing), failed " + std::to_string(c.failed);
}

}  // namespace

int RunUnpack(const Arguments& args) {
  const Options options(args, {"--force", kPasswordStdinOption},
                        {"-o", "--output", "--domain", kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(1, kUnpackUsage);
  const auto root = options.Value("-o") ? options.Value("-o") : options.Value("--output");
  if (!root || root->empty()) {
    throw UsageError("unpack needs -o DIR; usage: " + std::string(kUnpackUsage));
  }
  const auto domain = options.Value("--domain");
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  Unlock(reader, index, password);

  // The index is read three times and never held, so that memory stays flat however long it
  // is: for what the progress bar measures (the bytes of the files to copy), to unpack, and
  // for the folders' times.
  std::uint64_t bytes = 0;
  std::size_t entryCount = 0;
  ForEachEntry(reader, index, [&](const BackupFileEntry& e) {
    ++entryCount;
    if ((!domain || e.Domain == *domain) && Copied(e)) bytes += e.Size;
  });
  PrintWarnings(reader, index);
  Detail("the index holds " + std::to_string(entryCount) + " entries");
  const ReaderError indexState = reader.LastError(index);
  const CommandError indexFailure = ReaderFailure(reader, index, "the file index is damaged");

  EnsureOutputFolder(*root);
  Unpacker unpacker(reader, index, *root, options.Has("--force"));
  const auto started = std::chrono::steady_clock::now();
  const double total = static_cast<double>(bytes);
  double copied = 0;
  std::size_t matched = 0;
  {
    ProgressBar bar(stderr);
    ForEachEntry(reader, index, [&](const BackupFileEntry& e) {
      if (domain && e.Domain != *domain) return;
      ++matched;
      unpacker.Entry(e);
      if (Copied(e)) copied += static_cast<double>(e.Size);
      bar.Update(total > 0 ? static_cast<float>(100.0 * copied / total) : 100.0f,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    });
  }
  ForEachEntry(reader, index, [&](const BackupFileEntry& e) {
    if (!domain || e.Domain == *domain) unpacker.FolderTime(e);
  });

  const UnpackCounts& c = unpacker.Counts();
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, " in %.2f s",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  Note(Summary(c) + seconds);
  if (indexState != ReaderError::None) throw indexFailure;
  if (domain && matched == 0) {
    throw CommandError(kExitFailure, "no entries in domain " + Printable(*domain));
  }
  if (c.failed > 0) {
    throw CommandError(kExitFailure, std::to_string(c.failed) + " entries could not be unpacked");
  }
  if (c.existing > 0) {
    throw CommandError(kExitFailure, std::to_string(c.existing) +
                                         " files exist in the folder and were kept; give --force to replace them");
  }
  return kExitOk;
}

}  // namespace sieve::cli
