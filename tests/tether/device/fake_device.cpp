#include "tether/device/fake_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace tether::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(5);

std::string ReadIfThere(const std::string& path) {
  try {
    return sieve::test::ReadFile(path);
  } catch (const std::exception&) {
    return {};
  }
}

// Waits for the child up to `timeout`; true when it was reaped.
bool Reap(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

FakeDevice::FakeDevice(const std::string& scenarioJson) : socket_(folder_.Join("usbmuxd.sock")) {
  if (const char* old = std::getenv("USBMUXD_SOCKET_ADDRESS")) {
    hadAddress_ = true;
    oldAddress_ = old;
  }
  Start(scenarioJson);
  if (ready_) ::setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket_).c_str(), 1);
}

FakeDevice::~FakeDevice() {
  Stop();
  if (hadAddress_) {
    ::setenv("USBMUXD_SOCKET_ADDRESS", oldAddress_.c_str(), 1);
  } else {
    ::unsetenv("USBMUXD_SOCKET_ADDRESS");
  }
}

void FakeDevice::Start(const std::string& scenarioJson) {
  const std::string scenario = folder_.Join("scenario.json");
  sieve::test::WriteFile(scenario, scenarioJson);

  // A socket pair for its standard input: a write to a fake that died fails with
  // EPIPE instead of killing the test with SIGPIPE.
  int in[2];
  int out[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    failure_ = "cannot make the fake's pipes";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[1], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const std::string errors = folder_.Join("fake.stderr");
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> words = {PYTHON3_EXECUTABLE, FAKEDEVICE_SCRIPT, "--socket", socket_,
                                    "--scenario", scenario, "--log", folder_.Join("fake.log")};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[1]);
  ::close(out[1]);
  input_ = in[0];
  output_ = out[0];
  if (spawned != 0) {
    pid_ = -1;
    failure_ = "cannot start " PYTHON3_EXECUTABLE;
    return;
  }

  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (!ready_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd wait{output_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) == 0) {
      failure_ = "the fake device did not get ready in time\n" + Log();
      return;
    }
    char c = 0;
    const ssize_t got = ::read(output_, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failure_ = "the fake device ended before it was ready\n" + Log();
      return;
    }
    if (c != '\n') {
      line += c;
    } else if (line == "ready") {
      ready_ = true;
    } else {
      line.clear();
    }
  }
}

bool FakeDevice::Send(const std::string& line) {
  if (input_ < 0) return false;
  const std::string text = line + "\n";
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(input_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void FakeDevice::Stop() {
  // Closing its standard input ends it; a fake that hangs is ended by signals.
  if (input_ >= 0) ::close(input_);
  input_ = -1;
  if (pid_ > 0 && !Reap(pid_, kStopTimeout)) {
    ::kill(pid_, SIGTERM);
    if (!Reap(pid_, kStopTimeout)) {
      ::kill(pid_, SIGKILL);
      Reap(pid_, kStopTimeout);
    }
  }
  pid_ = -1;
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

std::string FakeDevice::Log() const {
  return ReadIfThere(folder_.Join("fake.log")) + ReadIfThere(folder_.Join("fake.stderr"));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace tether::test
