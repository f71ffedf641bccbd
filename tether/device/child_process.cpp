#include "tether/device/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tether {

namespace {

constexpr int kPollMs = 100;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    spawnError_ = errno;
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    spawnError_ = spawned;
    return;
  }
  pid_ = pid;
  out_ = pipeFds[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  if (out_ >= 0) ::close(out_);
}

void ChildProcess::ReadLines(const std::function<void(std::string_view)>& take, const std::function<bool()>& stop) {
  if (out_ < 0) return;
  std::string pending;
  char buffer[4096];
  for (;;) {
    if (stop && stop()) {
      if (pid_ > 0) ::kill(pid_, SIGKILL);
      return;
    }
    pollfd p{out_, POLLIN, 0};
    const int ready = ::poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t i = 0; i < pending.size(); ++i) {
      if (pending[i] != '\n' && pending[i] != '\r') continue;
      if (i > start) take(std::string_view(pending).substr(start, i - start));
      start = i + 1;
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) take(pending);
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  pid_t done;
  while ((done = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (done < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::optional<std::string> FirstOutputLine(const std::string& program, const std::vector<std::string>& arguments,
                                           int* spawnError) {
  ChildProcess child(program, arguments);
  if (spawnError != nullptr) *spawnError = child.SpawnError();
  if (!child.Started()) return std::nullopt;
  std::string first;
  child.ReadLines([&](std::string_view line) {
    if (first.empty()) first = std::string(Trimmed(line));
  });
  if (child.Wait() != 0 || first.empty()) return std::nullopt;
  return first;
}

}  // namespace tether
