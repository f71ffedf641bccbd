#include "tools/sieve/terminal_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "sieve/secret.h"

namespace sieve::cli {
namespace {

// Terminal settings to put back when the prompt ends, also on Ctrl-C.
struct termios savedTerminal;
volatile std::sig_atomic_t echoHidden = 0;

void RestoreEchoAndExit(int signal) {
  if (echoHidden != 0) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

std::string ReadLineFrom(int fd) {
  std::string line;
  line.reserve(256);
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    if (line.size() == line.capacity()) {
      // Grow by hand: a reallocation would leave the first part behind in freed memory.
      std::string bigger;
      bigger.reserve(line.capacity() * 2);
      bigger.assign(line);
      WipeSecret(line);
      line.swap(bigger);
    }
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string PromptWithoutEcho(std::string_view prompt) {
  const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
  void (*previousInt)(int) = SIG_DFL;
  void (*previousTerm)(int) = SIG_DFL;
  if (haveTerminal) {
    struct termios quiet = savedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    previousInt = std::signal(SIGINT, RestoreEchoAndExit);
    previousTerm = std::signal(SIGTERM, RestoreEchoAndExit);
    echoHidden = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 ? 1 : 0;
  }
  // Only now: switching echo off flushes pending input, which must not hold the answer.
  std::fprintf(stderr, "%.*s", static_cast<int>(prompt.size()), prompt.data());
  std::fflush(stderr);
  std::string password = ReadLineFrom(STDIN_FILENO);
  if (echoHidden != 0) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    echoHidden = 0;
  }
  if (haveTerminal) {
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
  }
  return password;
}

int AskForPassword(std::string_view program, std::string_view backupName,
                   const std::function<int(std::string& password)>& check) {
  // The name comes from the backup: no control character of it reaches the terminal.
  std::string prompt = "Password for ";
  for (const char c : backupName) {
    const auto byte = static_cast<unsigned char>(c);
    prompt += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  prompt += ": ";
  int answer = -1;
  for (int attempt = 1; attempt <= kPasswordTries; ++attempt) {
    std::string password = PromptWithoutEcho(prompt);
    answer = check(password);
    WipeSecret(password);
    if (answer != -1 || attempt == kPasswordTries) break;
    std::fprintf(stderr, "%.*s: wrong password, try again\n", static_cast<int>(program.size()), program.data());
  }
  return answer;
}

}  // namespace sieve::cli
