// Files a device names during a backup (mobilebackup2 sends paths relative to the
// backup folder) are written, moved and removed only below that folder: a path is
// refused when it is absolute, climbs with "..", or holds an empty or "." part, and
// every folder on the way is opened without following a link, so a link planted in
// the backup folder cannot lead a write outside it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace tether {

// The parts of a relative path the device sent, or none when it is not one we accept.
std::vector<std::string> DevicePathParts(std::string_view path);

// Makes `folder` (mode 0700) when it is missing, else removes everything inside it
// without following any link (a link inside goes, its target stays); a `folder` that
// is itself a link or not a folder is refused. 0 or -errno.
int EmptyBackupFolder(const std::string& folder);

// A folder opened for work below it (closed with the object).
class BackupRoot {
 public:
  // Opens `folder` (which must be a real folder, not a link).
  explicit BackupRoot(const std::string& folder);
  ~BackupRoot();
  BackupRoot(const BackupRoot&) = delete;
  BackupRoot& operator=(const BackupRoot&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // Opens (creating, with `mode`) the file the device names, its folders made as
  // needed; a descriptor, or -errno (-EINVAL for a refused path, -ELOOP for a link on
  // the way or at the end). `flags` are open flags such as O_WRONLY | O_TRUNC.
  int OpenFile(std::string_view devicePath, int flags, mode_t mode = 0600) const;
  // Makes the folder the device names (and its parents); 0 or -errno.
  int MakeFolder(std::string_view devicePath) const;
  // Removes what the device names: a file, a link itself (never its target) or a
  // folder with everything in it, without following any link; 0 (also when it was
  // not there) or -errno.
  int Remove(std::string_view devicePath) const;
  // Opens a file that is already there (no folder made, no link followed); a
  // descriptor or -errno.
  int OpenExisting(std::string_view devicePath, int flags) const;
  // Opens the folder the device names ("" or "." is the backup folder itself) for
  // reading; a descriptor or -errno.
  int OpenFolder(std::string_view devicePath) const;
  // Moves `from` to `to` (its folders made as needed), replacing what `to` held; 0 or
  // -errno.
  int Rename(std::string_view from, std::string_view to) const;
  // Copies a file, or a folder with everything in it, to `to` (replaced); links are
  // skipped, never followed; 0 or -errno.
  int Copy(std::string_view from, std::string_view to) const;

 private:
  // The folder holding the path's last part (made when `create`), or -errno; `last`
  // gets that part.
  int ParentOf(std::string_view devicePath, bool create, std::string& last) const;
  // Runs `work` on the folders holding `from` and `to` and the names in them, after
  // removing what is at `to`; 0 or -errno.
  using EntryWork = int (*)(int fromFolder, const char* fromName, int toFolder, const char* toName);
  int Replace(std::string_view from, std::string_view to, EntryWork work) const;

  int fd_ = -1;
};

}  // namespace tether
