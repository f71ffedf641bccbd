#include "tools/sieve/password.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "tools/sieve/exit_codes.h"

namespace sieve::cli {
namespace {

// Line read one byte at a time, so that nothing after the first line is consumed.
std::string ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Terminal settings to put back when the prompt ends, also on Ctrl-C.
struct termios savedTerminal;
volatile std::sig_atomic_t echoHidden = 0;

void RestoreEchoAndExit(int signal) {
  if (echoHidden != 0) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string PromptWithoutEcho(std::string_view backupName) {
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
  std::fprintf(stderr, "Password for %.*s: ", static_cast<int>(backupName.size()), backupName.data());
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

}  // namespace

PasswordSource PasswordSourceFrom(const Options& options) {
  PasswordSource source;
  source.file = options.Value(kPasswordFileOption);
  source.fromStdin = options.Has(kPasswordStdinOption);
  if (source.file && source.fromStdin) {
    throw UsageError("give either --password-file or --password-stdin, not both");
  }
  return source;
}

std::string FirstLine(std::string_view text) {
  std::string line(text.substr(0, text.find('\n')));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ObtainPassword(const PasswordSource& source, std::string_view backupName) {
  if (source.file) {
    std::ifstream in(*source.file, std::ios::binary);
    std::string line;
    if (!in || (!std::getline(in, line) && !in.eof())) {
      throw CommandError(kExitFailure, "cannot read the password file " + *source.file);
    }
    std::string password = FirstLine(line);
    Wipe(line);
    return password;
  }
  if (source.fromStdin) return ReadLineFrom(STDIN_FILENO);
  if (::isatty(STDIN_FILENO) == 1) return PromptWithoutEcho(backupName);
  throw UsageError("the backup is encrypted; give --password-file FILE or --password-stdin");
}

void Wipe(std::string& secret) {
  volatile char* bytes = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

}  // namespace sieve::cli
