#include "tether/device/dl_loop.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tether/device/device_paths.h"
#include "tether/device/file_streams.h"

#include "tether/plist.h"

namespace tether {

namespace {

// Seconds between 1970 and 2001, where plist dates count from.
constexpr std::int64_t kAppleEpoch = 978307200;

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// The status reply of a file-system operation that gave 0 or -errno.
bool Reply(DlLink& link, int result) {
  if (result == 0) return link.Status(0);
  return link.Status(DlErrorFromErrno(-result), result == -EINVAL ? "Refused path" : std::strerror(-result));
}

plist_t FolderContents(const BackupRoot& root, const std::string& path, int& result) {
  plist_t dict = plist_new_dict();
  const int fd = root.OpenFolder(path);
  if (fd < 0) {
    result = fd;
    return dict;
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    result = -errno;
    ::close(fd);
    return dict;
  }
  result = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (name == "." || name == ".." || ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    const char* type = S_ISDIR(st.st_mode) ? "DLFileTypeDirectory"
                       : S_ISREG(st.st_mode) ? "DLFileTypeRegular"
                                             : "DLFileTypeUnknown";
    plist_t item = plist_new_dict();
    plist_dict_set_item(item, "DLFileType", plist_new_string(type));
    plist_dict_set_item(item, "DLFileSize", plist_new_uint(static_cast<std::uint64_t>(st.st_size)));
    plist_dict_set_item(item, "DLFileModificationDate",
                        plist_new_date(static_cast<std::int32_t>(st.st_mtime - kAppleEpoch), 0));
    plist_dict_set_item(dict, name.c_str(), item);
  }
  ::closedir(dir);
  return dict;
}

// Moves each old → new pair of the dictionary; the first failure is the reply.
int MoveItems(const BackupRoot& root, plist_t pairs) {
  if (pairs == nullptr || plist_get_node_type(pairs) != PLIST_DICT) return -EINVAL;
  int result = 0;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(pairs, &it);
  for (;;) {
    char* from = nullptr;
    plist_t to = nullptr;
    plist_dict_next_item(pairs, it, &from, &to);
    if (from == nullptr) break;
    std::string target;
    const int moved = PlistStringValue(to, target) ? root.Rename(from, target) : -EINVAL;
    if (moved != 0 && result == 0) result = moved;
    std::free(from);
  }
  std::free(it);
  return result;
}

DeviceError DeviceVerdict(plist_t message) {
  plist_t info = DlItem(message, 1);
  std::int64_t code = 0;
  std::string text;
  if (info != nullptr && plist_get_node_type(info) == PLIST_DICT) {
    plist_t node = plist_dict_get_item(info, "ErrorCode");
    if (node != nullptr && plist_get_node_type(node) == PLIST_UINT) {
      std::uint64_t value = 0;
      plist_get_uint_val(node, &value);
      code = static_cast<std::int64_t>(value);
    }
    node = plist_dict_get_item(info, "ErrorDescription");
    PlistStringValue(node, text);
  }
  if (code == 0) return {};
  if (text.empty()) text = "The device ended the backup with error " + std::to_string(code) + ".";
  return {DeviceErrorKind::DeviceReported, static_cast<int>(code), text};
}

}  // namespace

DeviceError RunDlLoop(DlLink& link, const std::string& folder, const DlLoopHooks& hooks) {
  const BackupRoot root(folder);
  if (!root.IsOpen()) {
    return {DeviceErrorKind::LocalIo, -errno, "The backup folder " + folder + " cannot be opened."};
  }
  const DeviceError broken{DeviceErrorKind::Disconnected, 0, "The connection to the device broke."};
  const auto progress = [&](plist_t message, std::uint32_t index) {
    const double percent = DlProgress(message, index);
    if (percent >= 0 && hooks.progress) hooks.progress(percent);
  };
  for (;;) {
    if (hooks.stopRequested) {
      if (DeviceError stop = hooks.stopRequested()) return stop;
    }
    plist_t raw = nullptr;
    std::string name;
    const DlLink::Receive received = link.Next(raw, name);
    if (received == DlLink::Receive::Timeout) continue;
    if (received == DlLink::Receive::Broken) return broken;
    const PlistPtr owner(raw);
    plist_t message = raw;
    bool sent = true;
    if (name == "DLMessageDownloadFiles") {
      progress(message, 3);
      if (DeviceError error = SendFiles(link, root, DlStrings(message, 1))) return error;
    } else if (name == "DLMessageUploadFiles") {
      progress(message, 2);
      if (DeviceError error = ReceiveFiles(link, root, folder, DlUint(message, 3), nullptr)) return error;
    } else if (name == "DLMessageGetFreeDiskSpace") {
      const std::int64_t free = FreeBytes(folder);
      sent = free >= 0 ? link.Status(0, {}, plist_new_uint(static_cast<std::uint64_t>(free)))
                       : link.Status(DlErrorFromErrno(errno), std::strerror(errno));
    } else if (name == "DLContentsOfDirectory") {
      int result = 0;
      plist_t contents = FolderContents(root, DlString(message, 1), result);
      if (result == 0) {
        sent = link.Status(0, {}, contents);
      } else {
        plist_free(contents);
        sent = Reply(link, result);
      }
    } else if (name == "DLMessageCreateDirectory") {
      sent = Reply(link, root.MakeFolder(DlString(message, 1)));
    } else if (name == "DLMessageMoveItems" || name == "DLMessageMoveFiles") {
      progress(message, 3);
      sent = Reply(link, MoveItems(root, DlItem(message, 1)));
    } else if (name == "DLMessageRemoveItems" || name == "DLMessageRemoveFiles") {
      progress(message, 3);
      int result = 0;
      for (const std::string& path : DlStrings(message, 1)) {
        const int removed = root.Remove(path);
        if (removed != 0 && result == 0) result = removed;
      }
      sent = Reply(link, result);
    } else if (name == "DLMessageCopyItem") {
      sent = Reply(link, root.Copy(DlString(message, 1), DlString(message, 2)));
    } else if (name == "DLMessageProcessMessage") {
      return DeviceVerdict(message);
    } else if (name == "DLMessageDisconnect") {
      return {};
    } else {
      // DLMessagePurgeDiskSpace and anything newer: we cannot do it, and say so.
      sent = link.Status(-1, "Operation not supported");
    }
    if (!sent) return broken;
  }
}

}  // namespace tether
