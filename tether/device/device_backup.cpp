#include "tether/device/device_backup.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "tether/device/device_paths.h"
#include "tether/device/helper_lines.h"

extern char** environ;

namespace tether {

namespace {

constexpr char kHelperName[] = "quarry-backup-helper";
// What a stopped helper gets to let the device go before it is killed.
constexpr auto kStopGrace = std::chrono::seconds(2);
// A line longer than this is not one of ours; it is dropped.
constexpr std::size_t kMaxLine = 64 * 1024;
// Progress stays below this until the helper said "done".
constexpr double kBelowDone = 99.99;

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string OwnFolder() {
  char path[PATH_MAX];
  const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (size <= 0) return {};
  const std::string self(path, static_cast<std::size_t>(size));
  return self.substr(0, self.rfind('/'));
}

}  // namespace

int EmptyDeviceBackupFolder(const std::string& folder, DeviceError& error) {
  const int result = EmptyBackupFolder(folder);
  if (result == 0) {
    error = {};
    return 0;
  }
  error = {DeviceErrorKind::LocalIo, result,
           "The backup folder " + folder + " cannot be emptied: " + std::strerror(-result)};
  return ErrorNumber(error);
}

CDeviceBackup::CDeviceBackup() = default;

CDeviceBackup::~CDeviceBackup() {
  StopDeviceBackup();
  Reap();
}

void CDeviceBackup::SetUdid(std::string udid) {
  const std::lock_guard<std::mutex> lock(mutex_);
  udid_ = std::move(udid);
}

void CDeviceBackup::SetHelperPath(std::string path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  helperPath_ = std::move(path);
}

std::string CDeviceBackup::FindHelper() {
  if (const char* set = std::getenv("QUARRY_BACKUP_HELPER"); set != nullptr && *set != '\0') return set;
  const std::string own = OwnFolder();
  if (own.empty()) return {};
  for (const std::string& candidate : {own + "/" + kHelperName, own + "/../libexec/quarry/" + kHelperName}) {
    if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

int CDeviceBackup::StartBackup(const std::string& folder) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return ErrorNumber({DeviceErrorKind::Failed, 0, "A backup is already running."});
  }
  // A finished run's reader is joined before a new one starts.
  Reap();
  std::unique_lock<std::mutex> lock(mutex_);
  progress_ = 0;
  done_ = false;
  passcode_ = false;
  stopRequested_ = false;
  exited_ = false;
  backupDir_.clear();
  doneDir_.clear();
  note_.clear();
  error_ = {};
  struct stat st {};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error_ = {DeviceErrorKind::LocalIo, 0, "The backup folder " + folder + " does not exist."};
    return ErrorNumber(error_);
  }
  const std::string helper = helperPath_.empty() ? FindHelper() : helperPath_;
  if (helper.empty() || !IsExecutable(helper)) {
    error_ = {DeviceErrorKind::Failed, 0,
              std::string("The backup program ") + (helper.empty() ? kHelperName : helper) + " was not found."};
    return ErrorNumber(error_);
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = {DeviceErrorKind::Failed, -errno, std::string("Cannot start the backup: ") + std::strerror(errno)};
    return ErrorNumber(error_);
  }
  std::vector<std::string> words = {helper, "--folder", folder};
  if (!udid_.empty()) {
    words.emplace_back("--udid");
    words.push_back(udid_);
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // The helper takes the default signal handling whatever ours is.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGTERM);
  ::sigaddset(&defaults, SIGINT);
  ::sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  ::sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    error_ = {DeviceErrorKind::Failed, -spawned,
              "Cannot start " + helper + ": " + std::strerror(spawned)};
    return ErrorNumber(error_);
  }
  pid_ = pid;
  running_ = true;
  reader_ = std::thread(&CDeviceBackup::ReadLines, this, pipeFds[0]);
  return 0;
}

void CDeviceBackup::ReadLines(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::optional<HelperEvent> event =
          ParseHelperLine(std::string_view(pending).substr(start, end - start));
      if (!event) continue;
      const std::lock_guard<std::mutex> lock(mutex_);
      switch (event->type) {
        case HelperEvent::Type::Progress:
          // The bar never runs backwards, and 100 belongs to the end.
          if (event->progress > progress_) progress_ = std::min(event->progress, kBelowDone);
          break;
        case HelperEvent::Type::Passcode: passcode_ = event->passcode; break;
        case HelperEvent::Type::Waiting: note_ = event->text; break;
        case HelperEvent::Type::Error:
          if (!error_) error_ = event->error;
          break;
        case HelperEvent::Type::Done: doneDir_ = event->text; break;
      }
    }
    pending.erase(0, start);
    if (pending.size() > kMaxLine) pending.clear();
  }
  ::close(fd);
  // Wait for the end without reaping, so that a stop meanwhile cannot hit another
  // process that took the same id.
  siginfo_t info {};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    exited_ = true;
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Ended(status);
}

void CDeviceBackup::Ended(int waitStatus) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool exitedWell = WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
  if (stopRequested_) {
    error_ = {DeviceErrorKind::Cancelled, 0, "The backup was stopped."};
  } else if (exitedWell && !doneDir_.empty() && !error_) {
    done_ = true;
    backupDir_ = doneDir_;
    progress_ = 100.0;
  } else if (!error_) {
    const std::string how = WIFSIGNALED(waitStatus)
                                ? "was ended by signal " + std::to_string(WTERMSIG(waitStatus))
                                : "exited with status " + std::to_string(WEXITSTATUS(waitStatus));
    error_ = {DeviceErrorKind::Failed, 0, "The backup program " + how + " without finishing the backup."};
  }
  passcode_ = false;
  running_ = false;
  pid_ = -1;
  endedSignal_.notify_all();
}

void CDeviceBackup::Reap() {
  if (reader_.joinable()) reader_.join();
}

double CDeviceBackup::GetBackProgress() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return done_ ? 100.0 : progress_;
}

void CDeviceBackup::WaitFinish() {
  std::unique_lock<std::mutex> lock(mutex_);
  endedSignal_.wait(lock, [this] { return !running_; });
}

std::string CDeviceBackup::GetDeviceBackDir() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return backupDir_;
}

int CDeviceBackup::GetErrorCode() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return ErrorNumber(error_);
}

std::string CDeviceBackup::GetErrorDsp() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return error_.text;
}

DeviceError CDeviceBackup::GetError() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool CDeviceBackup::PasscodeRequested() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return passcode_;
}

std::string CDeviceBackup::WaitingNote() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return note_;
}

void CDeviceBackup::StopDeviceBackup() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!running_) return;
  stopRequested_ = true;
  if (!exited_) ::kill(pid_, SIGTERM);
  if (!endedSignal_.wait_for(lock, kStopGrace, [this] { return !running_; })) {
    if (!exited_) ::kill(pid_, SIGKILL);
    endedSignal_.wait(lock, [this] { return !running_; });
  }
}

}  // namespace tether
