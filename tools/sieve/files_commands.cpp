// `files` and `extract`: the file index of a backup and one file out of it.
#include <unistd.h>

#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/file_output.h"
#include "tools/sieve/json_writer.h"
#include "tools/sieve/options.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

// Rows whose widths fix the columns of the table before the rest are printed as they come.
constexpr std::size_t kWidthSample = 500;

bool IsLink(const BackupFileEntry& e) { return (e.Mode & 0xF000) == 0xA000; }

void WriteEntry(JsonWriter& json, const BackupFileEntry& e) {
  json.BeginObject()
      .Field("domain", e.Domain)
      .Field("path", e.Path)
      .Field("stored_name", e.StoredName)
      .Field("stored_path", e.StoredPath)
      .Field("link_target", e.LinkTarget)
      .Field("size", e.Size)
      .Field("mode", static_cast<std::uint32_t>(e.Mode))
      .Field("mode_octal", OctalMode(e.Mode))
      .Field("modified_date", IsoDateOf(e.ModifiedTime))
      .Field("protection_class", static_cast<std::int32_t>(e.ProtectionClass))
      .Field("category", e.Category)
      .Field("is_directory", e.IsDirectory)
      .Field("has_key", e.HasKey)
      .EndObject();
}

std::string StoredNameCell(const BackupFileEntry& e) {
  if (e.IsDirectory || IsLink(e)) return "";
  return e.StoredPath.empty() ? e.StoredName + " (missing)" : e.StoredName;
}

}  // namespace

int RunFiles(const Arguments& args) {
  const Options options(args, {"--json", kPasswordStdinOption}, {kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(1, kFilesUsage);
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  // Only the newer index is encrypted; the old one lists without a password.
  if (reader.IndexNeedsPassword(index)) Unlock(reader, index, password);

  // Each entry is written as the index is read, so that memory stays flat however long it is.
  const bool json = options.Has("--json");
  JsonWriter entry;
  std::size_t count = 0;
  TextTable table({"Domain", "Path", "Stored name", "Size", "Mode", "Category", "Class"});
  table.AlignRight(3);
  table.AlignRight(6);
  std::fflush(stdout);
  table.PrintAsAdded(stdout, kWidthSample);
  Detail("reading the file index");
  const int read = reader.ForEachFile(index, [&](const BackupFileEntry& e) {
    if (json) {
      entry.Clear();
      WriteEntry(entry, e);
      std::fputs(count == 0 ? "[" : ",", stdout);
      std::fwrite(entry.Text().data(), 1, entry.Text().size(), stdout);
    } else {
      table.AddRow({e.Domain, IsLink(e) ? e.Path + " -> " + e.LinkTarget : e.Path, StoredNameCell(e),
                    std::to_string(e.Size), OctalMode(e.Mode), e.Category, std::to_string(e.ProtectionClass)});
    }
    ++count;
    return true;
  });
  if (read == 1 || count > 0) {
    if (json) std::fputs(count == 0 ? "[]\n" : "]\n", stdout);
    if (!json) table.Print(stdout);
  }
  Detail("listed " + std::to_string(count) + " entries");
  PrintWarnings(reader, index);
  if (read < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (read != 1) throw ReaderFailure(reader, index, "cannot read the file index");
  // A damaged index still lists what came before the damage; the failure comes last.
  if (reader.LastError(index) != ReaderError::None) {
    throw ReaderFailure(reader, index, "the file index is damaged");
  }
  return kExitOk;
}

int RunExtract(const Arguments& args) {
  const Options options(args, {"--force", kPasswordStdinOption},
                        {"-o", "--output", kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(3, kExtractUsage);
  const auto target = options.Value("-o") ? options.Value("-o") : options.Value("--output");
  if (!target || target->empty()) {
    throw UsageError("extract needs -o FILE; usage: " + std::string(kExtractUsage));
  }
  const bool toStandardOutput = *target == "-";
  // Raw file content can hold anything, escape sequences included: a terminal does not get it unasked.
  if (toStandardOutput && ::isatty(STDOUT_FILENO) == 1) {
    throw UsageError("standard output is a terminal; redirect it, or give -o FILE");
  }
  if (toStandardOutput && options.Has("--force")) throw UsageError("--force is for -o FILE");
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  Unlock(reader, index, password);

  const std::string& domain = options.Positional()[1];
  const std::string& path = options.Positional()[2];
  Detail("extracting " + Printable(domain + "/" + path));
  const ExtractOutcome outcome = toStandardOutput
                                     ? ExtractToStandardOutput(reader, index, domain, path)
                                     : ExtractInto(reader, index, domain, path, *target, options.Has("--force"));
  Detail(outcome.result == 1 ? "extracted" : "not extracted");
  PrintWarnings(reader, index);
  if (!outcome.note.empty()) Warn(Printable(outcome.note));
  if (outcome.result < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (outcome.result == 0) {
    if (!outcome.error.empty()) throw CommandError(kExitFailure, outcome.error);
    throw ReaderFailure(reader, index, "cannot extract " + Printable(domain + "/" + path));
  }
  return kExitOk;
}

}  // namespace sieve::cli
