#include "support/test_support.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <ctime>

extern char** environ;

namespace sieve::test {
namespace fs = std::filesystem;

namespace {

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// An unnamed temporary file, closed with the object.
struct ScratchFile {
  ScratchFile() : file(std::tmpfile()) {
    if (file == nullptr) throw SystemError("tmpfile");
  }
  ~ScratchFile() { std::fclose(file); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  int Fd() const { return fileno(file); }
  std::string Contents() const {  // what the child wrote through the shared descriptor
    std::rewind(file);
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    if (std::ferror(file)) throw SystemError("read");
    return text;
  }
  std::FILE* file;
};

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(env, [&](const std::string& v) {
      return v.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  return env;
}

std::vector<char*> PointerList(std::vector<std::string>& texts) {
  std::vector<char*> list;
  for (std::string& t : texts) list.push_back(t.data());
  list.push_back(nullptr);
  return list;
}

// The generator states its date texts on a UTC+8 clock, so every test program runs in
// that zone whatever the machine's (and so do the programs it starts); tests of
// other zones say so with a ScopedTimeZone.
[[maybe_unused]] const bool kTestZoneSet = [] {
  ::setenv("TZ", kTestTimeZone, 1);
  ::tzset();
  return true;
}();

}  // namespace

std::string TestZoneDateText(std::int64_t unixSeconds) {
  const auto t = static_cast<std::time_t>(unixSeconds + 8 * 3600);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  if (const char* old = std::getenv("TZ")) previous_ = old;
  ::setenv("TZ", tz, 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  previous_ ? ::setenv("TZ", previous_->c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/quarry-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw SystemError("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::Join(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::string_view input,
                         const std::vector<std::string>& environment) {
  if (argv.empty()) throw std::runtime_error("RunCommand: empty argument list");
  ScratchFile in, out, err;
  if (!input.empty() && std::fwrite(input.data(), 1, input.size(), in.file) != input.size()) {
    throw SystemError("writing standard input");
  }
  std::fflush(in.file);
  if (::lseek(in.Fd(), 0, SEEK_SET) != 0) throw SystemError("lseek");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.Fd(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.Fd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.Fd(), STDERR_FILENO);

  std::vector<std::string> args = argv;
  std::vector<std::string> env = ChildEnvironment(environment);
  std::vector<char*> argPointers = PointerList(args);
  std::vector<char*> envPointers = PointerList(env);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr,
                                    argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    errno = spawned;
    throw SystemError("cannot start " + args[0]);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw SystemError("waitpid");
  }
  CommandResult result;
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  result.Out = out.Contents();
  result.Err = err.Contents();
  return result;
}

CommandResult RunSieve(const std::vector<std::string>& args, std::string_view input,
                       const std::vector<std::string>& environment) {
  std::vector<std::string> argv{SIEVE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, input, environment);
}

GeneratedBackup MakeBackup(const TempDir& parent, const std::string& name,
                           const std::vector<std::string>& args) {
  GeneratedBackup backup{parent.Join(name), parent.Join(name + ".truth.json")};
  std::vector<std::string> argv{PYTHON3_EXECUTABLE, MKBACKUP_SCRIPT, backup.Folder, "--truth",
                                backup.TruthPath};
  argv.insert(argv.end(), args.begin(), args.end());
  const CommandResult run = RunCommand(argv);
  if (run.ExitCode != 0) {
    throw std::runtime_error("mkbackup failed (exit " + std::to_string(run.ExitCode) +
                             "): " + run.Err);
  }
  return backup;
}

std::vector<std::pair<std::string, std::string>> DamagedCopies(const std::string& good, std::size_t scribbleFrom,
                                                               std::size_t step) {
  std::vector<std::pair<std::string, std::string>> cases = {{"empty", ""}, {"half", good.substr(0, good.size() / 2)}};
  if (good.size() < 100) return cases;
  std::string zeroPage = good;
  zeroPage[16] = zeroPage[17] = 0;
  cases.emplace_back("page size 0", zeroPage);
  std::string lying = good;
  lying[28] = '\x7f';
  cases.emplace_back("lying page count", lying);
  std::string scribbled = good;
  for (std::size_t i = scribbleFrom; i < scribbled.size(); i += step) scribbled[i] = static_cast<char>(i * 131);
  cases.emplace_back("scribbled", scribbled);
  return cases;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string WritePasswordFile(const TempDir& dir, std::string_view password,
                              const std::string& name) {
  const std::string path = dir.Join(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw SystemError("cannot create " + path);
  const std::string line = std::string(password) + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (!written) throw SystemError("cannot write " + path);
  return path;
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::vector<std::string> ListFilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_symlink() || !entry.is_directory()) {
      found.push_back(fs::relative(entry.path(), folder).generic_string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// ---- JSON ----

const JsonValue* JsonValue::Find(std::string_view key) const {
  if (Type != Kind::Object) return nullptr;
  for (std::size_t i = 0; i < Keys.size(); ++i) {
    if (Keys[i] == key) return &Items[i];
  }
  return nullptr;
}

const JsonValue& JsonValue::operator[](std::string_view key) const {
  const JsonValue* value = Find(key);
  if (value == nullptr) throw std::runtime_error("JSON member missing: " + std::string(key));
  return *value;
}

std::string JsonValue::Text(std::string_view key) const {
  const JsonValue* value = Find(key);
  return value != nullptr && value->Type == Kind::String ? value->String : std::string();
}

std::int64_t JsonValue::Int(std::string_view key, std::int64_t fallback) const {
  const JsonValue* value = Find(key);
  return value != nullptr && value->Type == Kind::Number
             ? static_cast<std::int64_t>(value->Number)
             : fallback;
}

namespace {

// A strict reader: the command line's output must be JSON that any reader takes, so raw
// control characters, lone surrogates, bad escapes and text after the value are errors.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  JsonValue Document() {
    JsonValue value = Value(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON error at byte " + std::to_string(pos_) + ": " + what);
  }
  void SkipSpace() {
    while (pos_ < text_.size() && std::string_view(" \t\n\r").find(text_[pos_]) != std::string_view::npos) ++pos_;
  }
  bool Take(char c) {
    SkipSpace();
    return pos_ < text_.size() && text_[pos_] == c && ++pos_;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool TakeWord(std::string_view word) {
    return text_.substr(pos_, word.size()) == word && (pos_ += word.size());
  }

  JsonValue Value(int depth) {
    if (depth > 64) Fail("nested too deeply");
    SkipSpace();
    if (pos_ >= text_.size()) Fail("unexpected end");
    JsonValue v;
    const char c = text_[pos_];
    if (c == '{' || c == '[') {
      ++pos_;
      const bool object = c == '{';
      v.Type = object ? JsonValue::Kind::Object : JsonValue::Kind::Array;
      if (Take(object ? '}' : ']')) return v;
      do {
        if (object) {
          SkipSpace();
          v.Keys.push_back(String());
          Expect(':');
        }
        v.Items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(object ? '}' : ']');
    } else if (c == '"') {
      v.Type = JsonValue::Kind::String;
      v.String = String();
    } else if (TakeWord("true") || TakeWord("false")) {
      v.Type = JsonValue::Kind::Bool;
      v.Bool = c == 't';
    } else if (!TakeWord("null")) {
      v.Type = JsonValue::Kind::Number;
      v.Number = Number();
    }
    return v;
  }

  bool Digits() {
    const std::size_t from = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    return pos_ > from;
  }
  double Number() {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    if (!Digits()) Fail("bad number");
    if (pos_ < text_.size() && text_[pos_] == '.' && (++pos_, !Digits())) Fail("bad fraction");
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!Digits()) Fail("bad exponent");
    }
    return std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
  }

  unsigned Hex4() {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text_.data() + pos_, text_.data() + std::min(pos_ + 4, text_.size()), value, 16);
    if (error != std::errc() || end != text_.data() + pos_ + 4) Fail("bad \\u escape");
    pos_ += 4;
    return value;
  }

  std::string String() {
    if (pos_ >= text_.size() || text_[pos_] != '"') Fail("expected a string");
    ++pos_;
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) Fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      static const std::string_view kEscapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
      const char e = pos_ < text_.size() ? text_[pos_++] : '\0';
      const std::size_t simple = kEscapes.find(e);
      if (e != 'u' && (simple == std::string_view::npos || simple % 2 != 0)) Fail("unknown escape");
      if (e != 'u') {
        out += kEscapes[simple + 1];
        continue;
      }
      unsigned cp = Hex4();
      if (cp >= 0xDC00 && cp < 0xE000) Fail("lone low surrogate");
      if (cp >= 0xD800 && cp < 0xDC00) {
        if (!TakeWord("\\u")) Fail("lone high surrogate");
        const unsigned low = Hex4();
        if (low < 0xDC00 || low >= 0xE000) Fail("bad low surrogate");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      // UTF-8: the lead byte's marker and the top bits, then six bits in each byte that follows.
      const int more = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
      out += static_cast<char>(more == 0 ? cp : ((0xFFu << (7 - more)) & 0xFF) | (cp >> (6 * more)));
      for (int i = more - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::string> Texts(const JsonValue& list) {
  std::vector<std::string> texts;
  for (const JsonValue& item : list.Items) texts.push_back(item.String);
  return texts;
}

JsonValue ParseJson(std::string_view text) { return JsonParser(text).Document(); }

std::vector<JsonValue> ParseJsonLines(std::string_view text) {
  std::vector<JsonValue> values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
      values.push_back(ParseJson(line));
    }
    start = end + 1;
  }
  return values;
}

std::vector<TruthFile> ReadTruthFiles(const std::string& truthPath) {
  const JsonValue truth = ParseJson(ReadFile(truthPath));
  std::vector<TruthFile> files;
  for (const JsonValue& f : truth["files"].Items) {
    TruthFile t;
    t.Domain = f.Text("domain");
    t.Path = f.Text("path");
    t.Kind = f.Text("kind");
    t.StoredName = f.Text("stored_name");
    t.StoredPath = f.Text("stored_path");
    if (t.StoredPath.empty()) t.StoredPath = t.StoredName;
    t.Sha256 = f.Text("sha256");
    t.ModeOctal = f.Text("mode_octal");
    t.LinkTarget = f.Text("link_target");
    t.Size = static_cast<std::uint64_t>(f.Int("size"));
    t.ModifiedTime = static_cast<std::uint32_t>(f.Int("mtime"));
    t.ProtectionClass = static_cast<int>(f.Int("protection_class"));
    const JsonValue* encrypted = f.Find("encrypted");
    t.Encrypted = encrypted != nullptr && encrypted->Bool;
    files.push_back(std::move(t));
  }
  return files;
}

std::vector<std::uint8_t> ToBinaryPlist(plist_t node) {
  char* data = nullptr;
  std::uint32_t size = 0;
  plist_to_bin(node, &data, &size);
  std::vector<std::uint8_t> out(data, data + size);
  std::free(data);
  plist_free(node);
  return out;
}

std::string LayoutBackup::Stored(const std::string& devicePath) const {
  const auto found = StoredByPath.find(devicePath);
  return found == StoredByPath.end() ? std::string() : found->second;
}

const LayoutBackup& SmallBackup(const std::string& productVersion, const std::string& seed,
                                const std::vector<std::string>& extra) {
  // Removed with everything in it when the program ends.
  static TempDir folder;
  static std::map<std::string, std::unique_ptr<LayoutBackup>> made;
  std::string name = "small-" + productVersion + "-" + seed;
  for (const std::string& option : extra) name += option;
  std::unique_ptr<LayoutBackup>& entry = made[name];
  if (entry == nullptr) {
    auto backup = std::make_unique<LayoutBackup>();
    std::vector<std::string> args = {"--profile", "small", "--seed", seed, "--product-version", productVersion};
    args.insert(args.end(), extra.begin(), extra.end());
    backup->Backup = MakeBackup(folder, name, args);
    backup->Truth = ParseJson(ReadFile(backup->Backup.TruthPath));
    for (const TruthFile& f : ReadTruthFiles(backup->Backup.TruthPath)) {
      if (!f.StoredName.empty()) backup->StoredByPath[f.Path] = backup->Backup.Folder + "/" + f.StoredPath;
    }
    entry = std::move(backup);
  }
  return *entry;
}

}  // namespace sieve::test
