// Helpers shared by every test folder: private temporary folders, running
// programs without a shell, generating sample backups with tools/mkbackup,
// small file utilities and a minimal JSON reader for the generator's truth
// files and the command line's JSON output.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sieve::test {

// A fresh folder (mode 0700, made by mkdtemp) removed with everything in it
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name; nothing is created.
  std::string Join(std::string_view name) const;

 private:
  std::string path_;
};

// The zone the test programs run in: UTC+8 all year, the clock of the generator's dates.
inline constexpr char kTestTimeZone[] = "<+08>-8";

// Seconds since 1970 as the records show them in kTestTimeZone, worked out apart from the
// library: "YYYY-MM-DD hh:mm:ss".
std::string TestZoneDateText(std::int64_t unixSeconds);

// Sets TZ (and tzset) for a test's lifetime, then puts back what was there.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

struct CommandResult {
  int ExitCode = -1;     // the exit status, or -1 when the program did not exit normally
  int Signal = 0;        // the signal that ended it, or 0
  std::string Out;
  std::string Err;
};

// Runs argv[0] (a path, not searched in PATH) with the given arguments; no
// shell is involved. `input` becomes its standard input; each "NAME=value" of
// `environment` is set (or replaced) in the child's environment and each
// "NAME" without "=" is removed from it.
CommandResult RunCommand(const std::vector<std::string>& argv, std::string_view input = {},
                         const std::vector<std::string>& environment = {});

// Runs the built `sieve` command line with these arguments.
CommandResult RunSieve(const std::vector<std::string>& args, std::string_view input = {},
                       const std::vector<std::string>& environment = {});

struct GeneratedBackup {
  std::string Folder;     // the backup folder
  std::string TruthPath;  // the generator's JSON ground truth
};

// Runs tools/mkbackup into parent.Join(name) with `args` (for example
// {"--profile", "small", "--seed", "3"}); throws std::runtime_error with the
// generator's error text when it fails.
GeneratedBackup MakeBackup(const TempDir& parent, const std::string& name,
                           const std::vector<std::string>& args);

// Whole file as bytes; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);
// Creates or replaces the file; throws std::runtime_error on failure.
void WriteFile(const std::string& path, std::string_view data);
// Damaged copies of a good SQLite file, named: empty, half of it, page size 0,
// a lying page count, and every `step`-th byte from `scribbleFrom` on scribbled.
std::vector<std::pair<std::string, std::string>> DamagedCopies(const std::string& good, std::size_t scribbleFrom,
                                                               std::size_t step);
// Writes password + "\n" to dir.Join(name) with mode 0600; returns the path.
std::string WritePasswordFile(const TempDir& dir, std::string_view password,
                              const std::string& name = "password");
// Lower-case hexadecimal SHA-256 of the bytes.
std::string Sha256Hex(std::string_view data);
// `size` bytes that depend only on `seed` (keys, salts and contents the crypto tests make up).
std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed);

// The binary property list of a libplist node, which it frees (tests build archives this way).
std::vector<std::uint8_t> ToBinaryPlist(plist_t node);
// Every entry below `folder` that is not a directory (symbolic links are
// listed, not followed), as paths relative to it, sorted.
std::vector<std::string> ListFilesBelow(const std::string& folder);

// A parsed JSON value. Objects keep their members in document order.
struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind Type = Kind::Null;
  bool Bool = false;
  double Number = 0;
  std::string String;
  std::vector<std::string> Keys;    // object member names, parallel to Items
  std::vector<JsonValue> Items;     // array elements or object member values

  bool IsNull() const { return Type == Kind::Null; }
  // The member `key` of an object, or nullptr (also for a non-object).
  const JsonValue* Find(std::string_view key) const;
  // The member `key`; throws std::runtime_error when it is missing.
  const JsonValue& operator[](std::string_view key) const;
  // Text of a string member, "" when missing or not a string.
  std::string Text(std::string_view key) const;
  // Number member as an integer, `fallback` when missing or not a number.
  std::int64_t Int(std::string_view key, std::int64_t fallback = 0) const;
};

// The strings of an array, in order ("" for an element that is not one).
std::vector<std::string> Texts(const JsonValue& list);

// Parses one JSON text (surrounding white space allowed); throws
// std::runtime_error naming the byte offset of the first error.
JsonValue ParseJson(std::string_view text);
// Parses JSON Lines: one value per non-empty line.
std::vector<JsonValue> ParseJsonLines(std::string_view text);

// One entry of the generator's truth file.
struct TruthFile {
  std::string Domain;
  std::string Path;
  std::string Kind;         // "file", "dir" or "symlink"
  std::string StoredName;   // "" for entries without a stored file
  std::string StoredPath;   // StoredName inside the backup folder (two-digit folders in the newer index)
  std::string Sha256;       // "" for entries without content
  std::string ModeOctal;
  std::string LinkTarget;
  std::uint64_t Size = 0;
  std::uint32_t ModifiedTime = 0;
  int ProtectionClass = 0;
  bool Encrypted = false;
};

// The "files" list of a truth file.
std::vector<TruthFile> ReadTruthFiles(const std::string& truthPath);

// A backup of the small profile for one system version and seed, with its truth and its
// stored files by device path. Each is generated the first time a test asks for it and
// shared by the whole test program after that: the extractor tests read the same few
// layouts again and again.
struct LayoutBackup {
  GeneratedBackup Backup;
  JsonValue Truth;
  std::map<std::string, std::string> StoredByPath;  // device path -> stored file

  // The truth's databases/<name>.
  const JsonValue& Database(std::string_view name) const { return Truth["databases"][name]; }
  // The stored file of a device path, "" when the backup has none.
  std::string Stored(const std::string& devicePath) const;
};
// `extra`: further generator options (for example {"--wal-history"}, or {"--manifest-db"} for
// the newer backup index: Manifest.db and two-digit folders).
const LayoutBackup& SmallBackup(const std::string& productVersion, const std::string& seed = "11",
                                const std::vector<std::string>& extra = {});

}  // namespace sieve::test
