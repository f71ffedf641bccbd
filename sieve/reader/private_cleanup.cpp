#include "sieve/private_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace sieve {
namespace {

// A signal handler may not allocate or lock, so the paths live in fixed buffers whose
// state says "published" only after the path is complete.
constexpr int kSlots = 64;
constexpr std::size_t kPathMax = 4096;
enum SlotState : int { kFree, kFilling, kPublished };
struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathMax];
};
Slot g_slots[kSlots];

constexpr int kDepthMax = 16;

// Passes over a folder's entries before giving up on removing it: the scan's other threads
// run on while a signal's handler removes their folder and may create a file in it meanwhile;
// once the folder itself is gone, nothing can be created in it any more.
constexpr int kFolderPasses = 64;

// Removes what is at dirfd/name without following links: unlinkat, or for a folder
// its entries first (read with the raw getdents64 call, which allocates nothing).
void RemoveAt(int dirfd, const char* name, int depth) {
  if (::unlinkat(dirfd, name, 0) == 0 || errno == ENOENT) return;
  if (errno != EISDIR && errno != EPERM) return;
  if (depth >= kDepthMax) return;
  for (int pass = 0; pass < kFolderPasses; ++pass) {
    const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        // struct linux_dirent64: d_ino (8), d_off (8), d_reclen (2), d_type (1), d_name.
        unsigned short length = 0;
        std::memcpy(&length, buffer + at + 16, sizeof length);
        const char* entry = buffer + at + 19;
        if (length == 0) break;
        if (!(entry[0] == '.' && (entry[1] == '\0' || (entry[1] == '.' && entry[2] == '\0')))) {
          RemoveAt(fd, entry, depth + 1);
        }
        at += length;
      }
    }
    ::close(fd);
    if (::unlinkat(dirfd, name, AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) return;
  }
}

void OnSignal(int signal) {
  const int saved = errno;
  RemoveRegisteredPrivateData();
  errno = saved;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return (base != nullptr && *base != '\0') ? base : "/tmp";
}

}  // namespace

void RemoveRegisteredPrivateData() {
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) == kPublished) RemoveAt(AT_FDCWD, slot.path, 0);
  }
}

void RemovePrivateDataOnSignal() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int RemoveStalePrivateFolders() {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code ec;
  const uid_t me = ::getuid();
  for (fs::directory_iterator it(TempBase(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // "sieve-<pid>-XXXXXX": the pid says whose it is.
    if (name.rfind("sieve-", 0) != 0) continue;
    char* after = nullptr;
    const long pid = std::strtol(name.c_str() + 6, &after, 10);
    if (pid <= 0 || after == nullptr || *after != '-') continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != me) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
    RemoveAt(AT_FDCWD, it->path().c_str(), 0);
    ++removed;
  }
  return removed;
}

bool PrivatePath::Register(const std::string& path) {
  Release();
  if (path.empty() || path.size() >= kPathMax) return false;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(kPublished, std::memory_order_release);
    slot_ = i;
    return true;
  }
  return false;
}

void PrivatePath::Release() {
  if (slot_ < 0) return;
  g_slots[slot_].state.store(kFree, std::memory_order_release);
  slot_ = -1;
}

}  // namespace sieve
