#include "tools/sieve/password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <cstdio>

#include "sieve/secret.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/terminal_prompt.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

PasswordSource PasswordSourceFrom(const Options& options) {
  PasswordSource source;
  source.file = options.Value(kPasswordFileOption);
  source.fromStdin = options.Has(kPasswordStdinOption);
  source.keyFile = options.Value(kKeyFileOption);
  if (source.file && source.fromStdin) {
    throw UsageError("give either --password-file or --password-stdin, not both");
  }
  if (source.keyFile && (source.file || source.fromStdin)) {
    throw UsageError("give either --key-file or a password option, not both");
  }
  return source;
}

std::string ObtainPassword(const PasswordSource& source) {
  if (source.file) {
    // Read straight into the line that is returned: a stream would keep a copy in its buffer.
    const int fd = ::open(source.file->c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw CommandError(kExitFailure, "cannot read the password file " + Printable(*source.file) + ": a folder");
    }
    if (fd < 0) {
      throw CommandError(kExitFailure,
                         "cannot read the password file " + Printable(*source.file) + ": " + std::strerror(errno));
    }
    std::string password = ReadLineFrom(fd);
    ::close(fd);
    return password;
  }
  if (source.fromStdin) return ReadLineFrom(STDIN_FILENO);
  throw UsageError("the backup is encrypted; give --password-file FILE, --password-stdin or --key-file FILE");
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

FileKey ReadKeyFile(const std::string& path) {
  constexpr std::size_t kDigits = std::tuple_size_v<FileKey> * 2;
  // Read straight into one buffer that is wiped afterwards: no stream keeps a copy.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw CommandError(kExitFailure, "cannot read the key file " + Printable(path) + ": " + std::strerror(errno));
  }
  // A little more than a key and its line end is enough to tell that it is something else.
  std::string text(kDigits + 3, '\0');
  std::size_t filled = 0;
  bool readFailed = false;
  while (filled < text.size()) {
    const ssize_t n = ::read(fd, text.data() + filled, text.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    readFailed = n < 0;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (readFailed) {
    WipeSecret(text);
    throw CommandError(kExitFailure, "cannot read the key file " + Printable(path));
  }
  const bool lineEnd = filled == kDigits || (filled == kDigits + 1 && text[kDigits] == '\n') ||
                       (filled == kDigits + 2 && text[kDigits] == '\r' && text[kDigits + 1] == '\n');
  FileKey key{};
  bool valid = lineEnd;
  for (std::size_t i = 0; valid && i < key.size(); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    valid = high >= 0 && low >= 0;
    key[i] = static_cast<std::uint8_t>(valid ? high * 16 + low : 0);
  }
  WipeSecret(text);
  if (!valid) {
    WipeSecret(key);
    throw CommandError(kExitFailure, "the key file " + Printable(path) +
                                         " does not hold a key (64 hexadecimal digits, as sieve key writes)");
  }
  return key;
}

std::string KeyText(const FileKey& key) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(key.size() * 2);
  for (const std::uint8_t byte : key) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

}  // namespace sieve::cli
